// host_pin_check.exe SLOT PIN: asks the token in SLOT, through the token module beside the tool, whether
// PIN is its user PIN, and prints the module's answer. The question is a PIN change from PIN to PIN (the
// one PIN check the module offers without a login); a wrong PIN costs one try, as on a real token.
// Exit 0 when PIN is the user PIN, 1 when not, 2 when the token cannot be reached. The browser tests use
// it to see that a re-initialised token got its default PIN.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pkcs11.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: host_pin_check SLOT PIN\n");
    return 2;
  }
  HMODULE module = ::LoadLibraryA("LumoraCSP11Brindlemark.dll");
  auto getList = module ? reinterpret_cast<CK_C_GetFunctionList>(
                              reinterpret_cast<void*>(::GetProcAddress(module, "C_GetFunctionList")))
                        : nullptr;
  CK_FUNCTION_LIST* f = nullptr;
  if (!getList || getList(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
    std::fprintf(stderr, "host_pin_check: the token module is not usable\n");
    return 2;
  }
  CK_SESSION_HANDLE session = 0;
  CK_RV rv = f->C_OpenSession(std::strtoul(argv[1], nullptr, 10), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                              nullptr, &session);
  int code = 2;
  if (rv == CKR_OK) {
    auto* pin = reinterpret_cast<CK_UTF8CHAR*>(argv[2]);
    const auto length = static_cast<CK_ULONG>(std::strlen(argv[2]));
    rv = f->C_SetPIN(session, pin, length, pin, length);
    code = rv == CKR_OK ? 0 : rv == CKR_PIN_INCORRECT ? 1 : 2;
    f->C_CloseSession(session);
  }
  std::printf("C_SetPIN 0x%lx\n", static_cast<unsigned long>(rv));
  f->C_Finalize(nullptr);
  ::FreeLibrary(module);
  return code;
}
