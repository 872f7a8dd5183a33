// The few system calls of the desktop switch that tests must be able to replace: a switch that fails, and
// accessibility settings that Wine cannot change. The program never touches this table.
#pragma once

#include <windows.h>

namespace vd {

struct DesktopPlatform {
  BOOL(WINAPI* switchDesktop)(HDESK desktop) = ::SwitchDesktop;
  BOOL(WINAPI* systemParameters)(UINT action, UINT param, PVOID data, UINT winIni) = ::SystemParametersInfoW;
};

// The process-wide table, holding the system's functions unless a test replaced them.
DesktopPlatform& SecureDesktopPlatform();

}  // namespace vd
