// The tree of tokens and their certificates, and which buttons the selection allows.

#include "cert_manager_dlg.h"
#include "main_ids.h"
#include "platform_bridge.h"

namespace vd {

namespace {

constexpr int kTokenImage = 0;
constexpr int kCertificateImage = 1;

HTREEITEM InsertItem(HWND tree, HTREEITEM parent, const std::wstring& text, LPARAM data, int image) {
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  ins.item.pszText = const_cast<wchar_t*>(text.c_str());
  ins.item.lParam = data;
  ins.item.iImage = image;
  ins.item.iSelectedImage = image;
  return reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

bool ReadItem(HWND tree, HTREEITEM item, TVITEMW* out) {
  *out = {};
  out->mask = TVIF_PARAM | TVIF_IMAGE | TVIF_HANDLE;
  out->hItem = item;
  return item && ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(out));
}

}  // namespace

void CertManagerDlg::EnableButtons(std::initializer_list<int> ids, bool enable) {
  for (int id : ids) ::EnableWindow(::GetDlgItem(hwnd_, id), enable);
}

void CertManagerDlg::InitTreeImages() {
  if (treeImages_) return;
  treeImages_ = ImageList_LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_TREE_IMAGES), 16, 4,
                                     RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
  if (treeImages_) TreeView_SetImageList(::GetDlgItem(hwnd_, IDC_CERT_TREE), treeImages_, TVSIL_NORMAL);
}

void CertManagerDlg::RebuildTree() {
  HWND tree = ::GetDlgItem(hwnd_, IDC_CERT_TREE);
  certificateSelected_ = false;
  TreeView_DeleteAllItems(tree);
  std::vector<TokenView> tokens = services_.tokens->Snapshot();
  if (tokens.empty()) {
    InsertItem(tree, TVI_ROOT, Text(61211, L"No Certificate"), 0, kTokenImage);
    EnableButtons({IDC_UNREGISTER_CERT, IDC_REGISTER_CERT, IDC_VIEW_CERT, IDC_CHANGE_PIN, IDC_VERIFY_PIN,
                   IDC_INITIALIZE, IDC_CHANGE_NAME},
                  false);
    return;
  }
  for (const TokenView& t : tokens) {
    HTREEITEM item = InsertItem(tree, TVI_ROOT, t.label, static_cast<LPARAM>(t.key), kTokenImage);
    for (const CertificateView& c : t.certificates) {
      InsertItem(tree, item, c.displayName, static_cast<LPARAM>(c.handle), kCertificateImage);
    }
    TreeView_Expand(tree, item, TVE_EXPAND);
    TreeView_SelectItem(tree, item);
  }
  // Selecting an item above already ran the selection handler; the rebuild's own button state wins.
  certificateSelected_ = false;
  EnableButtons({IDC_UNREGISTER_CERT, IDC_REGISTER_CERT, IDC_VIEW_CERT}, false);
  EnableButtons({IDC_CHANGE_PIN, IDC_INITIALIZE, IDC_VERIFY_PIN, IDC_CHANGE_NAME}, true);
}

void CertManagerDlg::OnTreeSelectionChanged() {
  HWND tree = ::GetDlgItem(hwnd_, IDC_CERT_TREE);
  TVITEMW item;
  if (!ReadItem(tree, TreeView_GetSelection(tree), &item)) return;
  std::vector<TokenView> tokens = services_.tokens->Snapshot();
  if (item.iImage == kCertificateImage) {
    TVITEMW parent;
    certificateSelected_ = false;
    if (!ReadItem(tree, TreeView_GetParent(tree, item.hItem), &parent)) return;
    for (const TokenView& t : tokens) {
      if (t.key != static_cast<unsigned long>(parent.lParam)) continue;
      for (const CertificateView& c : t.certificates) {
        if (c.handle != static_cast<unsigned long>(item.lParam)) continue;
        EnableButtons({IDC_VIEW_CERT}, true);
        EnableButtons({IDC_UNREGISTER_CERT, IDC_REGISTER_CERT, IDC_VERIFY_PIN, IDC_CHANGE_PIN, IDC_INITIALIZE,
                       IDC_CHANGE_NAME},
                      false);
        certificateSelected_ = true;
        selectedTokenKey_ = t.key;
        selectedCertificateKey_ = c.handle;
        EnableButtons({c.registered ? IDC_UNREGISTER_CERT : IDC_REGISTER_CERT}, true);
        return;
      }
    }
    return;
  }
  certificateSelected_ = false;
  for (const TokenView& t : tokens) {
    if (t.key != static_cast<unsigned long>(item.lParam)) continue;
    EnableButtons({IDC_VIEW_CERT, IDC_REGISTER_CERT, IDC_UNREGISTER_CERT}, false);
    EnableButtons({IDC_VERIFY_PIN, IDC_CHANGE_PIN, IDC_INITIALIZE, IDC_CHANGE_NAME}, true);
    return;
  }
}

void CertManagerDlg::UpdateTokenLabel(unsigned long key) {
  HWND tree = ::GetDlgItem(hwnd_, IDC_CERT_TREE);
  std::wstring label;
  bool found = false;
  for (const TokenView& t : services_.tokens->Snapshot()) {
    if (t.key == key) {
      label = t.label;
      found = true;
    }
  }
  if (!found) return;
  for (HTREEITEM it = TreeView_GetRoot(tree); it; it = TreeView_GetNextSibling(tree, it)) {
    TVITEMW item;
    if (!ReadItem(tree, it, &item) || static_cast<unsigned long>(item.lParam) != key) continue;
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.pszText = const_cast<wchar_t*>(label.c_str());
    ::SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

}  // namespace vd
