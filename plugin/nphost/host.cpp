#include "host.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "plugin_lookup.h"
#include "text.h"

namespace nphost {
namespace {

template <typename T>
T Export(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

size_t PageSize() {
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  return si.dwPageSize;
}

}  // namespace

GuardedBlock::GuardedBlock(size_t size) {
  const size_t page = PageSize();
  const size_t pages = (size + page - 1) / page + 1;
  base_ = ::VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!base_) return;
  char* guard = static_cast<char*>(base_) + (pages - 1) * page;
  DWORD old = 0;
  ::VirtualProtect(guard, page, PAGE_NOACCESS, &old);
  data_ = guard - size;
}

GuardedBlock::~GuardedBlock() {
  if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
}

PluginLibrary::~PluginLibrary() { Unload(); }

bool PluginLibrary::Load(const std::wstring& path, const Options& options, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    Unload();
    return false;
  };
  Unload();
  module_ = ::LoadLibraryW(path.c_str());
  if (!module_) return fail("cannot load the plug-in library");
  auto getEntryPoints = Export<NP_GetEntryPointsFunc>(module_, "NP_GetEntryPoints");
  auto initialize = Export<NP_InitializeFunc>(module_, "NP_Initialize");
  initialize_ = initialize;
  shutdown_ = Export<NP_ShutdownFunc>(module_, "NP_Shutdown");
  shutDown_ = false;
  if (!getEntryPoints || !initialize || !shutdown_) return fail("the library lacks an NP_ export");

  // Both tables are handed over at the end of a guarded block, cut to the sizes the options name.
  const uint16_t pluginSize = options.pluginTableSize;
  const uint16_t browserSize = options.browserTableSize;
  GuardedBlock pluginBlock(pluginSize);
  GuardedBlock browserBlock(browserSize);
  if (!pluginBlock.get() || !browserBlock.get()) return fail("out of memory");

  NPNetscapeFuncs full = BrowserFunctions();
  full.size = browserSize;
  full.version = options.browserVersion;
  std::memcpy(browserBlock.get(), &full, browserSize < sizeof full ? browserSize : sizeof full);

  NPPluginFuncs request{};
  request.size = pluginSize;
  request.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  std::memcpy(pluginBlock.get(), &request, pluginSize < sizeof request ? pluginSize : sizeof request);

  auto callEntryPoints = [&] {
    entryPointsResult_ = getEntryPoints(static_cast<NPPluginFuncs*>(pluginBlock.get()));
  };
  auto callInitialize = [&] {
    initializeResult_ = initialize(static_cast<NPNetscapeFuncs*>(browserBlock.get()));
  };
  if (options.entryPointsFirst) {
    callEntryPoints();
    callInitialize();
  } else {
    callInitialize();
    callEntryPoints();
  }
  funcs_ = NPPluginFuncs{};
  std::memcpy(&funcs_, pluginBlock.get(), pluginSize < sizeof funcs_ ? pluginSize : sizeof funcs_);
  if (entryPointsResult_ != NPERR_NO_ERROR) return fail("NP_GetEntryPoints failed");
  if (initializeResult_ != NPERR_NO_ERROR) return fail("NP_Initialize failed");
  return true;
}

void PluginLibrary::Unload() {
  if (!module_) return;
  if (shutdown_ && !shutDown_) shutdown_();
  ::FreeLibrary(module_);
  module_ = nullptr;
  initialize_ = nullptr;
  shutdown_ = nullptr;
  shutDown_ = false;
  funcs_ = NPPluginFuncs{};
}

NPError PluginLibrary::Shutdown() {
  if (!shutdown_) return NPERR_INVALID_PLUGIN_ERROR;
  shutDown_ = true;
  return shutdown_();
}

NPError PluginLibrary::Initialize() {
  if (!initialize_) return NPERR_INVALID_PLUGIN_ERROR;
  NPNetscapeFuncs table = BrowserFunctions();
  initializeResult_ = initialize_(&table);
  if (initializeResult_ == NPERR_NO_ERROR) shutDown_ = false;
  return initializeResult_;
}

Instance::~Instance() {
  if (alive_) Destroy();
}

NPError Instance::New(const char* mimeType) {
  if (!library_.funcs().newp) return NPERR_INVALID_FUNCTABLE_ERROR;
  npp_ = NPP_t{};
  NPError rv = library_.funcs().newp(const_cast<char*>(mimeType), &npp_, NP_EMBED, 0, nullptr, nullptr, nullptr);
  alive_ = rv == NPERR_NO_ERROR;
  return rv;
}

NPError Instance::Destroy() {
  if (!library_.funcs().destroy) return NPERR_INVALID_FUNCTABLE_ERROR;
  NPSavedData* saved = nullptr;
  NPError rv = library_.funcs().destroy(&npp_, &saved);
  alive_ = false;
  return rv;
}

NPError Instance::GetValue(NPPVariable variable, void* value) {
  if (!library_.funcs().getvalue) return NPERR_INVALID_FUNCTABLE_ERROR;
  return library_.funcs().getvalue(&npp_, variable, value);
}

NPObject* Instance::ScriptableObject(NPError* result) {
  NPObject* obj = nullptr;
  NPError rv = GetValue(NPPVpluginScriptableNPObject, &obj);
  if (result) *result = rv;
  return rv == NPERR_NO_ERROR ? obj : nullptr;
}

bool InvokeMethod(NPP npp, NPObject* obj, const char* method, const std::vector<NPVariant>& args,
                  NPVariant* result) {
  static const NPNetscapeFuncs browser = BrowserFunctions();
  return browser.invoke(npp, obj, Identifier(method), args.empty() ? nullptr : args.data(),
                        static_cast<uint32_t>(args.size()), result);
}

std::string DescribeResult(bool ok, const NPVariant& result) {
  if (!ok) return "error";
  switch (result.type) {
    case NPVariantType_Int32:
      return "int " + std::to_string(result.value.intValue);
    case NPVariantType_String: {
      std::string s = "string \"";
      const NPString& str = result.value.stringValue;
      for (uint32_t i = 0; i < str.UTF8Length; ++i) {
        unsigned char c = static_cast<unsigned char>(str.UTF8Characters[i]);
        if (c == '"' || c == '\\') {
          s += '\\';
          s += static_cast<char>(c);
        } else if (c < 0x20) {
          char esc[5];
          std::snprintf(esc, sizeof esc, "\\x%02x", c);
          s += esc;
        } else {
          s += static_cast<char>(c);
        }
      }
      return s + "\"";
    }
    case NPVariantType_Bool:
      return result.value.boolValue ? "bool true" : "bool false";
    case NPVariantType_Null:
      return "null";
    case NPVariantType_Void:
      return "void";
    default:
      return "other";
  }
}

int RunCommandLine(int argc, wchar_t** argv, std::string* out, std::string* err) {
  // "--origin ORIGIN" first: the page's origin as the browser reports it (the plug-in serves listed pages
  // only), instead of the stand-in's own.
  int skip = 0;
  if (argc > 2 && std::wcscmp(argv[1], L"--origin") == 0) {
    SetPageOrigin(vd::WideToUtf8(argv[2]), OriginStyle::kDocumentOrigin);
    skip = 2;
  }
  // "--mime TYPE" in place of the file: the plug-in is the one registered for the type, as a browser finds it.
  const bool byType = argc > skip + 1 && std::wcscmp(argv[skip + 1], L"--mime") == 0;
  const int first = skip + (byType ? 2 : 1);
  if (argc < first + 2 || argc > first + 3) {
    *err += "usage: nphost [--origin ORIGIN] PLUGIN.dll METHOD [TEXT]\n"
            "       nphost [--origin ORIGIN] --mime TYPE METHOD [TEXT]\n";
    return 2;
  }
  std::wstring pluginPath = argv[first];
  if (byType) {
    std::optional<std::wstring> found = FindPluginForMimeType(pluginPath);
    if (!found) {
      *err += "nphost: no plug-in is registered for " + vd::WideToUtf8(pluginPath) + "\n";
      return 2;
    }
    pluginPath = *found;
  }
  const std::string method = vd::WideToUtf8(argv[first + 1]);
  PluginLibrary library;
  std::string why;
  if (!library.Load(pluginPath, &why)) {
    *err += "nphost: " + why + "\n";
    return 2;
  }
  int code = 2;
  {
    Instance instance(library);
    if (instance.New() != NPERR_NO_ERROR) {
      *err += "nphost: NPP_New failed\n";
      return 2;
    }
    NPObject* obj = instance.ScriptableObject();
    if (!obj) {
      *err += "nphost: the plug-in gave no scriptable object\n";
      return 2;
    }
    std::string text;
    std::vector<NPVariant> args;
    if (argc == first + 3) {
      text = vd::WideToUtf8(argv[first + 2]);
      args.push_back(StringVariant(text));
    }
    NPVariant result = VoidVariant();
    bool ok = InvokeMethod(instance.npp(), obj, method.c_str(), args, &result);
    *out += DescribeResult(ok, result) + "\n";
    if (ok) ReleaseVariant(&result);
    BrowserFunctions().releaseobject(obj);
    code = ok ? 0 : 1;
  }
  return code;
}

}  // namespace nphost
