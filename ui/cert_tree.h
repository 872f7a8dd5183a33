// The main window's tree: one item per token, one child per certificate, the buttons the selection
// allows, and the certificate the user chose (remembered by key, because the token list it came from
// may change under us). Dialog thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "main_ids.h"
#include "token_port.h"

namespace vd {

class CertTree {
 public:
  struct CertificateKey {
    unsigned long token = 0;
    unsigned long handle = 0;
  };

  // The tree is the dialog's control IDC_CERT_TREE; the buttons are the dialog's.
  void Attach(HWND dialog) { dialog_ = dialog; }
  // The image list (token and certificate images), made once.
  void InitImages();
  // Detaches and destroys the image list; the window is being destroyed.
  void Release();

  void Rebuild(const std::vector<TokenView>& tokens);
  void OnSelectionChanged(const std::vector<TokenView>& tokens);
  // The root item of `key` takes `label`.
  void SetTokenLabel(unsigned long key, const std::wstring& label);

  // The certificate chosen by the last certificate selection, cleared by every rebuild and by a selection
  // that does not resolve to a certificate of the list.
  std::optional<CertificateKey> SelectedCertificate() const;
  // The token of the selected item: the item itself for a token, its parent for a certificate.
  std::optional<unsigned long> SelectedTokenKey() const;
  // Whether the selected item is a token (not a certificate, not the placeholder).
  bool TokenItemSelected() const;

 private:
  HWND Tree() const { return ::GetDlgItem(dialog_, IDC_CERT_TREE); }
  void EnableButtons(std::initializer_list<int> ids, bool enable);

  HWND dialog_ = nullptr;
  UniqueImageList images_;
  bool placeholder_ = false;
  bool certificateSelected_ = false;
  CertificateKey selected_;
};

}  // namespace vd
