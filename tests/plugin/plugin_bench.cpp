// Benchmark: "GetAllCertCn" and "GetSN" through nphost on a token with 1, 10 and 50 certificates, against
// the floor measured in the same run — the bare PKCS#11 reads of the same certificates plus their
// CryptoAPI decoding. Prints time per call and the ratio to the floor (target: within 1.3).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pkcs11.h"
#include "plugin_page.h"
#include "testsupport.h"
#include "trusted_list.h"

namespace {

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

bool Ctl(const std::wstring& args) { return vdtest::RunTool(L"tokenctl.exe", args).exitCode == 0; }

// What any reader of the certificates must do: list the slot, open a session, find and read every
// certificate value, decode it and take the entry text.
size_t FloorPass(CK_FUNCTION_LIST* f, bool names) {
  CK_SLOT_ID slots[10];
  CK_ULONG n = 10;
  if (f->C_GetSlotList(CK_TRUE, nullptr, &n) != CKR_OK || n != 1) return 0;
  if (f->C_GetSlotList(CK_TRUE, slots, &n) != CKR_OK) return 0;
  CK_SESSION_HANDLE s = 0;
  if (f->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK) return 0;
  CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
  CK_BBOOL yes = CK_TRUE;
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &yes, sizeof yes}};
  f->C_FindObjectsInit(s, tmpl, 2);
  size_t total = 0;
  for (;;) {
    CK_OBJECT_HANDLE h;
    CK_ULONG found = 0;
    if (f->C_FindObjects(s, &h, 1, &found) != CKR_OK || found != 1) break;
    CK_ATTRIBUTE a = {CKA_VALUE, nullptr, 0};
    if (f->C_GetAttributeValue(s, h, &a, 1) != CKR_OK) break;
    std::vector<BYTE> der(a.ulValueLen);
    a.pValue = der.data();
    if (f->C_GetAttributeValue(s, h, &a, 1) != CKR_OK) break;
    PCCERT_CONTEXT c = ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(a.ulValueLen));
    if (!c) break;
    if (names) {
      char name[256];
      DWORD len = ::CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
      total += ::CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, len < 256 ? len : 256);
    } else {
      total += c->pCertInfo->SerialNumber.cbData * 2;
    }
    ::CertFreeCertificateContext(c);
  }
  f->C_FindObjectsFinal(s);
  f->C_CloseSession(s);
  return total;
}

template <typename F>
double SecondsPerCall(int rounds, F&& body) {
  body();  // warm
  double start = Now();
  for (int i = 0; i < rounds; ++i) body();
  return (Now() - start) / rounds;
}

}  // namespace

int main() {
  vdtest::ScopedSimTokenDir tokens;
  hosttest::ScopedTrustedOrigins list;  // nphost's page is listed, as the bank's would be
  if (!list.SetList({L"http://127.0.0.1"})) return 1;
  const wchar_t* files[] = {L"sign.der", L"enc.der", L"nokey.der", L"serial_hi.der", L"utf8name.der"};
  std::printf("%-6s %-13s %12s %12s %7s\n", "certs", "method", "plugin us", "floor us", "ratio");
  int done = 0;
  for (int certs : {1, 10, 50}) {
    for (; done < certs; ++done) {
      if (done == 0 && !Ctl(L"insert 1")) {
        std::fprintf(stderr, "tokenctl insert failed\n");
        return 1;
      }
      Ctl(L"add-cert 1 \"" + vdtest::TestCert(files[done % 5]) + L"\" --key none");
    }
    plugintest::Page page;
    if (!page.ready()) return 1;
    HMODULE m = ::GetModuleHandleA("LumoraCSP11Brindlemark.dll");
    auto getList = m ? reinterpret_cast<CK_C_GetFunctionList>(
                           reinterpret_cast<void*>(::GetProcAddress(m, "C_GetFunctionList")))
                     : nullptr;
    CK_FUNCTION_LIST* f = nullptr;
    if (!getList || getList(&f) != CKR_OK) {
      std::fprintf(stderr, "token module not loaded by the plug-in\n");
      return 1;
    }
    const int rounds = certs == 50 ? 20 : certs == 10 ? 60 : 200;
    for (bool names : {true, false}) {
      const char* method = names ? "GetAllCertCn" : "GetSN";
      // Alternate the two measurements in slices so that drift in the machine's load hits both alike.
      double plugin = 0, floor = 0;
      for (int slice = 0; slice < 4; ++slice) {
        plugin += SecondsPerCall(rounds / 4, [&] { page.Call(method); });
        floor += SecondsPerCall(rounds / 4, [&] { FloorPass(f, names); });
      }
      plugin /= 4;
      floor /= 4;
      std::printf("%-6d %-13s %12.1f %12.1f %7.2f\n", certs, method, plugin * 1e6, floor * 1e6, plugin / floor);
    }
  }
  return 0;
}
