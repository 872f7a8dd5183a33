#include "prompt_watcher.h"

#include <cstdio>
#include <cwchar>

#include "os_version.h"

namespace vd {

namespace {

constexpr int kNewHardwarePromptText = 2121;  // string resource of newdev.dll
constexpr int kUnsafeRemovalDialog = 330;      // dialog resource of hotplug.dll
constexpr int kPromptTextControl = 0xFFFF;
constexpr DWORD kRoundPauseMs = 500;
constexpr int kTextLength = 260;

struct PromptTexts {
  std::wstring prompt;  // text of the new-hardware prompt
  std::wstring title;   // title of the unsafe-removal warning
};

// A hung program's window must not hold the watcher: every text that needs a message to the window's
// thread is asked for with a time limit.
constexpr UINT kReadTimeoutMs = 200;

bool ReadText(HWND window, wchar_t (&out)[kTextLength]) {
  DWORD_PTR copied = 0;
  out[0] = L'\0';
  if (!window || !::SendMessageTimeoutW(window, WM_GETTEXT, kTextLength, reinterpret_cast<LPARAM>(out),
                                        SMTO_ABORTIFHUNG | SMTO_BLOCK, kReadTimeoutMs, &copied))
    return false;
  out[kTextLength - 1] = L'\0';
  return copied > 0;
}

BOOL CALLBACK DismissPrompt(HWND window, LPARAM param) {
  const auto* texts = reinterpret_cast<const PromptTexts*>(param);
  // The system's prompts belong to other processes; our own windows are never asked (their thread may be
  // the one waiting for this watcher).
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == ::GetCurrentProcessId()) return TRUE;
  wchar_t title[kTextLength] = {};
  if (!ReadText(window, title)) return TRUE;
  if (!texts->title.empty() && std::wcsstr(title, texts->title.c_str())) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
  }
  wchar_t text[kTextLength] = {};
  ReadText(::GetDlgItem(window, kPromptTextControl), text);
  if (!texts->prompt.empty() && std::wcsstr(text, texts->prompt.c_str())) {
    ::PostMessageW(window, WM_COMMAND, IDNO, reinterpret_cast<LPARAM>(::GetDlgItem(window, IDNO)));
  }
  return TRUE;
}

PromptTexts ReadPromptTexts(UniqueModule& hotplug) {
  PromptTexts texts;
  if (UniqueModule newdev{::LoadLibraryW(L"newdev.dll")}) {
    wchar_t buffer[kTextLength] = {};
    if (::LoadStringW(newdev.get(), kNewHardwarePromptText, buffer, kTextLength) > 0) texts.prompt = buffer;
  } else {
    std::puts("load dll newdev.dll fail");
  }
  if (OsVersion().IsWindows2000()) {
    hotplug.reset(::LoadLibraryW(L"hotplug.dll"));
    if (hotplug) {
      if (::FindResourceW(hotplug.get(), MAKEINTRESOURCEW(kUnsafeRemovalDialog), RT_DIALOG)) {
        if (HWND probe = ::CreateDialogParamW(hotplug.get(), MAKEINTRESOURCEW(kUnsafeRemovalDialog), nullptr,
                                              nullptr, 0)) {
          wchar_t buffer[kTextLength] = {};
          if (::GetWindowTextW(probe, buffer, kTextLength) > 0) texts.title = buffer;
          ::DestroyWindow(probe);
        }
      }
    } else {
      std::puts("load dll hotplug.dll fail");
    }
  }
  return texts;
}

}  // namespace

bool PromptWatcher::Start() {
  if (thread_) return true;
  shared_ = std::make_shared<Shared>();
  // The thread keeps its own reference: it may outlive this object by a round.
  auto* ref = new std::shared_ptr<Shared>(shared_);
  thread_.reset(::CreateThread(nullptr, 0, &PromptWatcher::Routine, ref, 0, nullptr));
  if (!thread_) delete ref;
  return static_cast<bool>(thread_);
}

void PromptWatcher::Stop(DWORD waitMs) {
  if (shared_) shared_->exit = true;
  if (thread_) ::WaitForSingleObject(thread_.get(), waitMs);
  thread_.reset();
}

DWORD WINAPI PromptWatcher::Routine(void* param) {
  std::unique_ptr<std::shared_ptr<Shared>> ref(static_cast<std::shared_ptr<Shared>*>(param));
  try {
    Run(**ref);
  } catch (...) {
    // A thread routine is a C boundary: the watcher just stops watching.
  }
  return 0;
}

void PromptWatcher::Run(Shared& shared) {
  if (OsVersion().IsVistaOrLater()) return;
  UniqueModule hotplug;  // kept while the watcher runs, as the prompt it names may come back
  PromptTexts texts = ReadPromptTexts(hotplug);
  if (texts.prompt.empty() && texts.title.empty()) return;
  while (!shared.exit) {
    ::EnumWindows(DismissPrompt, reinterpret_cast<LPARAM>(&texts));
    ::Sleep(kRoundPauseMs);
  }
}

}  // namespace vd
