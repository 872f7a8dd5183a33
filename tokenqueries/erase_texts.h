// Texts of the erase confirmation that the plug-in and the native messaging host show before a page's
// "InitKey" erases a token.
#pragma once

#include "text_table.h"

// clang-format off
#define VD_ERASE_TEXTS(X)                                                                                    \
  X(kTitle, 7000, L"Erase the token?")                                                                       \
  X(kRequest, 7001, L"The page %s asks to re-initialise the token \"%s\" (serial number %s).")                \
  X(kWarning, 7002, L"Every certificate and key on the token will be erased. They cannot be recovered: the "   \
                    L"bank has to issue them again.")                                                        \
  X(kAdvice, 7003, L"Erase the token only if you asked for this yourself on that page.")                     \
  X(kErase, 7004, L"Erase the token")                                                                         \
  X(kCancel, 2, L"Cancel")
// clang-format on

namespace vd {
VD_TEXT_TABLE(erase_text, VD_ERASE_TEXTS)
}  // namespace vd
