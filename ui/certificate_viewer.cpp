#include "certificate_viewer.h"

#include <wincrypt.h>
#include <prsht.h>
#include <cryptuiapi.h>

#include <string>

#include "command_texts.h"
#include "handles.h"

namespace vd {
namespace {

using ViewCertificateFn = BOOL(WINAPI*)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL*);

}  // namespace

void ViewCertificate(HWND owner, const std::vector<uint8_t>* der) {
  if (!der) {
    ::MessageBoxW(::GetActiveWindow(), Text(command_text::kParameterError).c_str(),
                  Text(command_text::kCertificatesDaemon).c_str(), MB_OK);
    return;
  }
  if (der->empty()) return;
  UniqueCertContext cert(::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der->data(),
                                                        static_cast<DWORD>(der->size())));
  if (!cert) return;

  // Loaded by name and looked up, so that a system without the viewer still runs the program.
  UniqueModule cryptui(::LoadLibraryW(L"cryptui"));
  if (!cryptui) return;
  auto view = reinterpret_cast<ViewCertificateFn>(
      reinterpret_cast<void*>(::GetProcAddress(cryptui.get(), "CryptUIDlgViewCertificateW")));
  if (!view) return;

  const std::wstring title = Text(command_text::kCertificatesDaemon);
  // The context's own store lets the viewer build the chain from what the context came with.
  HCERTSTORE stores[] = {cert.get()->hCertStore};
  CRYPTUI_VIEWCERTIFICATE_STRUCTW info{};
  info.dwSize = sizeof info;
  info.hwndParent = owner;
  info.dwFlags = CRYPTUI_DISABLE_ADDTOSTORE;
  info.szTitle = title.c_str();
  info.pCertContext = cert.get();
  info.cStores = 1;
  info.rghStores = stores;
  BOOL propertiesChanged = FALSE;
  view(&info, &propertiesChanged);
}

}  // namespace vd
