// A second process for the token tests, reading and using the user's stores the way another program would.
//   token_probe stores          one line per MY/CA/ROOT/ADDRESSBOOK entry:
//                               STORE <tab> SHA1 <tab> provider|- <tab> container|- <tab> keyspec|-
//   token_probe hold            loads a token manager, prints "loaded <rv>" and waits to be killed
//   token_probe wait-my SHA1 MS polls MY until the entry is there; prints "seen <qpc ticks>" or "timeout"
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "text.h"
#include "token_manager.h"

namespace {

std::wstring Sha1Hex(PCCERT_CONTEXT c) {
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!::CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size)) return L"?";
  std::wstring s;
  wchar_t buf[3];
  for (DWORD i = 0; i < size; ++i) {
    swprintf(buf, 3, L"%02X", hash[i]);
    s += buf;
  }
  return s;
}

void PrintStore(const wchar_t* name) {
  HCERTSTORE store = vd::OpenSystemStore(name);
  if (!store) return;
  PCCERT_CONTEXT c = nullptr;
  while ((c = ::CertEnumCertificatesInStore(store, c)) != nullptr) {
    std::wstring provider = L"-", container = L"-", keySpec = L"-";
    DWORD size = 0;
    if (::CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) && size) {
      std::vector<BYTE> data(size);
      if (::CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) {
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(data.data());
        if (info->pwszProvName) provider = info->pwszProvName;
        if (info->pwszContainerName) container = info->pwszContainerName;
        keySpec = std::to_wstring(info->dwKeySpec);
      }
    }
    std::string line = vd::WideToUtf8(std::wstring(name) + L"\t" + Sha1Hex(c) + L"\t" + provider + L"\t" +
                                      container + L"\t" + keySpec + L"\n");
    fwrite(line.data(), 1, line.size(), stdout);
  }
  ::CertCloseStore(store, 0);
}

bool MyHas(const std::wstring& sha1) {
  HCERTSTORE store = vd::OpenSystemStore(L"MY");
  if (!store) return false;
  bool found = false;
  PCCERT_CONTEXT c = nullptr;
  while (!found && (c = ::CertEnumCertificatesInStore(store, c)) != nullptr) found = Sha1Hex(c) == sha1;
  if (c) ::CertFreeCertificateContext(c);
  ::CertCloseStore(store, 0);
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring cmd = argc > 1 ? argv[1] : L"";
  if (cmd == L"stores") {
    for (const wchar_t* name : {L"MY", L"CA", L"ROOT", L"ADDRESSBOOK"}) PrintStore(name);
    return 0;
  }
  if (cmd == L"hold") {
    vd::TokenManager manager;
    CK_RV rv = manager.Load();
    printf("loaded %lu\n", static_cast<unsigned long>(rv));
    fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
  }
  if (cmd == L"wait-my" && argc > 3) {
    DWORD limit = static_cast<DWORD>(_wtoi(argv[3]));
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < limit) {
      if (MyHas(argv[2])) {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        printf("seen %lld\n", static_cast<long long>(now.QuadPart));
        return 0;
      }
      ::Sleep(1);
    }
    printf("timeout\n");
    return 1;
  }
  fprintf(stderr, "usage: token_probe stores | hold | wait-my SHA1 MS\n");
  return 2;
}
