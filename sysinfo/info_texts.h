// Texts of the device-information and Important dialogs.
#pragma once

#include "text_table.h"

// The blanks after the line breaks indent a value's second line under the first one's value.
// clang-format off
#define VD_INFO_TEXTS(X)                                                                                   \
  X(kOsVersion, 11011, L"OS Version:")                                                                     \
  X(kBrowserVersion, 11012, L"IE Version:")                                                                \
  X(kTokenModel, 11013, L"USBKey Model:")                                                                  \
  X(kTokenSerial, 11014, L"USBKey Serial Number:")                                                         \
  X(kProductVersion, 11015, L"Certificate Manager Version:")                                               \
  X(kTokenState, 11016, L"USBKey State:")                                                                  \
  X(kPinState, 11017, L"USBKey PIN State:")                                                                \
  X(kConnected, 11018, L"Connected!")                                                                      \
  X(kNotConnected, 11019, L"Not Connected!")                                                               \
  X(kTriesState, 11020, L"Have inputed the wrong password %d times,\r\n                 You have %d chances") \
  X(kBlocked, 11021,                                                                                       \
    L"This USBKey has been blocked! Please go to \r\n                 Bank Counter to handle the matter!")    \
  X(kPinUnreadable, 11025, L"The PIN state cannot be read (error code 0x%08x)")                        \
  X(kImportantAdvice, 11023,                                                                               \
    L"1. For your financial security and convenient use of the \r\n"                                       \
    L"   USBKey, keep the USBKey safe and the password in mind;\r\n"                                       \
    L"2. Before you can use the USBKey normally, configure your \r\n"                                      \
    L"   browser as follows:\r\n"                                                                          \
    L"  1) Set the online transaction website to a trusted one;\r\n"                                       \
    L"  2) Disable the browser pop-up blocker if any;\r\n"                                                 \
    L"  3) Enable all options under ActiveX Controls and Plugins;\r\n"                                     \
    L"  4) Restart your browser;\r\n"                                                                      \
    L"3. When using the USBKey, if the password is entered in \r\n"                                        \
    L"   error for 6 times consecutively, the USBKey will be \r\n"                                         \
    L"   locked and can not be used. To restore it, go to the \r\n"                                        \
    L"   bank counter. If you enter the password correctly, \r\n"                                          \
    L"   the value of the error counter will be reset to 0\r\n"                                            \
    L"   and you still have 6 chances to enter the password later; \r\n"                                   \
    L"4. After you log off the online banking system, remove the \r\n"                                     \
    L"   USBKey from your computer, and keep it safe.")                                                    \
  X(kImportantHeading, 11024, L"Important:\r\n")
// clang-format on

namespace vd {
VD_TEXT_TABLE(info_text, VD_INFO_TEXTS)
}  // namespace vd
