// The full-screen window behind the PIN dialog that shows the dimmed snapshot (dialog template 147): on
// the isolated desktop it runs modally on a thread of its own, on the plain path modelessly under the
// caller. On the isolated desktop it is a tool window that never takes the activation.
#pragma once

#include <windows.h>

#include "handles.h"
#include "window_attach.h"

namespace vd {

class BackgroundWindow : public AttachedWindow {
 public:
  // `snapshot` is borrowed: it must outlive the window.
  BackgroundWindow(HBITMAP snapshot, bool isolated) : snapshot_(snapshot), isolated_(isolated) {}
  virtual ~BackgroundWindow() { Release(); }
  BackgroundWindow(const BackgroundWindow&) = delete;
  BackgroundWindow& operator=(const BackgroundWindow&) = delete;

  // Slots in order: release (brush gone, window forgotten), initialise, uninitialise, is valid.
  virtual void Release();
  virtual bool Initialise();
  virtual void Uninitialise() { hwnd_ = nullptr; }
  virtual bool IsValid() const { return hwnd_ && ::IsWindow(hwnd_); }

  // Signalled once the window covers the screen (the isolated run waits for it); may be null.
  void SetReadyEvent(HANDLE event) { ready_ = event; }

  // Modal on the calling thread (the isolated run's background thread): returns the dialog's result.
  INT_PTR RunModal(HINSTANCE module);
  // Modeless, shown; null when it cannot be created.
  HWND CreateModeless(HINSTANCE module, HWND owner);

  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);

 private:
  HBITMAP snapshot_;
  bool isolated_;
  bool modal_ = false;
  HANDLE ready_ = nullptr;
  UniqueBrush brush_;
};

}  // namespace vd
