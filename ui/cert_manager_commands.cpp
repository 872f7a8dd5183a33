// The main window's commands that act on the tree's selection: view the certificate, rename the token,
// show the device information.
#include "cert_manager_dlg.h"
#include "certificate_viewer.h"
#include "change_token_name_dlg.h"
#include "device_info_dlg.h"
#include "token_operations.h"

namespace vd {

void CertManagerDlg::OnViewCertificate() {
  if (tree_.TokenItemSelected()) return;
  std::optional<CertTree::CertificateKey> chosen = tree_.SelectedCertificate();
  std::vector<uint8_t> value;
  bool found = false;
  if (chosen) {
    for (const TokenView& t : services_.tokens->Snapshot()) {
      if (t.key != chosen->token) continue;
      for (const CertificateView& c : t.certificates) {
        if (c.handle != chosen->handle) continue;
        value = c.value;
        found = true;
      }
    }
  }
  // Without a remembered certificate the viewer says "Parameter Error!".
  ViewCertificate(hwnd_, found ? &value : nullptr);
}

void CertManagerDlg::OnRenameToken() {
  std::optional<unsigned long> key = tree_.SelectedTokenKey();
  if (!key) return;
  const unsigned long k = *key;
  std::optional<std::wstring> name = RunRenameToken(
      hwnd_, services_.tokens->Functions(), services_.tokens->AuxFunctions(), k,
      [this, k](HWND dialog) { tokenDialogs_.Enter(OpenTokenDialogs::Kind::ChangeName, k, dialog); },
      [this, k] { tokenDialogs_.Leave(OpenTokenDialogs::Kind::ChangeName, k); });
  if (name) tree_.SetTokenLabel(k, *name);
}

void CertManagerDlg::OnDeviceInfo() {
  const std::vector<TokenView> tokens = services_.tokens->Snapshot();
  std::optional<unsigned long> key = tree_.SelectedTokenKey();
  TokenFacts facts;
  if (key && !tokens.empty()) {
    facts = ReadTokenFacts(services_.tokens->Functions(), services_.tokens->AuxFunctions(), *key,
                           static_cast<int>(tokens.size()));
  }
  RunDeviceInfoDialog(hwnd_, facts);
}

}  // namespace vd
