// vardeck.exe started as a process: single instance, switches, and token insertion and removal seen in the
// user's stores from this (another) process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cert_manager_app.h"
#include "main_ids.h"
#include "screenshot.h"
#include "testsupport.h"
#include "text.h"
#include "vardeck_process.h"

namespace {

using vdtest::VardeckProcess;

class VardeckE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    // A program left over by an earlier run would answer for the instance under test.
    vdtest::RequestTermination();
    ::Sleep(500);
  }
};

TEST_F(VardeckE2E, InvalidCommandLinesEndAtOnceWithoutAWindow) {
  for (const wchar_t* args : {L"-i -u", L"-r -t", L"-x", L"/s", L"-S", L"-s -s -t -r"}) {
    VardeckProcess p(args);
    ASSERT_TRUE(p.Started());
    DWORD code = 1;
    EXPECT_TRUE(p.WaitExit(5000, &code)) << args;
    EXPECT_EQ(code, 0u) << args;
    EXPECT_EQ(vdtest::FindProcessWindow(p.Pid(), nullptr), nullptr) << args;
  }
}

TEST_F(VardeckE2E, TerminateWithoutARunningInstanceEndsAtOnce) {
  VardeckProcess p(L"-t");
  DWORD before = ::GetTickCount();
  EXPECT_TRUE(p.WaitExit(5000));
  EXPECT_LT(::GetTickCount() - before, 3000u);
}

TEST_F(VardeckE2E, SecondStartShowsTheFirstAndEndsThenTerminateEndsTheFirst) {
  vdtest::ScopedSimTokenDir sim;
  VardeckProcess first(L"");
  HWND window = first.WaitMainWindow(15000);
  ASSERT_NE(window, nullptr);
  ::Sleep(2500);  // past the initialisation's pause
  EXPECT_FALSE(::IsWindowVisible(window)) << "no token: nothing is shown";

  // "-s" on a second start only shows the running instance.
  VardeckProcess second(L"-s");
  EXPECT_TRUE(second.WaitExit(5000));
  DWORD end = ::GetTickCount() + 3000;
  while (!::IsWindowVisible(window) && static_cast<int>(end - ::GetTickCount()) > 0) ::Sleep(50);
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_TRUE(first.Running());
  vdtest::SaveScreenPng(L"vardeck_second_start.png");

  VardeckProcess stop(L"-t");
  EXPECT_TRUE(stop.WaitExit(5000));
  EXPECT_TRUE(first.WaitExit(10000)) << "-t ends the running instance";
}

TEST_F(VardeckE2E, QuotedEmptyArgumentIsIgnored) {
  vdtest::ScopedSimTokenDir sim;
  VardeckProcess p(L"\"\" \" \"");
  EXPECT_NE(p.WaitMainWindow(15000), nullptr);
  EXPECT_TRUE(p.Running());
}

TEST_F(VardeckE2E, InsertionRegistersTheCertificatesAndRemovalTakesThemFromMy) {
  vdtest::ScopedSimTokenDir sim;
  std::wstring sign = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
  std::wstring root = vdtest::Sha1OfFile(vdtest::TestCert(L"root.der"));
  ASSERT_FALSE(sign.empty());
  // The token is prepared, then pulled out before the program starts.
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 1"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\""));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"add-cert 1 \"" + vdtest::TestCert(L"root.der") + L"\" --key none"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"remove 1"));
  ASSERT_TRUE(vdtest::WaitStore(L"MY", sign, false, 100));

  VardeckProcess p(L"");
  ASSERT_NE(p.WaitMainWindow(15000), nullptr);
  ::Sleep(2500);
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 1"));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, true, 10000));
  EXPECT_TRUE(vdtest::WaitStore(L"ROOT", root, true, 2000));
  ::Sleep(500);
  vdtest::SaveScreenPng(L"vardeck_inserted_tray_balloon.png");
  VardeckProcess(L"").WaitExit(5000);  // shows the running instance's window, now with the token's tree
  ::Sleep(1000);
  vdtest::SaveScreenPng(L"vardeck_main_window_with_token.png");

  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"remove 1"));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, false, 10000));
  EXPECT_TRUE(vdtest::StoreHas(L"ROOT", root)) << "only MY entries leave with the token";

  // And back again: the same token registers again.
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 1"));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, true, 10000));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"remove 1"));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, false, 10000));
}

TEST_F(VardeckE2E, KilledWhileATokenIsRegisteredLeavesNoStaleEntryAfterTheNextStart) {
  vdtest::ScopedSimTokenDir sim;
  std::wstring sign = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 1"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\""));
  {
    VardeckProcess p(L"");
    ASSERT_NE(p.WaitMainWindow(15000), nullptr);
    ASSERT_TRUE(vdtest::WaitStore(L"MY", sign, true, 10000)) << "a token present at start is registered";
    p.Kill();
  }
  EXPECT_TRUE(vdtest::StoreHas(L"MY", sign)) << "nobody cleaned up after the killed program";
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"remove 1"));
  VardeckProcess again(L"");
  ASSERT_NE(again.WaitMainWindow(15000), nullptr);
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, false, 10000));
}

TEST_F(VardeckE2E, TerminateRemovesTheRegistrationsOfThePresentToken) {
  vdtest::ScopedSimTokenDir sim;
  std::wstring sign = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 2"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"add-cert 2 \"" + vdtest::TestCert(L"sign.der") + L"\""));
  VardeckProcess p(L"");
  ASSERT_TRUE(vdtest::WaitStore(L"MY", sign, true, 15000));
  vdtest::RequestTermination();
  EXPECT_FALSE(vdtest::StoreHas(L"MY", sign)) << "-t returns once the instance has taken its entries out";
  EXPECT_TRUE(p.WaitExit(10000));
}

TEST_F(VardeckE2E, ModuleThatCannotBeLoadedIsReportedAndTheProgramStaysHidden) {
  // The program alone in a folder: its module is not beside it.
  vdtest::TempDir dir(L"vdnomodule");
  std::wstring exe = dir.path() + L"\\vardeck.exe";
  ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + L"vardeck.exe").c_str(), exe.c_str(), FALSE));
  {
    VardeckProcess p(L"", exe);
    std::vector<std::wstring> texts;
    DWORD end = ::GetTickCount() + 15000;
    DWORD quietSince = ::GetTickCount();
    // Initialisation and the start timer each report it; answer every box until none comes for a second.
    while (static_cast<int>(end - ::GetTickCount()) > 0 && ::GetTickCount() - quietSince < 1500) {
      HWND box = vdtest::FindProcessWindow(p.Pid(), L"#32770", L"Certificate Manager");
      if (box && ::IsWindowVisible(box)) {
        texts.push_back(vdtest::StaticTexts(box));
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        ::Sleep(300);
        quietSince = ::GetTickCount();
      }
      if (texts.empty()) quietSince = ::GetTickCount();
      ::Sleep(50);
    }
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], L"Failed to load PKCS#11 library, please check your installation");
    EXPECT_TRUE(p.Running());
    HWND window = vdtest::FindProcessWindow(p.Pid(), L"#32770", L"Opalix Certificate Manager");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(::IsWindowVisible(window));
    vdtest::RequestTermination();
    EXPECT_TRUE(p.WaitExit(10000));
  }
}

// A hidden top-level window of the test that hears InstanceMessage broadcasts, as a running instance would.
class InstanceMessageLog {
 public:
  InstanceMessageLog() : message_(::RegisterWindowMessageW(vd::InstanceMessageName().c_str())) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &InstanceMessageLog::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);  // fails harmlessly for the second log of the run
    hwnd_ = ::CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~InstanceMessageLog() { ::DestroyWindow(hwnd_); }
  InstanceMessageLog(const InstanceMessageLog&) = delete;
  InstanceMessageLog& operator=(const InstanceMessageLog&) = delete;

  bool ok() const { return message_ != 0 && hwnd_ != nullptr; }
  const std::vector<WPARAM>& heard() const { return heard_; }

 private:
  static constexpr wchar_t kClass[] = L"vdtest_instance_log";
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<InstanceMessageLog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == self->message_) {
      self->heard_.push_back(wp);
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }

  UINT message_;
  HWND hwnd_ = nullptr;
  std::vector<WPARAM> heard_;
};

TEST_F(VardeckE2E, InstanceMutexThatCannotBeMadeStopsAStartButNotATermination) {
  // Another object holding the mutex's name makes the mutex impossible to create.
  vd::UniqueKernelHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, vd::InstanceMutexName().c_str()));
  ASSERT_TRUE(squatter);
  struct Row {
    const wchar_t* args;
    const wchar_t* box;          // what the one box says, empty for none
    std::vector<WPARAM> posted;  // what a running instance hears
  } rows[] = {
      {L"", L"Can not initialize.", {}},
      // Unattended, as an uninstaller runs it: no box to wait on, and whatever runs is still told to end.
      {L"-t", L"", {vd::kInstanceTerminate}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("args \"" + vd::WideToAnsi(r.args) + "\"");
    InstanceMessageLog log;
    ASSERT_TRUE(log.ok());
    VardeckProcess p(r.args);
    ASSERT_TRUE(p.Started());
    std::wstring text;
    // Every box is answered, so that a row showing one where none belongs still ends.
    const bool ended = vdtest::PumpUntil(
        [&] {
          HWND box = vdtest::FindProcessWindow(p.Pid(), L"#32770");
          if (box && ::IsWindowVisible(box)) {
            text += vdtest::StaticTexts(box);
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            vdtest::Pump(300);
          }
          return !p.Running();
        },
        15000);
    EXPECT_TRUE(ended) << "no second first instance";
    EXPECT_EQ(text, r.box);
    vdtest::Pump(1000);  // a broadcast takes about 200 ms to reach another process
    EXPECT_EQ(log.heard(), r.posted);
  }
}

// What generic modules and busy tokens do, each through tokenctl (rules set before the start or while the
// program runs): the user's certificate still reaches MY, the load-failure box shows at most once, and
// "-t" takes the entry out again.
TEST_F(VardeckE2E, CertificatesReachMyDespiteTheModulesHabits) {
  const std::wstring sign = L"\"" + vdtest::TestCert(L"sign.der") + L"\"";
  const std::wstring enc = L"\"" + vdtest::TestCert(L"enc.der") + L"\"";
  struct Row {
    const char* what;
    std::vector<std::wstring> before, running;
    const wchar_t* cert;  // what must reach MY
    size_t boxes;
  } rows[] = {
      {"C_Initialize fails at logon",
       {L"insert 1", L"add-cert 1 " + sign, L"fail C_Initialize CKR_DEVICE_ERROR --times 2"}, {}, L"sign.der", 1},
      {"a token arrives between the count and the list",
       {L"insert 1", L"add-cert 1 " + sign, L"fail C_GetSlotList CKR_BUFFER_TOO_SMALL --after 1 --times 1"}, {},
       L"sign.der", 0},
      {"a certificate without the container attribute", {L"insert 1", L"add-cert 1 " + sign + L" --no-container"},
       {}, L"sign.der", 0},
      {"an object event that meets a failing call", {L"insert 1"},
       {L"fail C_GetAttributeValue CKR_DEVICE_ERROR --times 1", L"add-cert 1 " + enc}, L"enc.der", 0},
      {"an event wait that keeps failing", {L"insert 3", L"add-cert 3 " + sign, L"remove 3"},
       {L"fail E_WaitForEvent CKR_FUNCTION_NOT_SUPPORTED", L"event 1 0", L"insert 3"}, L"sign.der", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    vdtest::ScopedSimTokenDir sim;
    const std::wstring sha1 = vdtest::Sha1OfFile(vdtest::TestCert(r.cert));
    for (const std::wstring& c : r.before) ASSERT_TRUE(vdtest::TokenctlSucceeds(c));
    VardeckProcess p(L"");
    ASSERT_NE(p.WaitMainWindow(15000), nullptr);
    for (const std::wstring& c : r.running) ASSERT_TRUE(vdtest::TokenctlSucceeds(c));
    size_t boxes = 0;
    const bool filed = vdtest::PumpUntil(
        [&] {
          HWND box = vdtest::FindProcessWindow(p.Pid(), L"#32770", L"Certificate Manager");
          if (box && ::IsWindowVisible(box)) {
            ++boxes;
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            vdtest::PumpUntil([&] { return !::IsWindowVisible(box); }, 5000);
          }
          return vdtest::StoreHas(L"MY", sha1);
        },
        20000);
    EXPECT_TRUE(filed);
    EXPECT_EQ(boxes, r.boxes);
    vdtest::RequestTermination();
    EXPECT_TRUE(p.WaitExit(15000));
    EXPECT_FALSE(vdtest::StoreHas(L"MY", sha1));
  }
}

}  // namespace
