// What one process sees of the others although the module answers from memory: changes made by tokenctl
// or another module process, a writer killed in the middle, the added latency, and the session table.
#include "module_fixture.h"

#include <functional>

namespace simtest {
namespace {

std::string Label(CK_FUNCTION_LIST* f, CK_SLOT_ID slot) {
  CK_TOKEN_INFO t{};
  if (f->C_GetTokenInfo(slot, &t) != CKR_OK) return "(no token)";
  std::string s(reinterpret_cast<char*>(t.label), 32);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

// A peer process (simtoken_peer.exe) that holds on until the test ends it.
class HeldPeer {
 public:
  explicit HeldPeer(const std::wstring& steps) {
    std::wstring ready = L"Local\\simtest-ready-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                         std::to_wstring(++counter_);
    vd::UniqueKernelHandle signal(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    std::wstring cmd = L"\"" + vdtest::BinDir() + L"simtoken_peer.exe\" LumoraCSP11Brindlemark.dll " + steps +
                       L" signal " + ready + L" hold";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
      return;
    process_.reset(pi.hProcess);
    ::CloseHandle(pi.hThread);
    pid_ = pi.dwProcessId;
    HANDLE both[2] = {signal.get(), process_.get()};
    ready_ = ::WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~HeldPeer() { Kill(); }
  HeldPeer(const HeldPeer&) = delete;
  HeldPeer& operator=(const HeldPeer&) = delete;

  bool ready() const { return ready_; }
  DWORD pid() const { return pid_; }
  void Kill() {
    if (!process_) return;
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
    process_.reset();
  }

 private:
  static inline int counter_ = 0;
  vd::UniqueKernelHandle process_;
  DWORD pid_ = 0;
  bool ready_ = false;
};

std::string Line(DWORD pid, int count) { return std::to_string(pid) + " " + std::to_string(count) + "\n"; }

using SharedTest = ModuleTest;

// The module in this process has read the state before each change; the next call must see the change.
TEST_F(SharedTest, ChangesByTokenctlShowAtTheNextCall) {
  Ctl(L"insert 1");
  CK_FUNCTION_LIST* f = m.f;
  CK_SESSION_HANDLE s = Open(1);
  auto slotCount = [f] {
    CK_ULONG n = 0;
    f->C_GetSlotList(CK_TRUE, nullptr, &n);
    return std::to_string(n);
  };
  auto objects = [&] { return std::to_string(Find(s, {}).size()); };
  struct Row {
    std::function<std::wstring()> change;
    std::function<std::string()> seen;
    std::string before, after;
  } rows[] = {
      {[] { return L"insert 2"; }, slotCount, "1", "2"},
      {[] { return L"set 1 --label Renamed"; }, [f] { return Label(f, 1); }, "Opalix Token", "Renamed"},
      {[&] { return L"add-cert 1 " + CertArg(L"enc.der") + L" --key none"; }, objects, "0", "1"},
      {[&] { return L"delete 1 " + std::to_wstring(Find(s, {}).at(0)); }, objects, "1", "0"},
      {[] { return L"set 1 --tries 2"; }, [this] {
         CK_BYTE out[4] = {};
         m.aux->getPinInfo(1, out);
         return std::to_string(out[3]);
       }, "6", "2"},
      {[] { return L"remove 2"; }, slotCount, "2", "1"},
      {[] { return L"remove 1"; }, [f, &s] {
         CK_SESSION_INFO info;
         return std::to_string(f->C_GetSessionInfo(s, &info));
       }, "0", std::to_string(CKR_DEVICE_REMOVED)},
  };
  for (Row& r : rows) {
    std::wstring change = r.change();
    std::string shown(change.begin(), change.end());
    EXPECT_EQ(r.seen(), r.before) << "before " << shown;
    Ctl(change);
    EXPECT_EQ(r.seen(), r.after) << "after " << shown;
  }
}

// Each writer starts from what the other saved: a stale copy would lose the other's change.
TEST_F(SharedTest, TwoProcessesWritingInTurnLoseNothing) {
  Ctl(L"insert 1 --tries 6");
  CK_SESSION_HANDLE s = Open(1);
  CK_UTF8CHAR wrong[] = "000000", next[] = "135790";
  auto triesLeft = [this] {
    CK_BYTE out[4] = {};
    m.aux->getPinInfo(1, out);
    return static_cast<int>(out[3]);
  };
  struct Step {
    bool peer;
    int triesAfter;
  } steps[] = {{false, 5}, {true, 4}, {false, 3}, {true, 2}, {true, 1}, {false, 0}};
  for (const Step& st : steps) {
    if (st.peer) {
      vdtest::ProcessResult r =
          vdtest::RunTool(L"simtoken_peer.exe", L"LumoraCSP11Brindlemark.dll init setpin 1 000000 135790 finalize");
      EXPECT_EQ(r.exitCode, 0u) << r.err;
      EXPECT_EQ(r.out, "rv=" + std::to_string(CKR_PIN_INCORRECT) + "\n");
    } else {
      EXPECT_EQ(m.f->C_SetPIN(s, wrong, 6, next, 6), CKR_PIN_INCORRECT);
    }
    EXPECT_EQ(triesLeft(), st.triesAfter) << (st.peer ? "after the peer" : "after this process");
  }
  CK_UTF8CHAR label[32];
  std::fill(std::begin(label), std::end(label), ' ');
  std::copy_n("Ours", 4, label);
  ASSERT_EQ(m.aux->setLabel(1, 0, 0, 0, label), CKR_OK);
  ASSERT_EQ(vdtest::RunTool(L"simtoken_peer.exe", L"LumoraCSP11Brindlemark.dll init label 1 Theirs finalize").exitCode,
            0u);
  EXPECT_EQ(Label(m.f, 1), "Theirs");
  EXPECT_NE(Ctl(L"list").find("label=\"Theirs\""), std::string::npos);
}

// A writer that dies holding the lock, before its change was counted: whether its file was replaced or
// not, the others go on from what is on disk, and the lock is usable again.
TEST_F(SharedTest, AWriterKilledInTheMiddle) {
  struct Row {
    const wchar_t* stage;
    const char* labelAfter;
  } rows[] = {{L"moved", "Written"}, {L"temp", "Before"}};
  for (const Row& r : rows) {
    Ctl(L"insert 1 --label Before");
    ASSERT_EQ(Label(m.f, 1), "Before");
    vdtest::ProcessResult died = vdtest::RunTool(
        L"simtoken_peer.exe", std::wstring(L"LumoraCSP11Brindlemark.dll die-writing 1 Written ") + r.stage);
    ASSERT_EQ(died.exitCode, 9u) << died.err;
    EXPECT_EQ(Label(m.f, 1), r.labelAfter) << "stage " << r.stage;
    Ctl(L"set 1 --label Later");
    EXPECT_EQ(Label(m.f, 1), "Later") << "stage " << r.stage;
  }
}

// The delay reaches a process that was already running, at its next call, and goes again with 0. Only
// generous lower and upper bounds are checked: what is measured is whether the delay is there at all.
TEST_F(SharedTest, LatencyReachesRunningProcessesAndGoes) {
  Ctl(L"insert 1");
  auto callMs = [this](const std::function<void()>& call) {
    LARGE_INTEGER freq, a, b;
    ::QueryPerformanceFrequency(&freq);
    ::QueryPerformanceCounter(&a);
    call();
    ::QueryPerformanceCounter(&b);
    return (b.QuadPart - a.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
  };
  auto slotList = [this] {
    CK_ULONG n = 0;
    m.f->C_GetSlotList(CK_TRUE, nullptr, &n);
  };
  auto pollEvent = [this] {
    CK_SLOT_ID slot;
    CK_ULONG code, data;
    m.aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr);
  };
  Ctl(L"latency 300");
  EXPECT_EQ(Ctl(L"latency"), "300\n");
  EXPECT_GE(callMs(slotList), 270);
  EXPECT_GE(callMs(pollEvent), 270);
  Ctl(L"latency 0");
  double fastest = 1e9;
  for (int i = 0; i < 3; ++i) fastest = std::min(fastest, callMs(slotList));
  EXPECT_LT(fastest, 150);
  EXPECT_EQ(Ctl(L"latency"), "0\n");
}

TEST_F(SharedTest, LatencyIsKeptInTheFolderWhenNoProcessRuns) {
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);  // nothing holds the shared block now
  Ctl(L"latency 25");
  EXPECT_EQ(Ctl(L"latency"), "25\n");
  Ctl(L"latency 0");
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
}

TEST_F(SharedTest, SessionsPerProcessAndNoneOfEndedProcesses) {
  Ctl(L"insert 1");
  DWORD self = ::GetCurrentProcessId();
  EXPECT_EQ(Ctl(L"sessions"), "");
  CK_SESSION_HANDLE a = Open(1);
  Open(1, CKF_SERIAL_SESSION);
  EXPECT_EQ(Ctl(L"sessions"), Line(self, 2));
  {
    HeldPeer peer(L"init open 1 3");
    ASSERT_TRUE(peer.ready());
    std::string both = Ctl(L"sessions");
    EXPECT_NE(both.find(Line(self, 2)), std::string::npos) << both;
    EXPECT_NE(both.find(Line(peer.pid(), 3)), std::string::npos) << both;
    peer.Kill();
    EXPECT_EQ(Ctl(L"sessions"), Line(self, 2)) << "a killed process keeps no sessions";
  }
  ASSERT_EQ(vdtest::RunTool(L"simtoken_peer.exe", L"LumoraCSP11Brindlemark.dll init open 1 2 exit").exitCode, 0u);
  EXPECT_EQ(Ctl(L"sessions"), Line(self, 2)) << "nor does one that ended without C_Finalize";
  // A second copy of the module in this process adds its sessions to the same line.
  LoadedModule copy(L"simtoken_noaux.dll");
  ASSERT_EQ(copy.f->C_Initialize(nullptr), CKR_OK);
  CK_SESSION_HANDLE c = 0;
  ASSERT_EQ(copy.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &c), CKR_OK);
  EXPECT_EQ(Ctl(L"sessions"), Line(self, 3));
  ASSERT_EQ(copy.f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(m.f->C_CloseSession(a), CKR_OK);
  EXPECT_EQ(Ctl(L"sessions"), Line(self, 1));
  Ctl(L"remove 1");  // a pulled token's session stays open until it is closed
  EXPECT_EQ(Ctl(L"sessions"), Line(self, 1));
  ASSERT_EQ(m.f->C_CloseAllSessions(1), CKR_OK);
  EXPECT_EQ(Ctl(L"sessions"), "");
}

}  // namespace
}  // namespace simtest
