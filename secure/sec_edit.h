// CSecEdit takes over a password edit control: the control shows only asterisks while the real characters
// live here, RC4-enciphered under a key of the object's own and deciphered only for an update or a read.
// While the edit has the focus a low-level keyboard hook takes printable keys away from every other
// window, translates them itself and inserts them; paste, undo, the context menu and system keys are
// refused. All of it runs on the thread of the edit's dialog.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "edit_update.h"
#include "secret_text.h"

namespace vd {

class CSecEdit {
 public:
  // Sent to the parent as WM_COMMAND's notification code after every change of the content.
  static constexpr WORD kContentChanged = 0x0F47;
  static constexpr int kHookSlots = 3;

  CSecEdit();
  ~CSecEdit();
  CSecEdit(const CSecEdit&) = delete;
  CSecEdit& operator=(const CSecEdit&) = delete;

  // False when the window does not exist, the object has no key, or the property cannot be set. The
  // control's character limit is kept within what the hidden buffer holds.
  bool Attach(HWND edit);
  HWND Window() const { return edit_; }

  // The soft keyboard's way in: ASCII letters and digits only; false when nothing was inserted.
  bool InsertCharacter(wchar_t ch);
  // Empties `out` (wiping it) and fills it with the content; the deciphered copy is wiped at once.
  void ReadContent(std::wstring& out);
  // The number of asterisks the control shows.
  int Length() const;
  // Empties the content and the control, then tells the parent.
  void Clear();

  int MinimumLength() const { return minimumLength_; }
  void SetMinimumLength(int n) { minimumLength_ = n; }
  bool IsActive() const { return active_; }
  int InstalledHooks() const;

  // The edit that has the focus, if it is a secure edit; one at a time per process.
  static CSecEdit* Current() { return current_.load(); }
  static CSecEdit* FromWindow(HWND edit);
  // The module named when the hooks are installed (the program's own by default).
  static void SetHookModule(HINSTANCE module) { hookModule_ = module; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wp, LPARAM lp);
  static void CALLBACK RefreshHooks(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);

  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT PassOn(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnChar(WPARAM wp, LPARAM lp);
  bool OnHookKey(UINT message, const KBDLLHOOKSTRUCT& key);
  void GainFocus();
  void LoseFocus();
  void InstallHook(int slot);
  bool RemoveHook(int slot);
  void Detach();

  EditSelection ReadSelection() const;
  void Update(wchar_t ch, EditKind kind);
  void Encipher();
  void Decipher();
  void Notify();

  HWND edit_ = nullptr;
  WNDPROC previous_ = nullptr;
  SecretText plain_;
  EditSelection before_;
  EditSelection after_;
  int minimumLength_ = 0;
  uint8_t key_[8] = {};
  bool keyReady_ = false;
  std::vector<uint8_t> cipher_;
  std::vector<uint8_t> previousCipher_;
  bool active_ = false;
  HHOOK hooks_[kHookSlots] = {};

  static std::atomic<CSecEdit*> current_;
  static HINSTANCE hookModule_;
};

}  // namespace vd
