// A page that embeds the plug-in: the library loaded through nphost, one instance and its scriptable
// object, and calls that answer as nphost prints them ("int 3", "string \"...\"", "error").
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "browser.h"
#include "host.h"

namespace plugintest {

std::wstring PluginDll();

class Page {
 public:
  explicit Page(const nphost::PluginLibrary::Options& options = {});
  ~Page();
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  bool ready() const { return object_ != nullptr; }
  std::string Call(const char* method, std::vector<NPVariant> args = {});
  std::string Call(const char* method, const std::string& text) { return Call(method, {nphost::StringVariant(text)}); }

  nphost::PluginLibrary& library() { return library_; }
  nphost::Instance& instance() { return *instance_; }
  NPObject* object() { return object_; }

 private:
  nphost::PluginLibrary library_;
  std::unique_ptr<nphost::Instance> instance_;
  NPObject* object_ = nullptr;  // the page's own reference
};

// The browser function table nphost hands to plug-ins, for calls a page would make.
const NPNetscapeFuncs& Browser();

}  // namespace plugintest
