#include "cert_tree.h"

#include "text_table.h"
#include "ui_texts.h"

namespace vd {

namespace {

constexpr int kTokenImage = 0;
constexpr int kCertificateImage = 1;
constexpr int kImageWidth = 16;
constexpr int kImageGrowth = 4;
constexpr COLORREF kImageMask = RGB(255, 0, 255);

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

void CertTree::EnableButtons(std::initializer_list<int> ids, bool enable) {
  for (int id : ids) ::EnableWindow(::GetDlgItem(dialog_, id), enable);
}

void CertTree::InitImages() {
  if (images_) return;
  images_.reset(ImageList_LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_TREE_IMAGES), kImageWidth,
                                     kImageGrowth, kImageMask, IMAGE_BITMAP, LR_CREATEDIBSECTION));
  if (images_) TreeView_SetImageList(Tree(), images_.get(), TVSIL_NORMAL);
}

void CertTree::Release() {
  if (HWND tree = Tree()) TreeView_SetImageList(tree, nullptr, TVSIL_NORMAL);
  images_.reset();
}

void CertTree::Rebuild(const std::vector<TokenView>& tokens) {
  HWND tree = Tree();
  certificateSelected_ = false;
  TreeView_DeleteAllItems(tree);
  placeholder_ = tokens.empty();
  if (tokens.empty()) {
    InsertItem(tree, TVI_ROOT, Text(ui_text::kNoCertificate), 0, kTokenImage);
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

void CertTree::OnSelectionChanged(const std::vector<TokenView>& tokens) {
  HWND tree = Tree();
  TVITEMW item;
  if (!ReadItem(tree, TreeView_GetSelection(tree), &item)) return;
  certificateSelected_ = false;
  if (item.iImage == kCertificateImage) {
    TVITEMW parent;
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
        selected_ = {t.key, c.handle};
        EnableButtons({c.registered ? IDC_UNREGISTER_CERT : IDC_REGISTER_CERT}, true);
        return;
      }
    }
    return;
  }
  for (const TokenView& t : tokens) {
    if (t.key != static_cast<unsigned long>(item.lParam)) continue;
    EnableButtons({IDC_VIEW_CERT, IDC_REGISTER_CERT, IDC_UNREGISTER_CERT}, false);
    EnableButtons({IDC_VERIFY_PIN, IDC_CHANGE_PIN, IDC_INITIALIZE, IDC_CHANGE_NAME}, true);
    return;
  }
}

void CertTree::SetTokenLabel(unsigned long key, const std::wstring& label) {
  HWND tree = Tree();
  for (HTREEITEM it = TreeView_GetRoot(tree); it; it = TreeView_GetNextSibling(tree, it)) {
    TVITEMW item;
    if (!ReadItem(tree, it, &item) || static_cast<unsigned long>(item.lParam) != key) continue;
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.pszText = const_cast<wchar_t*>(label.c_str());
    ::SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

std::optional<CertTree::CertificateKey> CertTree::SelectedCertificate() const {
  if (!certificateSelected_) return std::nullopt;
  return selected_;
}

std::optional<unsigned long> CertTree::SelectedTokenKey() const {
  HWND tree = Tree();
  TVITEMW item;
  if (!ReadItem(tree, TreeView_GetSelection(tree), &item)) return std::nullopt;
  if (item.iImage == kCertificateImage) {
    TVITEMW parent;
    if (!ReadItem(tree, TreeView_GetParent(tree, item.hItem), &parent)) return std::nullopt;
    return static_cast<unsigned long>(parent.lParam);
  }
  if (placeholder_) return std::nullopt;  // the placeholder of an empty tree carries no token
  return static_cast<unsigned long>(item.lParam);
}

bool CertTree::TokenItemSelected() const {
  HWND tree = Tree();
  TVITEMW item;
  return !placeholder_ && ReadItem(tree, TreeView_GetSelection(tree), &item) && item.iImage == kTokenImage;
}

}  // namespace vd
