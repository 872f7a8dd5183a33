#include "secure_pin_run.h"

#include <process.h>

#include <atomic>
#include <vector>

#include "background_window.h"
#include "change_pin_controller.h"
#include "change_pin_dialog.h"
#include "desktop_snapshot.h"
#include "handles.h"
#include "keyboard_guard.h"
#include "pin_strings.h"
#include "secure_desktop.h"
#include "shared_security.h"

namespace vd {
namespace {

// What both dialog threads are handed.
struct PinDialogContext {
  HINSTANCE module = nullptr;
  HANDLE backgroundReady = nullptr;  // auto-reset: the background covers the screen
  HANDLE dialogOpened = nullptr;     // auto-reset: `dialog` holds the PIN dialog
  std::atomic<INT_PTR> result{2};
  std::atomic<HWND> dialog{nullptr};
  std::atomic<bool> desktopRefused{false};
  HDESK desktop = nullptr;
  BackgroundWindow* background = nullptr;
  ChangePinController* controller = nullptr;
};

using ImmDisableImeFn = BOOL(WINAPI*)(DWORD threadId);

// The input method editor would open windows of its own on the desktop; off for this thread.
void DisableImeForThread() {
  static const ImmDisableImeFn disable = [] {
    HMODULE imm = ::LoadLibraryW(L"imm32.dll");
    return imm ? reinterpret_cast<ImmDisableImeFn>(reinterpret_cast<void*>(::GetProcAddress(imm, "ImmDisableIME")))
               : nullptr;
  }();
  if (disable) disable(0);
}

unsigned __stdcall BackgroundThread(void* arg) {
  auto* ctx = static_cast<PinDialogContext*>(arg);
  if (!ctx->desktop || !ctx->background) {
    ::SetEvent(ctx->backgroundReady);
    return 0;
  }
  DisableImeForThread();
  if (!::SetThreadDesktop(ctx->desktop)) return 0;  // the caller sees the thread end without the event
  ctx->background->SetReadyEvent(ctx->backgroundReady);
  ctx->background->RunModal(ctx->module);
  return 0;
}

unsigned __stdcall PinThread(void* arg) {
  auto* ctx = static_cast<PinDialogContext*>(arg);
  if (!ctx->controller) return 0;
  DisableImeForThread();
  if (!::SetThreadDesktop(ctx->desktop)) {
    ctx->desktopRefused = true;
  } else {
    InstallKeyboardGuard(ctx->module);
    ChangePinDialogOptions options;
    options.isolated = true;
    ChangePinDialog dialog(*ctx->controller, options, SecureRunOldPin(), SecureRunNewPin());
    dialog.onOpened = [ctx](HWND hwnd) {
      ctx->dialog = hwnd;
      ::SetEvent(ctx->dialogOpened);
    };
    ctx->result = dialog.Run(ctx->module, nullptr);
    RemoveKeyboardGuard();
  }
  if (HWND background = ctx->background ? ctx->background->hwnd() : nullptr) ::PostMessageW(background, WM_CLOSE, 0, 0);
  return 0;
}

// Tells the watch that the run leaves the home desktop, and, when it goes out of scope on whatever path,
// that the home desktop is back: declared after the switch back is done on every path.
class IsolationNotice {
 public:
  explicit IsolationNotice(const PinDialogWatch* watch) : watch_(watch) {
    if (watch_ && watch_->isolated) watch_->isolated(true);
  }
  ~IsolationNotice() {
    if (watch_ && watch_->isolated) watch_->isolated(false);
  }
  IsolationNotice(const IsolationNotice&) = delete;
  IsolationNotice& operator=(const IsolationNotice&) = delete;

 private:
  const PinDialogWatch* watch_;
};

UniqueThread StartThread(unsigned(__stdcall* routine)(void*), PinDialogContext* ctx) {
  return UniqueThread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, ctx, 0, nullptr)));
}

// Waits until one of the handles is signalled, dispatching the calling thread's messages meanwhile so
// that its windows keep answering. Returns the index of the signalled handle.
size_t WaitDispatching(const std::vector<HANDLE>& handles, bool* quit, int* quitCode) {
  for (;;) {
    DWORD r = ::MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE,
                                          QS_ALLINPUT);
    if (r < WAIT_OBJECT_0 + handles.size()) return r - WAIT_OBJECT_0;
    if (r != WAIT_OBJECT_0 + handles.size()) {
      ::Sleep(10);  // a failed wait must not spin
      continue;
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        *quit = true;
        *quitCode = static_cast<int>(msg.wParam);
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

}  // namespace

SecureRunResult RunSecurePinDialog(CK_ULONG minimumLength, CK_ULONG maximumLength, const PinDialogWatch* watch,
                                   HINSTANCE module) {
  SecureRunResult run;
  if (!module) module = ::GetModuleHandleW(nullptr);
  WipeSecureRunPins();

  DesktopSnapshot snapshot;
  if (!snapshot.Capture()) return run;
  BackgroundWindow background(snapshot.Bitmap(), true);
  ChangePinController controller(module, minimumLength, maximumLength);
  SecureDesktop desktop;
  if (!desktop.Create()) return run;
  SECURITY_ATTRIBUTES* sa = SharedObjectSecurity::Instance().Attributes();
  UniqueKernelHandle ready(::CreateEventW(sa, FALSE, FALSE, nullptr));
  UniqueKernelHandle opened(::CreateEventW(sa, FALSE, FALSE, nullptr));
  if (!ready || !opened) return run;

  PinDialogContext ctx;
  ctx.module = module;
  ctx.backgroundReady = ready.get();
  ctx.dialogOpened = opened.get();
  ctx.desktop = desktop.Desktop();
  ctx.background = &background;
  ctx.controller = &controller;
  // Every return below switches back first; the notice then says so.
  IsolationNotice notice(watch);
  if (!desktop.SwitchTo()) {
    desktop.SwitchBack();
    return run;
  }

  bool quit = false;
  int quitCode = 0;
  UniqueThread backgroundThread = StartThread(BackgroundThread, &ctx);
  if (backgroundThread) {
    // A background that cannot be initialised ends its thread without the event.
    WaitDispatching({ready.get(), backgroundThread.get()}, &quit, &quitCode);
  }
  // Read once, after the event: the background thread wrote it before signalling and keeps it until the
  // WM_CLOSE posted below ends its dialog.
  const HWND backgroundWindow = background.hwnd();
  UniqueThread pinThread = StartThread(PinThread, &ctx);
  if (!pinThread) {
    if (backgroundWindow) ::PostMessageW(backgroundWindow, WM_CLOSE, 0, 0);
    if (backgroundThread) ::WaitForSingleObject(backgroundThread.get(), INFINITE);
    desktop.SwitchBack();
    return run;
  }

  bool dialogReported = false;
  bool pinDone = false;
  bool backgroundDone = !backgroundThread;
  while (!pinDone || !backgroundDone) {
    std::vector<HANDLE> waits;
    if (!pinDone) waits.push_back(pinThread.get());
    if (!backgroundDone) waits.push_back(backgroundThread.get());
    if (!dialogReported) waits.push_back(opened.get());
    HANDLE signalled = waits[WaitDispatching(waits, &quit, &quitCode)];
    if (signalled == opened.get()) {
      dialogReported = true;
      if (watch && watch->opened) watch->opened(ctx.dialog.load());
    } else if (signalled == pinThread.get()) {
      pinDone = true;
      // The background ends with the PIN dialog, also when the PIN thread never ran its dialog.
      if (backgroundWindow) ::PostMessageW(backgroundWindow, WM_CLOSE, 0, 0);
    } else {
      backgroundDone = true;
    }
  }
  desktop.SwitchBack();
  if (dialogReported && watch && watch->closed) watch->closed();
  if (quit) ::PostQuitMessage(quitCode);

  const INT_PTR result = ctx.result.load();
  if (ctx.desktopRefused || result == -1) return run;  // the dialog never ran there: take the plain path
  run.started = true;
  run.result = result;
  return run;
}

}  // namespace vd
