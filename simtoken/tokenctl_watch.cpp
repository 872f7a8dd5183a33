// tokenctl watch: a process that waits in the module's event entry, as the tray program does, and prints
// every event it receives. Useful to see what other processes will be told.
#include "handles.h"
#include "pkcs11.h"
#include "tokenctl_commands.h"
#include "tokenctl_util.h"

#include <cstdio>

namespace tokenctl {
namespace {

struct TimeoutArgs {
  CK_FUNCTION_LIST* list;
  DWORD ms;
  HANDLE cancel;
};

// Ends the watch by finalising the module, which is what wakes a waiting event entry.
DWORD WINAPI TimeoutThread(void* param) {
  auto* t = static_cast<TimeoutArgs*>(param);
  if (::WaitForSingleObject(t->cancel, t->ms) == WAIT_TIMEOUT) t->list->C_Finalize(nullptr);
  return 0;
}

std::wstring ModulePath() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  std::wstring p(buf, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + L"LumoraCSP11Brindlemark.dll";
}

}  // namespace

int CmdWatch(const Args& a) {
  ParsedArgs p;
  std::string error;
  if (!ParseArgs(a, 2, {L"count", L"timeout"}, {}, &p, &error)) return BadArgument(error);
  if (!p.positional.empty()) return BadArgument("watch takes only options");
  uint32_t count = 0, timeout = 0;
  if (auto it = p.values.find(L"count"); it != p.values.end()) {
    auto v = ParseNumber(it->second);
    if (!v || *v == 0) return BadArgument("--count takes a positive number");
    count = *v;
  }
  if (auto it = p.values.find(L"timeout"); it != p.values.end()) {
    auto v = ParseNumber(it->second);
    if (!v || *v == 0 || *v > 86400) return BadArgument("--timeout takes seconds from 1 to 86400");
    timeout = *v;
  }

  vd::UniqueModule module(::LoadLibraryW(ModulePath().c_str()));
  if (!module) return BadArgument("cannot load LumoraCSP11Brindlemark.dll beside tokenctl");
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(module.get(), "C_GetFunctionList")));
  auto getAux = reinterpret_cast<GetAuxFunctionListFn>(
      reinterpret_cast<void*>(::GetProcAddress(module.get(), "E_GetAuxFunctionList")));
  CK_FUNCTION_LIST* list = nullptr;
  AuxFunctionList* aux = nullptr;
  if (!getList || !getAux || getList(&list) != CKR_OK || getAux(&aux) != CKR_OK || !aux->waitForEvent)
    return BadArgument("the module lacks its function tables");
  CK_RV rv = list->C_Initialize(nullptr);
  if (rv != CKR_OK) {
    std::fprintf(stderr, "tokenctl: C_Initialize: 0x%lx\n", static_cast<unsigned long>(rv));
    return 1;
  }
  std::printf("watching\n");
  std::fflush(stdout);

  vd::UniqueKernelHandle cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TimeoutArgs targs{list, timeout * 1000, cancel.get()};
  vd::UniqueKernelHandle timer;
  if (timeout) timer.reset(::CreateThread(nullptr, 0, TimeoutThread, &targs, 0, nullptr));

  int exitCode = 0;
  for (uint32_t seen = 0; count == 0 || seen < count; ++seen) {
    CK_SLOT_ID slot = 0;
    CK_ULONG code = 0, data = 0;
    rv = aux->waitForEvent(0, &slot, &code, &data, nullptr);
    if (rv != CKR_OK) {
      if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        std::printf("timed out\n");
      } else {
        std::fprintf(stderr, "tokenctl: event entry: 0x%lx\n", static_cast<unsigned long>(rv));
      }
      exitCode = 1;
      break;
    }
    std::printf("event slot=%lu code=%lu data=%lu\n", static_cast<unsigned long>(slot),
                static_cast<unsigned long>(code), static_cast<unsigned long>(data));
    std::fflush(stdout);
  }
  ::SetEvent(cancel.get());
  if (timer) ::WaitForSingleObject(timer.get(), INFINITE);
  list->C_Finalize(nullptr);
  return exitCode;
}

}  // namespace tokenctl
