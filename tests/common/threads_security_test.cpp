#include <gtest/gtest.h>

#include <aclapi.h>

#include <atomic>

#include "shared_security.h"
#include "worker_thread.h"

namespace {

using vd::SharedObjectSecurity;
using vd::WorkerThread;

TEST(SharedObjectSecurity, Win9xDetectionMatchesOnlyThe9xFamily) {
  struct Row {
    DWORD platform, major, minor;
    bool win9x;
  } rows[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, true},  {VER_PLATFORM_WIN32_WINDOWS, 4, 10, true},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, true}, {VER_PLATFORM_WIN32_WINDOWS, 4, 20, false},
      {VER_PLATFORM_WIN32_NT, 4, 0, false},      {VER_PLATFORM_WIN32_NT, 6, 1, false},
  };
  for (const Row& r : rows) {
    OSVERSIONINFOW v{};
    v.dwPlatformId = r.platform;
    v.dwMajorVersion = r.major;
    v.dwMinorVersion = r.minor;
    EXPECT_EQ(SharedObjectSecurity::IsWin9xPlatform(v), r.win9x) << r.platform << " " << r.major << "." << r.minor;
  }
}

TEST(SharedObjectSecurity, NamedMutexGetsANullDaclAndTheLowLabel) {
  SECURITY_ATTRIBUTES* sa = SharedObjectSecurity::Instance().Attributes();
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(sa->bInheritHandle);
  EXPECT_TRUE(SharedObjectSecurity::Instance().HasLowIntegrityLabel());

  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(::GetSecurityDescriptorDacl(sa->lpSecurityDescriptor, &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(dacl, nullptr);
  PACL sacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorSacl(sa->lpSecurityDescriptor, &present, &sacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(sacl, nullptr);
  ASSERT_EQ(sacl->AceCount, 1);
  ACE_HEADER* ace = nullptr;
  ASSERT_TRUE(::GetAce(sacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
  EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
  PSID sid = &label->SidStart;
  EXPECT_EQ(*::GetSidSubAuthority(sid, 0), static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));

  HANDLE m = ::CreateMutexW(sa, FALSE, L"Local\\vardeck-test-shared-mutex");
  ASSERT_NE(m, nullptr);
  // Another opener (here: this process again) gets full access by name.
  HANDLE again = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"Local\\vardeck-test-shared-mutex");
  EXPECT_NE(again, nullptr);
  if (again) ::CloseHandle(again);
  ::CloseHandle(m);
}

struct Counters {
  std::atomic<int> loops{0};
  std::atomic<bool> ignoreStop{false};
  std::atomic<bool> callbackEnds{true};
  std::atomic<bool> callbackCalled{false};
};

unsigned __stdcall PollingRoutine(void* arg) {
  WorkerThread* self = WorkerThread::FromArg(arg);
  auto* c = static_cast<Counters*>(self->UserData());
  self->Begin();
  while (c->ignoreStop || !self->StopRequested()) {
    ++c->loops;
    ::Sleep(5);
  }
  return self->End(7);
}

TEST(WorkerThread, StopEndsAPollingRoutineAndKeepsItsExitCode) {
  Counters c;
  WorkerThread t;
  ASSERT_EQ(t.Start(PollingRoutine, nullptr, &c), 0);
  while (!t.IsRunning()) ::Sleep(1);
  EXPECT_NE(t.ThreadId(), 0u);
  t.Stop(5000);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(t.ExitCode(), 7);
  EXPECT_GT(c.loops.load(), 0);
}

TEST(WorkerThread, RoutineIgnoringStopIsKilledAfterTheTimeOut) {
  Counters c;
  c.ignoreStop = true;
  WorkerThread t;
  ASSERT_EQ(t.Start(PollingRoutine, nullptr, &c), 0);
  while (!t.IsRunning()) ::Sleep(1);
  DWORD before = ::GetTickCount();
  t.Stop(300);
  DWORD waited = ::GetTickCount() - before;
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(t.ThreadId(), 0u);
  EXPECT_GE(waited, 250u);
  int loops = c.loops.load();
  ::Sleep(100);
  EXPECT_EQ(c.loops.load(), loops) << "the killed thread still runs";
}

bool StopCallback(void* data) {
  auto* c = static_cast<Counters*>(data);
  c->callbackCalled = true;
  if (c->callbackEnds) c->ignoreStop = false;
  return c->callbackEnds;
}

TEST(WorkerThread, StopCallbackDecidesBetweenTrustAndKill) {
  for (bool ends : {true, false}) {
    Counters c;
    c.ignoreStop = true;
    c.callbackEnds = ends;
    WorkerThread t;
    ASSERT_EQ(t.Start(PollingRoutine, StopCallback, &c), 0);
    while (!t.IsRunning()) ::Sleep(1);
    t.Stop(INFINITE);
    EXPECT_TRUE(c.callbackCalled);
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(t.ThreadId() == 0, !ends) << "killed threads lose their id";
  }
}

TEST(WorkerThread, StoppingOrKillingAThreadNeverStartedDoesNothing) {
  WorkerThread t;
  t.Stop(100);
  t.Kill();
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(t.ExitCode(), -1);
}

unsigned __stdcall NeverBegins(void*) { return 0; }

TEST(WorkerThread, RoutineThatReturnsBeforeBeginNeverReportsRunning) {
  WorkerThread t;
  ASSERT_EQ(t.Start(NeverBegins, nullptr, nullptr), 0);
  ::Sleep(50);
  EXPECT_FALSE(t.IsRunning());
  t.Stop(100);  // returns at once: nothing runs
}

}  // namespace
