// A picture of the whole primary screen at half brightness: what the PIN dialog shows behind itself, so
// the user sees where they are while nothing behind the dialog can be used.
#pragma once

#include <windows.h>

#include "handles.h"

namespace vd {

class DesktopSnapshot {
 public:
  DesktopSnapshot() = default;
  DesktopSnapshot(const DesktopSnapshot&) = delete;
  DesktopSnapshot& operator=(const DesktopSnapshot&) = delete;
  ~DesktopSnapshot() { Free(); }

  // Copies the screen (layered windows included) and dims it; the previous picture goes first. Null on
  // failure, with nothing kept.
  HBITMAP Capture();
  HBITMAP Bitmap() const { return bitmap_.get(); }
  SIZE Size() const { return size_; }
  void Free();

 private:
  UniqueMemDc dc_;
  UniqueBitmap bitmap_;
  HGDIOBJ original_ = nullptr;  // the memory DC's own bitmap, selected back before the DC goes
  SIZE size_{};
};

}  // namespace vd
