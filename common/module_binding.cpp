#include "module_binding.h"

#include <cstring>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vd {
namespace {

#define VD_STANDARD_ENTRY(name) offsetof(CK_FUNCTION_LIST, name)

// Everything the window's token work calls: the token list and its reading, store registration, the
// facts, the label and the PIN change.
constexpr size_t kVardeckFunctions[] = {
    VD_STANDARD_ENTRY(C_Initialize),      VD_STANDARD_ENTRY(C_Finalize),        VD_STANDARD_ENTRY(C_GetSlotList),
    VD_STANDARD_ENTRY(C_GetSlotInfo),     VD_STANDARD_ENTRY(C_GetTokenInfo),    VD_STANDARD_ENTRY(C_OpenSession),
    VD_STANDARD_ENTRY(C_CloseSession),    VD_STANDARD_ENTRY(C_FindObjectsInit), VD_STANDARD_ENTRY(C_FindObjects),
    VD_STANDARD_ENTRY(C_FindObjectsFinal), VD_STANDARD_ENTRY(C_GetAttributeValue), VD_STANDARD_ENTRY(C_SetPIN),
};
// The monitor waits in the event entry for the life of the program; the label and PIN entries are
// checked where they are used, and their absence only disables those commands.
constexpr size_t kVardeckAux[] = {offsetof(AuxFunctionList, waitForEvent)};

// The counting, listing and re-initialising queries of a bank page.
constexpr size_t kTokenQueryFunctions[] = {
    VD_STANDARD_ENTRY(C_Initialize),      VD_STANDARD_ENTRY(C_Finalize),        VD_STANDARD_ENTRY(C_GetSlotList),
    VD_STANDARD_ENTRY(C_GetTokenInfo),    VD_STANDARD_ENTRY(C_CloseAllSessions), VD_STANDARD_ENTRY(C_OpenSession),
    VD_STANDARD_ENTRY(C_CloseSession),    VD_STANDARD_ENTRY(C_FindObjectsInit), VD_STANDARD_ENTRY(C_FindObjects),
    VD_STANDARD_ENTRY(C_FindObjectsFinal), VD_STANDARD_ENTRY(C_GetAttributeValue),
};

#undef VD_STANDARD_ENTRY

// Every entry of both tables is a function pointer; the tables are packed, so an entry is read, not
// dereferenced in place.
bool HasEntries(const void* table, std::span<const size_t> offsets) {
  for (size_t offset : offsets) {
    void (*entry)() = nullptr;
    std::memcpy(&entry, static_cast<const char*>(table) + offset, sizeof entry);
    if (!entry) return false;
  }
  return true;
}

template <typename T>
T ModuleExport(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A bare name is looked for beside the program or DLL this code is linked into (the installation folder),
// never along the search path, where anyone who may write to a folder on PATH or to the current folder
// could put a module of the same name.
std::wstring FullPath(const std::wstring& fileName) {
  if (fileName.find_first_of(L"\\/:") != std::wstring::npos) return fileName;
  wchar_t own[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), own, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return fileName;
  std::wstring folder(own, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1) + fileName;
}

HMODULE LoadByFullPath(const std::wstring& path) {
  // The module's own imports come from its folder and the system folder where the system can say so
  // (AddDllDirectory's presence tells, Windows 7 with KB2533623 and later), else from the altered search
  // path, which starts at the module's folder.
  constexpr DWORD kSearchDllLoadDir = 0x100, kSearchSystem32 = 0x800;
  const bool searchFlags = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr;
  return ::LoadLibraryExW(path.c_str(), nullptr,
                          searchFlags ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void LimitDllSearch() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  using SetDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  constexpr DWORD kSearchApplicationDir = 0x200, kSearchSystem32 = 0x800;
  if (auto setDefault = reinterpret_cast<SetDefaultFn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
      setDefault && setDefault(kSearchApplicationDir | kSearchSystem32))
    return;
  // Windows XP SP1 and later: at least the current folder leaves the search.
  if (auto setDirectory =
          reinterpret_cast<SetDirectoryFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryW"))))
    setDirectory(L"");
}

constinit const ModuleNeeds kVardeckNeeds = {kVardeckFunctions, true, kVardeckAux};
constinit const ModuleNeeds kTokenQueryNeeds = {kTokenQueryFunctions, false, {}};

CK_RV ModuleBinding::Bind(const std::wstring& fileName) {
  if (module_) return CKR_OK;
  return Adopt(UniqueModule(LoadByFullPath(FullPath(fileName))));
}

CK_RV ModuleBinding::Bind(const std::string& fileName) {
  if (module_) return CKR_OK;
  // The plug-in's names are in the system's 8-bit code page.
  const int n = ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, nullptr, 0);
  if (n <= 0) return CKR_FUNCTION_FAILED;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return Bind(wide);
}

CK_RV ModuleBinding::Adopt(UniqueModule module) {
  if (!module) return CKR_FUNCTION_FAILED;
  auto getList = ModuleExport<CK_C_GetFunctionList>(module.get(), "C_GetFunctionList");
  auto getAux = ModuleExport<GetAuxFunctionListFn>(module.get(), "E_GetAuxFunctionList");
  // A program that cannot work without the vendor table asks the module for nothing when it lacks one.
  if (!getList || (needs_.auxRequired && !getAux)) return CKR_FUNCTION_FAILED;
  CK_FUNCTION_LIST* functions = nullptr;
  CK_RV rv = getList(&functions);
  if (rv != CKR_OK) return rv;
  AuxFunctionList* aux = nullptr;
  if (needs_.auxRequired) {
    rv = FetchAux(getAux, &aux);
    if (rv != CKR_OK) return rv;
  }
  if (!functions || functions->version.major != 2 || !HasEntries(functions, needs_.functions))
    return CKR_FUNCTION_FAILED;
  module_ = std::move(module);
  functions_ = functions;
  aux_ = aux;
  return CKR_OK;
}

CK_RV ModuleBinding::BindAux() {
  if (!module_) return CKR_FUNCTION_FAILED;
  if (aux_) return CKR_OK;
  auto getAux = ModuleExport<GetAuxFunctionListFn>(module_.get(), "E_GetAuxFunctionList");
  if (!getAux) return CKR_FUNCTION_FAILED;
  return FetchAux(getAux, &aux_);
}

CK_RV ModuleBinding::FetchAux(GetAuxFunctionListFn getAux, AuxFunctionList** aux) const {
  AuxFunctionList* table = nullptr;
  CK_RV rv = getAux(&table);
  if (rv != CKR_OK) return rv;
  if (!table || !HasEntries(table, needs_.aux)) return CKR_FUNCTION_FAILED;
  *aux = table;
  return CKR_OK;
}

void ModuleBinding::Release() {
  functions_ = nullptr;
  aux_ = nullptr;
  module_.reset();
}

}  // namespace vd
