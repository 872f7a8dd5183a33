#include "instance_end.h"

#include <aclapi.h>
#include <wtsapi32.h>

#include <vector>

#include "product.h"

namespace vd {
namespace {

constexpr DWORD kSessionEndPatienceMs = 10000;

// The SIDs that may signal an instance's event: the user who runs it, LocalSystem and the administrators.
// Anyone else's "-t" (another standard user's) must not end it.
class EventSecurity {
 public:
  EventSecurity() {
    UniqueKernelHandle token;
    HANDLE t = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &t)) return;
    token.reset(t);
    DWORD size = 0;
    ::GetTokenInformation(t, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (size == 0 || !::GetTokenInformation(t, TokenUser, user_.data(), size, &size)) return;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_) ||
        !::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &admins_))
      return;
    PSID sids[] = {reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid, system_, admins_};
    EXPLICIT_ACCESSW access[3] = {};
    for (int i = 0; i < 3; ++i) {
      access[i].grfAccessPermissions = EVENT_ALL_ACCESS;
      access[i].grfAccessMode = SET_ACCESS;
      access[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
      access[i].Trustee.ptstrName = static_cast<LPWSTR>(sids[i]);
    }
    if (::SetEntriesInAclW(3, access, nullptr, &acl_) != ERROR_SUCCESS) return;
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl_, FALSE))
      return;
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  ~EventSecurity() {
    if (acl_) ::LocalFree(acl_);
    if (admins_) ::FreeSid(admins_);
    if (system_) ::FreeSid(system_);
  }
  EventSecurity(const EventSecurity&) = delete;
  EventSecurity& operator=(const EventSecurity&) = delete;

  // Null (the process's default security) when the list could not be made.
  SECURITY_ATTRIBUTES* Attributes() { return attributes_.nLength ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_;
  PSID system_ = nullptr, admins_ = nullptr;
  PACL acl_ = nullptr;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

DWORD OwnSession() {
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  return session;
}

// Every session the system reports, and this process's own. The session list comes from a library that
// Windows XP Home without fast user switching may lack, so it is looked up at run time.
std::vector<DWORD> Sessions() {
  std::vector<DWORD> sessions{OwnSession()};
  UniqueModule wts(::LoadLibraryW(L"wtsapi32.dll"));
  if (!wts) return sessions;
  using EnumFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
  using FreeFn = void(WINAPI*)(PVOID);
  auto enumerate = reinterpret_cast<EnumFn>(reinterpret_cast<void*>(::GetProcAddress(wts.get(), "WTSEnumerateSessionsW")));
  auto release = reinterpret_cast<FreeFn>(reinterpret_cast<void*>(::GetProcAddress(wts.get(), "WTSFreeMemory")));
  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  if (!enumerate || !release || !enumerate(nullptr, 0, 1, &info, &count)) return sessions;
  for (DWORD i = 0; i < count; ++i)
    if (info[i].SessionId != sessions.front()) sessions.push_back(info[i].SessionId);
  release(info);
  return sessions;
}

bool EventExists(const std::wstring& name) {
  UniqueKernelHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  // Access denied means it is there; only "not found" says that its last holder has gone.
  return event || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

struct SessionEnd {
  HWND window = nullptr;
  WNDPROC previous = nullptr;
  EndRequest end;
};
SessionEnd g_sessionEnd;

LRESULT CALLBACK SessionEndProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  const WNDPROC previous = g_sessionEnd.previous;
  switch (msg) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION: {
      if (!wp) break;
      g_sessionEnd.end();
      // The terminate path runs from this thread's queue (after the commands it cancels); the session may
      // end the process as soon as this returns.
      const DWORD start = ::GetTickCount();
      MSG m;
      while (::IsWindow(w) && ::GetTickCount() - start < kSessionEndPatienceMs) {
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
        while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
          ::TranslateMessage(&m);
          ::DispatchMessageW(&m);
        }
      }
      // This ran inside the message loop's wait, and the messages it waits for have been taken: without a
      // message of its own the loop would wait for ever instead of seeing the window gone.
      ::PostQuitMessage(0);
      return 0;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      g_sessionEnd.window = nullptr;
      break;
    default:
      break;
  }
  return ::CallWindowProcW(previous, w, msg, wp, lp);
}

}  // namespace

std::wstring TerminateEventName(DWORD sessionId) {
  return L"Global\\" + std::wstring(kProduct.instanceId) + L"_vardeck_terminate_" + std::to_wstring(sessionId);
}

TerminateEvent::~TerminateEvent() {
  // Waits for a callback under way, so that none runs on a freed object.
  if (wait_) ::UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
}

bool TerminateEvent::Watch(EndRequest end) {
  EventSecurity security;
  // Auto-reset: one signal ends one instance, and a later instance of the session starts unsignalled.
  event_.reset(::CreateEventW(security.Attributes(), FALSE, FALSE, TerminateEventName(OwnSession()).c_str()));
  if (!event_) return false;
  end_ = std::move(end);
  return ::RegisterWaitForSingleObject(&wait_, event_.get(), &TerminateEvent::OnSignalled, this, INFINITE,
                                       WT_EXECUTEONLYONCE) != FALSE;
}

void CALLBACK TerminateEvent::OnSignalled(void* self, BOOLEAN) { static_cast<TerminateEvent*>(self)->end_(); }

int SignalTerminateEvents(DWORD patienceMs) {
  std::vector<std::wstring> signalled;
  for (DWORD session : Sessions()) {
    const std::wstring name = TerminateEventName(session);
    UniqueKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (event && ::SetEvent(event.get())) signalled.push_back(name);
  }
  const DWORD start = ::GetTickCount();
  std::vector<std::wstring> running = signalled;
  while (!running.empty() && ::GetTickCount() - start < patienceMs) {
    std::erase_if(running, [](const std::wstring& name) { return !EventExists(name); });
    if (!running.empty()) ::Sleep(50);
  }
  return static_cast<int>(signalled.size());
}

void EndWithTheSession(HWND window, EndRequest end) {
  if (g_sessionEnd.window || !window) return;
  g_sessionEnd.end = std::move(end);
  g_sessionEnd.window = window;
  g_sessionEnd.previous =
      reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SessionEndProc)));
}

}  // namespace vd
