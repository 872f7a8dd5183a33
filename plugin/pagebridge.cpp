#include "pagebridge.h"

#include <new>

namespace np {
namespace {

CPagebridgeWin32Impl* g_pagebridge = nullptr;

}  // namespace

CPagebridgeWin32Impl* Pagebridge() {
  if (!g_pagebridge) {
    g_pagebridge = new (std::nothrow) CPagebridgeWin32Impl;
    if (g_pagebridge) g_pagebridge->Load();  // a failed load leaves every query failing softly
  }
  return g_pagebridge;
}

CPagebridgeWin32Impl* LivePagebridge() { return g_pagebridge; }

void DestroyPagebridge() {
  delete g_pagebridge;
  g_pagebridge = nullptr;
}

}  // namespace np
