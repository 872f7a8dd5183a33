// p11count.dll: a test tool that stands between a program and a token module and counts every call per
// function. It loads the module named by P11COUNT_MODULE (a bare name is looked up beside this DLL; default
// the simulated module's file name), hands out copies of its two tables whose entries count and then call
// the module's own, and keeps the counts in a named shared-memory block (P11COUNT_NAME, by default the
// process id; see p11count_layout.h), so that the same process or another can read and reset them.
// Results and out-parameters are the module's own: nothing is checked or changed on the way.
#include "p11count_layout.h"
#include "pkcs11.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

namespace {

struct Counter {
  std::once_flag setup, list, aux;
  p11count::Block* block = nullptr;
  HMODULE real = nullptr;  // kept to the end of the process: freeing it on unload would mean FreeLibrary in DllMain
  CK_C_GetFunctionList realGetList = nullptr;
  GetAuxFunctionListFn realGetAux = nullptr;
  void* entries[p11count::kFunctionCount] = {};  // the module's own entry of each counted function
  CK_FUNCTION_LIST wrapped{};
  AuxFunctionList wrappedAux{};
};

Counter& TheCounter() {
  static Counter c;
  return c;
}

std::wstring Env(const wchar_t* name) {
  wchar_t buf[1024];
  DWORD n = ::GetEnvironmentVariableW(name, buf, 1024);
  return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

HMODULE OwnModule() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &self);
  return self;
}

void MapBlock(Counter& c) {
  std::wstring name = Env(L"P11COUNT_NAME");
  if (name.empty()) name = std::to_wstring(::GetCurrentProcessId());
  // Deliberately never closed: the block must outlive every call, and a reader may still hold it anyway.
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(p11count::Block),
                                        p11count::MappingName(name).c_str());
  if (!mapping) {
    ::OutputDebugStringW(L"p11count: cannot create the count block\n");
    return;
  }
  c.block = static_cast<p11count::Block*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof *c.block));
  if (!c.block) return;
  std::atomic_ref<uint32_t>(c.block->functions).store(p11count::kFunctionCount);
  std::atomic_ref<uint32_t>(c.block->magic).store(p11count::kMagic);
}

void LoadModule(Counter& c) {
  std::wstring file = Env(L"P11COUNT_MODULE");
  if (file.empty()) file = L"LumoraCSP11Brindlemark.dll";
  if (file.find_first_of(L"\\/:") == std::wstring::npos) {
    wchar_t self[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(OwnModule(), self, MAX_PATH * 2);
    std::wstring dir(self, n);
    file = dir.substr(0, dir.find_last_of(L"\\/") + 1) + file;
  }
  HMODULE m = ::LoadLibraryW(file.c_str());
  if (m && m == OwnModule()) {  // counting ourselves would recurse for ever
    ::FreeLibrary(m);
    m = nullptr;
  }
  if (!m) {
    ::OutputDebugStringW((L"p11count: cannot load " + file + L"\n").c_str());
    return;
  }
  c.real = m;
  c.realGetList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(m, "C_GetFunctionList")));
  c.realGetAux = reinterpret_cast<GetAuxFunctionListFn>(
      reinterpret_cast<void*>(::GetProcAddress(m, "E_GetAuxFunctionList")));
}

Counter& Ready() {
  Counter& c = TheCounter();
  std::call_once(c.setup, [&c] {
    MapBlock(c);
    LoadModule(c);
  });
  return c;
}

void Count(p11count::Function f) {
  Counter& c = TheCounter();
  if (c.block) std::atomic_ref<uint32_t>(c.block->calls[f]).fetch_add(1);
}

template <p11count::Function F, typename Entry>
struct Counted;

template <p11count::Function F, typename... A>
struct Counted<F, CK_RV (*)(A...)> {
  static CK_RV Call(A... args) {
    Count(F);
    return reinterpret_cast<CK_RV (*)(A...)>(TheCounter().entries[F])(args...);
  }
};

// The counted copy of an entry, or null where the module has none, so that a missing entry stays missing.
template <p11count::Function F, typename Entry>
Entry Wrap(Counter& c, Entry real) {
  c.entries[F] = reinterpret_cast<void*>(real);
  return real ? &Counted<F, Entry>::Call : nullptr;
}

CK_RV GetList(CK_FUNCTION_LIST_PTR_PTR list);

void WrapList(Counter& c, const CK_FUNCTION_LIST& real) {
  c.wrapped.version = real.version;
#define P11COUNT_WRAP(name) c.wrapped.name = Wrap<p11count::k_##name>(c, real.name);
  P11COUNT_STANDARD(P11COUNT_WRAP)
#undef P11COUNT_WRAP
  // Asked through the table, the list is the counted one too.
  if (c.wrapped.C_GetFunctionList) c.wrapped.C_GetFunctionList = GetList;
}

void WrapAux(Counter& c, const AuxFunctionList& real) {
  c.wrappedAux.version = real.version;
  c.wrappedAux.initToken = Wrap<p11count::k_E_InitToken>(c, real.initToken);
  c.wrappedAux.setLabel = Wrap<p11count::k_E_SetLabel>(c, real.setLabel);
  c.wrappedAux.getPinInfo = Wrap<p11count::k_E_GetPinInfo>(c, real.getPinInfo);
  c.wrappedAux.waitForEvent = Wrap<p11count::k_E_WaitForEvent>(c, real.waitForEvent);
}

CK_RV GetList(CK_FUNCTION_LIST_PTR_PTR list) {
  try {
    Counter& c = Ready();
    Count(p11count::k_C_GetFunctionList);
    // A module that is missing or lacks the export: what a program's binding reports for it.
    if (!c.realGetList) return CKR_FUNCTION_FAILED;
    CK_RV rv = c.realGetList(list);
    if (rv != CKR_OK || !list || !*list) return rv;
    CK_FUNCTION_LIST* real = *list;
    std::call_once(c.list, [&] { WrapList(c, *real); });
    *list = &c.wrapped;
    return rv;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

}  // namespace

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) { return GetList(list); }

extern "C" CK_RV E_GetAuxFunctionList(AuxFunctionList** list) {
  try {
    Counter& c = Ready();
    Count(p11count::k_E_GetAuxFunctionList);
    if (!c.realGetAux) return CKR_FUNCTION_FAILED;
    CK_RV rv = c.realGetAux(list);
    if (rv != CKR_OK || !list || !*list) return rv;
    AuxFunctionList* real = *list;
    std::call_once(c.aux, [&] { WrapAux(c, *real); });
    *list = &c.wrappedAux;
    return rv;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}
