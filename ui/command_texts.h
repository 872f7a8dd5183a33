// Texts of the window's commands: viewing a certificate, renaming a token, the home-page option.
#pragma once

#include "text_table.h"

// clang-format off
#define VD_COMMAND_TEXTS(X)                                                          \
  X(kParameterError, 61212, L"Parameter Error!")                                     \
  X(kCertificatesDaemon, 57344, L"Certificates Daemon")                              \
  X(kNewNameLabel, 2001, L"New Token Name(no more than %d characters):")             \
  X(kChangeNameTitle, 2002, L"Change Token Name")                                    \
  X(kSaveOptionFailed, 33025, L"Failed to save option!")                             \
  X(kSetUrlFailed, 90002, L"Set URL Failed!")                                        \
  X(kSetUrlCaption, 140, L"Certificates Daemon")
// clang-format on

namespace vd {
VD_TEXT_TABLE(command_text, VD_COMMAND_TEXTS)
}  // namespace vd
