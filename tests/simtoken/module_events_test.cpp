// Events between processes: whoever raises an event, every process that has the module initialised gets
// it once, in order, through the vendor's blocking event entry.
#include "module_fixture.h"

#include <future>

namespace simtest {
namespace {

struct Received {
  CK_RV rv = CKR_GENERAL_ERROR;
  CK_SLOT_ID slot = 0;
  CK_ULONG code = 0;
  CK_ULONG data = 0;
};

class EventTest : public ModuleTest {
 protected:
  // Waits in the entry on a thread of its own, as the tray program's monitor does. The fixture keeps a
  // copy, so a failed test still finalises (which wakes the thread) before the thread is joined.
  std::shared_future<Received> WaitAsync() {
    std::shared_future<Received> f = std::async(std::launch::async, [this] {
      Received r;
      r.rv = m.aux->waitForEvent(0, &r.slot, &r.code, &r.data, nullptr);
      return r;
    }).share();
    waiters_.push_back(f);
    return f;
  }
  Received Next(CK_FLAGS flags = 0) {
    Received r;
    r.rv = m.aux->waitForEvent(flags, &r.slot, &r.code, &r.data, nullptr);
    return r;
  }

 private:
  std::vector<std::shared_future<Received>> waiters_;
};

TEST_F(EventTest, WaiterWakesForEventsRaisedByTokenctl) {
  std::shared_future<Received> pending = WaitAsync();
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "returned without event";
  Ctl(L"insert 6");
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  Received r = pending.get();
  EXPECT_EQ(r.rv, CKR_OK);
  EXPECT_EQ(r.slot, 6u);
  EXPECT_EQ(r.code, static_cast<CK_ULONG>(TOKEN_EVT_INSERTED));
  EXPECT_EQ(r.data, 0u);
}

TEST_F(EventTest, EachLaterEventExactlyOnceAndInOrder) {
  Ctl(L"insert 1");
  Ctl(L"event 1 256");
  // Only events raised after this process's C_Initialize count; re-initialising starts afresh.
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(Next(CKF_DONT_BLOCK).rv, CKR_NO_EVENT);

  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 1 " + CertArg(L"sign.der")));
  ASSERT_EQ(h.size(), 2u);
  Ctl(L"event 1 259 2");
  Ctl(L"set 1 --label Renamed");
  Ctl(L"delete 1 " + std::to_wstring(h[1]));
  Ctl(L"remove 1");
  struct Expect {
    CK_ULONG code;
    CK_ULONG data;
  } expected[] = {{TOKEN_EVT_OBJECT_CREATED, h[0]},
                  {TOKEN_EVT_SAVING, 2},
                  {TOKEN_EVT_LABEL_CHANGED, 0},
                  {TOKEN_EVT_OBJECT_DESTROYED, h[1]},
                  {TOKEN_EVT_REMOVED, 0}};
  for (const Expect& e : expected) {
    Received r = Next();
    ASSERT_EQ(r.rv, CKR_OK);
    EXPECT_EQ(r.slot, 1u);
    EXPECT_EQ(r.code, e.code);
    EXPECT_EQ(r.data, e.data);
  }
  EXPECT_EQ(Next(CKF_DONT_BLOCK).rv, CKR_NO_EVENT);
}

TEST_F(EventTest, FinalizeWakesAPendingWaiterAndLaterCallsFail) {
  std::shared_future<Received> pending = WaitAsync();
  EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(pending.get().rv, CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(Next().rv, CKR_CRYPTOKI_NOT_INITIALIZED);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);  // for TearDown
}

TEST_F(EventTest, EventsOfTheModuleItselfReachAnotherProcess) {
  Ctl(L"insert 2");
  // A second process waits in the same entry; it prints a line once it is ready.
  // It gives up by itself after 30 s, so a failed assertion below never leaves it behind.
  std::future<vdtest::ProcessResult> watcher = std::async(
      std::launch::async, [] { return vdtest::RunTool(L"tokenctl.exe", L"watch --count 2 --timeout 30"); });
  // Wait until the watcher is registered: its registration is a file in the state folder.
  bool registered = false;
  for (int i = 0; i < 200 && !registered; ++i) {
    WIN32_FIND_DATAW fd;
    HANDLE f = ::FindFirstFileW((dir.path() + L"\\waiters\\w*").c_str(), &fd);
    int n = 0;
    if (f != INVALID_HANDLE_VALUE) {
      do ++n;
      while (::FindNextFileW(f, &fd));
      ::FindClose(f);
    }
    registered = n >= 2;  // ours and the watcher's
    if (!registered) ::Sleep(50);
  }
  ASSERT_TRUE(registered);
  CK_UTF8CHAR label[32];
  std::fill(std::begin(label), std::end(label), ' ');
  ASSERT_EQ(m.aux->setLabel(2, 0, 0, 0, label), CKR_OK);
  Ctl(L"remove 2");
  vdtest::ProcessResult r = watcher.get();
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_NE(r.out.find("event slot=2 code=8 data=0\nevent slot=2 code=2 data=0"), std::string::npos) << r.out;
}

TEST_F(EventTest, RegistrationsOfDeadProcessesAreDropped) {
  std::wstring stale = dir.path() + L"\\waiters\\w99999-1";
  ASSERT_TRUE(vdtest::WriteFileBytes(stale, "", 0));
  Ctl(L"event 3 257");
  EXPECT_EQ(::GetFileAttributesW(stale.c_str()), INVALID_FILE_ATTRIBUTES);
  Received r = Next(CKF_DONT_BLOCK);
  EXPECT_EQ(r.rv, CKR_OK);
  EXPECT_EQ(r.code, static_cast<CK_ULONG>(TOKEN_EVT_IDLE));
  // Finalising removes this process's own registration.
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
  WIN32_FIND_DATAW fd;
  HANDLE f = ::FindFirstFileW((dir.path() + L"\\waiters\\w*").c_str(), &fd);
  EXPECT_EQ(f, INVALID_HANDLE_VALUE);
  if (f != INVALID_HANDLE_VALUE) ::FindClose(f);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
}

TEST_F(EventTest, AnotherCopyOfTheModuleInTheProcessLeavesThisRegistrationAlone) {
  LoadedModule copy(L"simtoken_noaux.dll");
  ASSERT_TRUE(copy.f);
  ASSERT_EQ(copy.f->C_Initialize(nullptr), CKR_OK);
  ASSERT_EQ(copy.f->C_Finalize(nullptr), CKR_OK);
  std::shared_future<Received> pending = WaitAsync();
  Ctl(L"event 2 257");
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "this copy was not woken";
  EXPECT_EQ(pending.get().code, static_cast<CK_ULONG>(TOKEN_EVT_IDLE));
}

TEST_F(EventTest, BadPointers) {
  CK_SLOT_ID slot;
  CK_ULONG code, data;
  EXPECT_EQ(m.aux->waitForEvent(0, nullptr, &code, &data, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.aux->waitForEvent(0, &slot, nullptr, &data, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m.aux->waitForEvent(0, &slot, &code, nullptr, nullptr), CKR_ARGUMENTS_BAD);
}

}  // namespace
}  // namespace simtest
