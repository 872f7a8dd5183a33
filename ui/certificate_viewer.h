// The View Cert command: the system's certificate viewer for the certificate remembered from the tree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vd {

// `der` is the remembered certificate's value, null when none is remembered: then "Parameter Error!" is
// shown, owned by the active window. A value that does not decode, or a system without "cryptui", shows
// nothing. Otherwise the viewer runs modally over `owner`, titled "Certificates Daemon", without the
// button that adds the certificate to a store.
void ViewCertificate(HWND owner, const std::vector<uint8_t>* der);

}  // namespace vd
