#include "plugin_page.h"

#include <gtest/gtest.h>

#include "testsupport.h"

namespace plugintest {

std::wstring PluginDll() { return vdtest::BinDir() + L"npLumora.dll"; }

const NPNetscapeFuncs& Browser() {
  static const NPNetscapeFuncs table = nphost::BrowserFunctions();
  return table;
}

Page::Page(const nphost::PluginLibrary::Options& options) {
  std::string why;
  if (!library_.Load(PluginDll(), options, &why)) {
    ADD_FAILURE() << "plug-in did not load: " << why;
    return;
  }
  instance_ = std::make_unique<nphost::Instance>(library_);
  if (instance_->New() != NPERR_NO_ERROR) {
    ADD_FAILURE() << "NPP_New failed";
    return;
  }
  object_ = instance_->ScriptableObject();
}

Page::~Page() {
  if (object_) Browser().releaseobject(object_);
  instance_.reset();
  library_.Unload();
}

std::string Page::Call(const char* method, std::vector<NPVariant> args) {
  if (!object_) return "no object";
  NPVariant result = nphost::VoidVariant();
  bool ok = nphost::InvokeMethod(instance_->npp(), object_, method, args, &result);
  std::string text = nphost::DescribeResult(ok, result);
  if (ok) nphost::ReleaseVariant(&result);
  return text;
}

}  // namespace plugintest
