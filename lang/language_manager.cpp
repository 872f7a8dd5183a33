#include "language_manager.h"

#include <cwchar>
#include <vector>

#include "handles.h"
#include "text.h"

namespace vd {
namespace {

constexpr int kMenuCaptionsId = 128;  // "\n"-separated captions of a menu's top-level items
constexpr int kTextBuffer = 260;      // window texts and class names are read up to 259 characters

std::optional<std::vector<uint8_t>> ReadLanguageFile(const std::wstring& name) {
  UniqueFile file(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxLanguageFileBytes) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
      return std::nullopt;
    }
    if (got == 0) break;  // shrunk while we read: use what is there
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring WindowText(HWND wnd) {
  wchar_t buffer[kTextBuffer] = {};
  ::GetWindowTextW(wnd, buffer, kTextBuffer);
  return buffer;
}

}  // namespace

LanguageManager& LanguageManager::Instance() {
  static LanguageManager manager;
  return manager;
}

void LanguageManager::SetLanguageDirectory(const std::wstring& directory) {
  CsLock lock(mutex_);
  if (directory == directory_) return;
  directory_ = directory;
  loadAttempted_ = loaded_ = false;
}

void LanguageManager::SetLanguageBaseName(const std::wstring& baseName) {
  CsLock lock(mutex_);
  if (baseName == baseName_) return;
  baseName_ = baseName;
  loadAttempted_ = loaded_ = false;
}

void LanguageManager::SetLanguageId(int id) {
  CsLock lock(mutex_);
  if (requestedId_ == id) return;
  requestedId_ = id;
  loadAttempted_ = loaded_ = false;
}

int LanguageManager::GetLanguageId() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return languageId_;
}

int LanguageManager::InterfaceLanguageId() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  if (loaded_) return languageId_;
  return requestedId_.value_or(languageId_);
}

std::wstring LanguageManager::GetLanguageName() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return languageName_;
}

std::wstring LanguageManager::GetFontFace() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return fontFace_;
}

int LanguageManager::GetFontHeight() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return fontHeight_;
}

bool LanguageManager::IsLoaded() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return loaded_;
}

std::wstring LanguageManager::LastFileName() {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  return lastFileName_;
}

void LanguageManager::EnsureLoadedLocked() {
  if (loaded_ || loadAttempted_) return;
  loadAttempted_ = true;
  strings_ = nullptr;
  useDefaults_ = true;
  bool ok = LoadLocked();
  loaded_ = ok;
  useDefaults_ = !ok;
  if (!ok) ResetToEnglishLocked();
}

void LanguageManager::ResetToEnglishLocked() {
  strings_ = nullptr;
  content_.clear();
  languageId_ = 1033;
  languageName_ = L"English";
  fontFace_ = L"Tahoma";
  fontHeight_ = 8;
}

bool LanguageManager::LoadLocked() {
  lastFileName_.clear();
  std::wstring directory = directory_;
  std::wstring baseName = baseName_;
  if (directory.empty() || baseName.empty()) {
    // Unconfigured parts come from the program itself: its folder, and its file name without extension.
    std::wstring path = ProgramPath();
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    if (directory.empty()) directory = path.substr(0, slash);
    if (baseName.empty()) {
      baseName = path.substr(slash + 1);
      size_t dot = baseName.rfind(L'.');
      if (dot != std::wstring::npos) baseName.resize(dot);
    }
    if (directory.empty() || baseName.empty()) return false;
  }
  if (!requestedId_) requestedId_ = DefaultLanguageId();
  ResetToEnglishLocked();

  std::optional<std::wstring> name = ComposeLanguageFileName(directory, baseName, *requestedId_);
  if (!name) return false;
  lastFileName_ = *name;
  std::optional<std::vector<uint8_t>> bytes = ReadLanguageFile(*name);
  if (!bytes) return false;
  std::optional<std::wstring> text = DecodeLanguageText(bytes->data(), bytes->size());
  if (!text) return false;
  if (!ParseLanguageText(*text, content_)) return false;
  std::optional<LanguageSettings> settings = ReadSettings(content_);
  if (!settings) return false;
  auto strings = content_.find(L"strings");
  if (strings == content_.end()) return false;

  languageId_ = settings->codePage;
  languageName_ = settings->language;
  fontFace_ = settings->fontFace;
  fontHeight_ = settings->fontHeight;
  strings_ = &strings->second;
  return true;
}

std::wstring LanguageManager::LangString(int id, const wchar_t* defaultText) {
  CsLock lock(mutex_);
  EnsureLoadedLocked();
  std::wstring fallback = defaultText ? defaultText : L"";
  if (useDefaults_ || strings_ == nullptr) return fallback;
  std::wstring_view value = LookupValue(*strings_, std::to_wstring(id));
  if (value == kAbsentMarker) return fallback;
  return std::wstring(value);
}

void LanguageManager::TranslateDialog(HWND dlg, int templateId) {
  if (!::IsWindow(dlg)) return;
  ::SetWindowTextW(dlg, LangString(templateId, WindowText(dlg).c_str()).c_str());
  for (HWND child = ::GetWindow(dlg, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    int id = ::GetDlgCtrlID(child);
    if (id == 0) continue;
    // A control without an id is -1 in extended templates and 0xFFFF in classic ones: one key serves both.
    if (id == -1) id = 0xFFFF;
    wchar_t cls[kTextBuffer] = {};
    ::GetClassNameW(child, cls, kTextBuffer);
    // Only labels and buttons carry texts of ours; edits, lists and trees hold the user's data.
    if (!EqualsNoCase(cls, L"button") && !EqualsNoCase(cls, L"static")) continue;
    // An image static's text names its picture: setting it may load another picture, or none.
    LONG_PTR kind = ::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK;
    if (EqualsNoCase(cls, L"static") && (kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE)) continue;
    ::SetWindowTextW(child, LangString(id, WindowText(child).c_str()).c_str());
  }
}

void LanguageManager::TranslateMenu(HMENU menu) {
  if (menu == nullptr) return;
  std::wstring list = LangString(kMenuCaptionsId, L"");
  if (list.empty()) return;
  std::vector<std::wstring> captions;
  size_t start = 0;
  for (size_t lf = list.find(L'\n'); lf != std::wstring::npos; lf = list.find(L'\n', start)) {
    captions.push_back(list.substr(start, lf - start));
    start = lf + 1;
  }
  if (start < list.size()) captions.push_back(list.substr(start));

  int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    std::wstring caption = i < static_cast<int>(captions.size()) ? captions[i] : L"ID_MENU_" + std::to_wstring(i);
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
    if (!::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    if (info.fType & MFT_SEPARATOR) continue;
    if (info.hSubMenu) TranslateSubMenu(info.hSubMenu);
    MENUITEMINFOW text{};
    text.cbSize = sizeof(text);
    text.fMask = MIIM_STRING;
    text.dwTypeData = caption.data();
    ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &text);
  }
}

void LanguageManager::TranslateSubMenu(HMENU menu) {
  int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
    if (!::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    if (info.hSubMenu) {
      TranslateSubMenu(info.hSubMenu);
      continue;
    }
    if (info.fType & MFT_SEPARATOR) continue;
    int id = static_cast<int>(info.wID);
    std::wstring marker(kAbsentMarker);
    std::wstring caption = LangString(id, marker.c_str());
    if (caption == kAbsentMarker) caption = L"IDM_" + std::to_wstring(id);
    MENUITEMINFOW text{};
    text.cbSize = sizeof(text);
    text.fMask = MIIM_STRING;
    text.dwTypeData = caption.data();
    ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &text);
  }
}

std::wstring LangString(int id, const wchar_t* defaultText) {
  return LanguageManager::Instance().LangString(id, defaultText);
}

void TranslateDialog(HWND dlg, int templateId) { LanguageManager::Instance().TranslateDialog(dlg, templateId); }

void TranslateMenu(HMENU menu) { LanguageManager::Instance().TranslateMenu(menu); }

std::wstring LanguageDirectory(const std::wstring& installPath, const std::wstring& programPath) {
  if (!installPath.empty()) return installPath;
  size_t cut = programPath.rfind(L'\\');
  return (cut == std::wstring::npos ? std::wstring() : programPath.substr(0, cut)) + L"\\lang";
}

int LanguageIdForUiLanguage(LANGID uiLanguage) {
  switch (uiLanguage) {
    case 1028:
    case 3076:
    case 4100:
    case 5124:
      return 1028;
    case 2052:
      return 2052;
    default:
      return 1033;
  }
}

int DefaultLanguageId() { return LanguageIdForUiLanguage(::GetUserDefaultUILanguage()); }

}  // namespace vd
