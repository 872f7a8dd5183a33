// nphost's plug-in side: loading a plug-in library the way a browser does, instances, the scriptable
// object and method calls. The command line and the tests drive the same code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "browser.h"
#include "npapi.h"

namespace nphost {

// A block whose last byte is followed by an inaccessible page: a plug-in that reads or writes past a
// table's declared size faults at once instead of silently touching neighbouring memory.
class GuardedBlock {
 public:
  explicit GuardedBlock(size_t size);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  void* get() const { return data_; }

 private:
  void* base_ = nullptr;
  void* data_ = nullptr;
};

class PluginLibrary {
 public:
  struct Options {
    bool entryPointsFirst = true;  // NP_GetEntryPoints before NP_Initialize, as most browsers do
    uint16_t browserTableSize = sizeof(NPNetscapeFuncs);
    uint16_t browserVersion = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    uint16_t pluginTableSize = sizeof(NPPluginFuncs);
  };

  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library and runs its two start-up exports in the chosen order. False (with a reason) when the
  // file or an export is missing or an export fails.
  bool Load(const std::wstring& path, const Options& options, std::string* error);
  bool Load(const std::wstring& path, std::string* error) { return Load(path, Options{}, error); }
  // NP_Shutdown, then FreeLibrary. Safe to call twice.
  void Unload();
  // NP_Shutdown alone: the library stays loaded, as a browser keeps it between pages.
  NPError Shutdown();
  // NP_Initialize once more, with a full browser table, as after a Shutdown for the next page.
  NPError Initialize();

  HMODULE module() const { return module_; }
  // The plug-in's callbacks as it wrote them (members beyond the table size stay empty).
  const NPPluginFuncs& funcs() const { return funcs_; }
  NPError entryPointsResult() const { return entryPointsResult_; }
  NPError initializeResult() const { return initializeResult_; }

 private:
  HMODULE module_ = nullptr;
  NPPluginFuncs funcs_{};
  NP_InitializeFunc initialize_ = nullptr;
  NP_ShutdownFunc shutdown_ = nullptr;
  bool shutDown_ = false;  // NP_Shutdown ran and no NP_Initialize since
  NPError entryPointsResult_ = NPERR_GENERIC_ERROR;
  NPError initializeResult_ = NPERR_GENERIC_ERROR;
};

// One plug-in instance, as an <embed> of the plug-in's MIME type would make.
class Instance {
 public:
  explicit Instance(const PluginLibrary& library) : library_(library) {}
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  NPError New(const char* mimeType = "application/npLumora");
  NPError Destroy();
  bool alive() const { return alive_; }
  NPP npp() { return &npp_; }

  NPError GetValue(NPPVariable variable, void* value);
  // The instance's scriptable object with one reference for the caller, or null.
  NPObject* ScriptableObject(NPError* result = nullptr);

 private:
  const PluginLibrary& library_;
  NPP_t npp_{};
  bool alive_ = false;
};

// Invokes a method by name through the browser's function table; false when the plug-in refused.
bool InvokeMethod(NPP npp, NPObject* obj, const char* method, const std::vector<NPVariant>& args,
                  NPVariant* result);

// How the command line prints a result: int N, string "..." (bytes below 0x20, '"' and '\' escaped), error.
std::string DescribeResult(bool ok, const NPVariant& result);

// nphost PLUGIN.dll METHOD [TEXT], or nphost --mime TYPE METHOD [TEXT] for the plug-in registered for the
// type: loads the plug-in, makes one instance, calls the method and prints the result on `out`. Answers
// the process exit code: 0 for a result, 1 for "error", 2 when it could not run.
int RunCommandLine(int argc, wchar_t** argv, std::string* out, std::string* err);

}  // namespace nphost
