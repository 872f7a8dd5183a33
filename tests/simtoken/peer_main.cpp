// simtoken_peer.exe MODULE STEP...: a second process that uses a token module, for the tests of what one
// process sees of another. Runs its steps in order and exits 0, or 1 with a message at the first step
// that fails. Steps:
//   init | finalize                  C_Initialize / C_Finalize
//   open SLOT N                      opens N read-write sessions
//   label SLOT TEXT                  the vendor label entry (TEXT blank-padded to 32 bytes)
//   setpin SLOT OLD NEW              C_SetPIN in a new session; prints its result as "rv=N" (decimal)
//   signal NAME                      sets the named event NAME (the test waits for it)
//   hold                             sleeps until the test ends the process
//   exit                             ends the process at once, finalising nothing
//   die-writing SLOT TEXT STAGE      as a writer killed in the middle: takes the state lock, marks a change,
//                                    then (STAGE "moved") replaces the slot's file with one labelled TEXT or
//                                    (STAGE "temp") writes only the temporary file, and ends itself, exit 9
#include "handles.h"
#include "pkcs11.h"
#include "store.h"

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "simtoken_peer: %s\n", what.c_str());
  return 1;
}

std::string Narrow(const wchar_t* s) {
  std::string out;
  for (; *s; ++s) out.push_back(static_cast<char>(*s));
  return out;
}

std::wstring BinDir() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  std::wstring p(buf, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

[[noreturn]] void DieWriting(CK_SLOT_ID slot, const std::string& label, bool moved) {
  std::wstring error;
  std::unique_ptr<simtoken::Store> store = simtoken::Store::Open(&error);
  if (!store) std::exit(Fail("no store"));
  HANDLE lock = ::CreateMutexW(nullptr, FALSE, (store->objectPrefix() + L"-lock").c_str());
  ::WaitForSingleObject(lock, INFINITE);
  simtoken::Token t;
  if (store->LoadToken(slot, &t) != simtoken::LoadResult::kOk) std::exit(Fail("no token to change"));
  t.SetLabel(label);
  std::vector<uint8_t> bytes = simtoken::EncodeToken(t);
  store->shared().BeginChange();
  std::wstring path = store->TokenPath(slot);
  if (!moved) path += L".tmp" + std::to_wstring(::GetCurrentProcessId());
  if (!simtoken::WriteFileAtomic(path, bytes.data(), bytes.size())) std::exit(Fail("cannot write"));
  ::TerminateProcess(::GetCurrentProcess(), 9);  // still holding the lock, the change not counted
  std::exit(9);
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // plain "\n" line ends, as the tests read them
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);  // freed with the process
  if (!argv || argc < 2) return Fail("usage: simtoken_peer MODULE STEP...");
  vd::UniqueModule dll(::LoadLibraryW((BinDir() + argv[1]).c_str()));
  auto getList = dll ? reinterpret_cast<CK_C_GetFunctionList>(
                           reinterpret_cast<void*>(::GetProcAddress(dll.get(), "C_GetFunctionList")))
                     : nullptr;
  auto getAux = dll ? reinterpret_cast<GetAuxFunctionListFn>(
                          reinterpret_cast<void*>(::GetProcAddress(dll.get(), "E_GetAuxFunctionList")))
                    : nullptr;
  CK_FUNCTION_LIST* f = nullptr;
  AuxFunctionList* aux = nullptr;
  if (!getList || getList(&f) != CKR_OK || !getAux || getAux(&aux) != CKR_OK) return Fail("cannot bind the module");
  auto arg = [&](int& i) -> std::wstring {
    if (i + 1 >= argc) std::exit(Fail("a step lacks its arguments"));
    return argv[++i];
  };
  for (int i = 2; i < argc; ++i) {
    std::wstring step = argv[i];
    CK_RV rv = CKR_OK;
    if (step == L"init") {
      rv = f->C_Initialize(nullptr);
    } else if (step == L"finalize") {
      rv = f->C_Finalize(nullptr);
    } else if (step == L"open") {
      CK_SLOT_ID slot = std::wcstoul(arg(i).c_str(), nullptr, 10);
      for (unsigned long n = std::wcstoul(arg(i).c_str(), nullptr, 10); n > 0 && rv == CKR_OK; --n) {
        CK_SESSION_HANDLE s = 0;
        rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
      }
    } else if (step == L"label") {
      CK_SLOT_ID slot = std::wcstoul(arg(i).c_str(), nullptr, 10);
      std::string text = Narrow(arg(i).c_str());
      CK_UTF8CHAR label[32];
      std::memset(label, ' ', sizeof label);
      std::memcpy(label, text.data(), std::min(text.size(), sizeof label));
      rv = aux->setLabel(slot, 0, 0, 0, label);
    } else if (step == L"setpin") {
      CK_SLOT_ID slot = std::wcstoul(arg(i).c_str(), nullptr, 10);
      std::string oldPin = Narrow(arg(i).c_str()), newPin = Narrow(arg(i).c_str());
      CK_SESSION_HANDLE s = 0;
      rv = f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
      if (rv != CKR_OK) return Fail("C_OpenSession failed");
      CK_RV pinRv = f->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(oldPin.data()), oldPin.size(),
                                reinterpret_cast<CK_UTF8CHAR*>(newPin.data()), newPin.size());
      std::printf("rv=%lu\n", static_cast<unsigned long>(pinRv));
      rv = f->C_CloseSession(s);
    } else if (step == L"signal") {
      vd::UniqueKernelHandle ev(::OpenEventW(EVENT_MODIFY_STATE, FALSE, arg(i).c_str()));
      if (!ev || !::SetEvent(ev.get())) return Fail("cannot signal");
    } else if (step == L"hold") {
      ::Sleep(INFINITE);
    } else if (step == L"exit") {
      std::fflush(stdout);
      ::ExitProcess(0);
    } else if (step == L"die-writing") {
      CK_SLOT_ID slot = std::wcstoul(arg(i).c_str(), nullptr, 10);
      std::string label = Narrow(arg(i).c_str());
      DieWriting(slot, label, arg(i) == L"moved");
    } else {
      return Fail("unknown step " + Narrow(step.c_str()));
    }
    if (rv != CKR_OK) return Fail(Narrow(step.c_str()) + " returned " + std::to_string(rv));
  }
  return 0;
}
