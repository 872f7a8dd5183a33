#include "shared_security.h"

#include "os_platform.h"

namespace vd {
namespace {

// Built during static initialisation, before any thread of ours exists; only read afterwards.
SharedObjectSecurity g_instance;

using ConvertSdFn = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);

}  // namespace

SharedObjectSecurity& SharedObjectSecurity::Instance() { return g_instance; }

bool SharedObjectSecurity::IsWin9xPlatform(const OSVERSIONINFOW& v) { return IsWin9xVersion(v); }

SharedObjectSecurity::SharedObjectSecurity() {
  OSVERSIONINFOEXW version{};
  if (LiveOsPlatform().GetVersion(version) && IsWin9xPlatform(*reinterpret_cast<OSVERSIONINFOW*>(&version))) return;
  if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return;
  // Present but null DACL: full access for everyone.
  if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE)) return;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;

  // Looked up at run time: systems before Vista have neither the function nor integrity labels.
  advapi_.reset(::LoadLibraryW(L"advapi32.dll"));
  if (!advapi_) return;
  auto convert = reinterpret_cast<ConvertSdFn>(reinterpret_cast<void*>(
      ::GetProcAddress(advapi_.get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW")));
  if (!convert) return;
  PSECURITY_DESCRIPTOR label = nullptr;
  // No-write-up mandatory label at low integrity.
  if (!convert(L"S:(ML;;NW;;;LW)", 1 /* SDDL revision */, &label, nullptr)) return;
  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  if (::GetSecurityDescriptorSacl(label, &present, &sacl, &defaulted) && present &&
      ::SetSecurityDescriptorSacl(&descriptor_, TRUE, sacl, FALSE)) {
    labelDescriptor_ = label;  // the descriptor points into it: keep it until exit
  } else {
    ::LocalFree(label);
  }
}

SharedObjectSecurity::~SharedObjectSecurity() {
  if (labelDescriptor_) ::LocalFree(labelDescriptor_);
}

}  // namespace vd
