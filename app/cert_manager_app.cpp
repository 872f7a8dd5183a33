#include "cert_manager_app.h"

#include "cert_manager_dlg.h"
#include "expiry_dialog.h"
#include "language_manager.h"
#include "main_ids.h"
#include "os_version.h"
#include "product.h"
#include "handles.h"
#include "registry.h"
#include "shared_security.h"

namespace vd {

std::wstring InstanceMessageName() { return std::wstring(kProduct.instanceId) + L"_vardeck_single_instance_msgid"; }
std::wstring InstanceMutexName() { return std::wstring(kProduct.instanceId) + L"_vardeck_single_instance"; }

namespace {

void ConfigureLanguageFromInstallation() {
  std::wstring path = RegReadString(HKEY_LOCAL_MACHINE, kProduct.installKey, L"Path").value_or(L"");
  if (path.size() > 259) path.resize(259);
  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  LanguageManager& lang = LanguageManager::Instance();
  lang.SetLanguageId(DefaultLanguageId());
  lang.SetLanguageBaseName(kProduct.langBaseName);
  lang.SetLanguageDirectory(LanguageDirectory(path, program));
}

// The running instance gives up the mutex last, after it has taken its MY entries out and let go of the
// token module. Whoever runs "-t" next removes or replaces the program's files or starts a new instance
// (an uninstall, an upgrade), so "-t" returns only when that has happened, or after a time for an instance
// that does not answer.
void WaitForInstanceToEnd(UniqueKernelHandle& ownHandle) {
  constexpr DWORD kPatienceMs = 15000;
  ownHandle.reset();
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < kPatienceMs) {
    UniqueKernelHandle running(::OpenMutexW(SYNCHRONIZE, FALSE, InstanceMutexName().c_str()));
    if (!running) return;
    ::Sleep(50);
  }
}

// Lets other instances' broadcasts through the message filter of an elevated or low process.
void AllowInstanceMessage(UINT message) {
  UniqueModule user32(::LoadLibraryW(L"USER32.Dll"));
  if (!user32) return;
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  auto filter = reinterpret_cast<Filter>(
      reinterpret_cast<void*>(::GetProcAddress(user32.get(), "ChangeWindowMessageFilter")));
  constexpr DWORD kMessageFilterAdd = 1;  // MSGFLT_ADD
  if (filter) filter(message, kMessageFilterAdd);
}

}  // namespace

CertManagerApp::~CertManagerApp() = default;

int CertManagerApp::Run(HINSTANCE instance, const wchar_t* commandLine) {
  constexpr int kEnd = 0;  // start-up never reports success: the process ends after it
  ConfigureLanguageFromInstallation();
  if (!commandLine || !*commandLine) return kEnd;
  std::vector<std::wstring> tokens = SplitCommandLine(commandLine);
  if (tokens.size() > 1) {
    std::optional<StartSwitches> parsed = ParseSwitches(tokens);
    if (!parsed) return kEnd;
    switches_ = *parsed;
    if (switches_.install) {
      ::MessageBoxW(nullptr, L"Self install not implement yet.", nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
    if (switches_.uninstall) {
      ::MessageBoxW(nullptr, L"Self uninstall not implement yet.", nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
  }

  // "-t" runs unattended (an uninstaller, a log-off script) and never waits on a failure box. Without the
  // message there is nothing to send; without the mutex the running instance, if any, is still told.
  instanceMessage_ = ::RegisterWindowMessageW(InstanceMessageName().c_str());
  if (instanceMessage_ == 0) {
    if (!switches_.terminate) ::MessageBoxW(nullptr, L"Can not initialize.", nullptr, MB_OK | MB_ICONSTOP);
    return kEnd;
  }
  if (OsVersion().IsVistaOrLater()) AllowInstanceMessage(instanceMessage_);

  instanceMutex_.reset(
      ::CreateMutexW(SharedObjectSecurity::Instance().Attributes(), FALSE, InstanceMutexName().c_str()));
  bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (!instanceMutex_ && !switches_.terminate) {
    // Without the mutex nothing keeps a second instance out: carrying on could run two.
    ::MessageBoxW(nullptr, L"Can not initialize.", nullptr, MB_OK | MB_ICONSTOP);
    return kEnd;
  }
  if (existed || switches_.terminate) {
    // The running instance stays the only owner.
    if (existed && !switches_.terminate) instanceMutex_.reset();
    ::PostMessageW(HWND_BROADCAST, instanceMessage_, switches_.terminate ? kInstanceTerminate : kInstanceShow, 0);
    if (existed && switches_.terminate) WaitForInstanceToEnd(instanceMutex_);
    return kEnd;
  }

  DialogServices services;
  // The expiry warning opens from inside the token layer: the window's gate decides whether it may.
  services.gate = std::make_shared<WindowGate>();
  services.tokens = MakeTokenManagerPort(GatedExpiryPrompt(services.gate, ExpiryDialog));
  services.popups = MakeDefaultPopupPort();
  CertManagerDlg dialog(instanceMessage_, std::move(services));
  if (!dialog.Create(instance)) return kEnd;
  if (switches_.quiet) ::PostMessageW(HWND_BROADCAST, instanceMessage_, kInstanceQuiet, 0);

  MSG msg;
  while (dialog.hwnd() && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(dialog.hwnd(), &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return kEnd;
}

}  // namespace vd
