#include "token_test_util.h"

#include "call_counts.h"
#include "token_manager.h"

#include <wincrypt.h>

#include <sstream>

#include "store_registrar.h"
#include "text.h"
#include "token_manager.h"

namespace tokentest {
namespace {

std::string Sha1Of(PCCERT_CONTEXT c) {
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!::CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size)) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (DWORD i = 0; i < size; ++i) {
    s += kHex[hash[i] >> 4];
    s += kHex[hash[i] & 15];
  }
  return s;
}

void CollectDer(const std::wstring& dir, std::set<std::string>* hashes) {
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW((dir + L"*.der").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string sha = Sha1OfFile(dir + fd.cFileName);
    if (!sha.empty()) hashes->insert(sha);
  } while (::FindNextFileW(h, &fd));
  ::FindClose(h);
}

}  // namespace

std::string Sha1OfFile(const std::wstring& derPath) {
  std::vector<uint8_t> der = vdtest::ReadFileBytes(derPath);
  if (der.empty()) return {};
  PCCERT_CONTEXT c = ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                    static_cast<DWORD>(der.size()));
  if (!c) return {};
  std::string s = Sha1Of(c);
  ::CertFreeCertificateContext(c);
  return s;
}

vd::UniqueCertContext FindInStore(HCERTSTORE store, const wchar_t* certName) {
  std::vector<uint8_t> der = vdtest::ReadFileBytes(vdtest::TestCert(certName));
  vd::UniqueCertContext probe(
      ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!probe || !store) return vd::UniqueCertContext();
  return vd::UniqueCertContext(
      ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, probe.get(), nullptr));
}

std::wstring CertArg(const wchar_t* name) { return L"\"" + vdtest::TestCert(name) + L"\""; }

std::vector<StoreEntry> ReadStores() {
  vdtest::ProcessResult r = vdtest::RunTool(L"token_probe.exe", L"stores");
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  std::vector<StoreEntry> entries;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string part;
    while (std::getline(fields, part, '\t')) f.push_back(part);
    if (f.size() == 5) entries.push_back({f[0], f[1], f[2], f[3], f[4]});
  }
  return entries;
}

std::vector<StoreEntry> EntriesOf(const std::vector<StoreEntry>& all, const wchar_t* certName) {
  std::string sha = Sha1OfFile(vdtest::TestCert(certName));
  EXPECT_FALSE(sha.empty()) << "no test certificate " << vd::WideToUtf8(certName);
  std::vector<StoreEntry> out;
  for (const StoreEntry& e : all)
    if (e.sha1 == sha) out.push_back(e);
  return out;
}

void RemoveTestCertsFromStores() {
  std::set<std::string> hashes;
  CollectDer(vdtest::BinDir() + L"testcerts\\", &hashes);
  CollectDer(vdtest::BinDir() + L"testcerts\\bulk\\", &hashes);
  for (const wchar_t* name : {L"MY", L"CA", L"ROOT", L"ADDRESSBOOK"}) {
    vd::UniqueCertStore store(vd::OpenSystemStore(name));
    if (!store) continue;
    std::vector<PCCERT_CONTEXT> doomed;
    PCCERT_CONTEXT c = nullptr;
    while ((c = ::CertEnumCertificatesInStore(store.get(), c)) != nullptr)
      if (hashes.count(Sha1Of(c))) doomed.push_back(::CertDuplicateCertificateContext(c));
    for (PCCERT_CONTEXT d : doomed) ::CertDeleteCertificateFromStore(d);
    vd::CommitAndClose(store);
  }
}

std::vector<unsigned long> AddCertHandles(const std::wstring& args) {
  std::string out = Tokenctl(L"add-cert " + args);
  std::vector<unsigned long> handles;
  for (size_t i = 0; i < out.size();) {
    if (!isdigit(static_cast<unsigned char>(out[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < out.size() && isdigit(static_cast<unsigned char>(out[end]))) ++end;
    handles.push_back(std::stoul(out.substr(i, end - i)));
    i = end;
  }
  EXPECT_FALSE(handles.empty()) << out;
  return handles;
}

void TokenStoreTest::SetUp() { RemoveTestCertsFromStores(); }

void TokenStoreTest::TearDown() {
  RemoveTestCertsFromStores();
  vd::TokenManager cleaner;
  cleaner.PurgeRegistrations();
}

void SetFault(const std::string& function, const char* rv, uint32_t after, uint32_t times) {
  wchar_t dir[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"SIMTOKEN_DIR", dir, MAX_PATH);
  const std::wstring path = std::wstring(dir) + L"\\faults.txt";
  if (function.empty()) {
    ::DeleteFileW(path.c_str());
    return;
  }
  const std::string line = function + " " + rv + " " + std::to_string(after) + " " + std::to_string(times) + "\n";
  vdtest::WriteFileBytes(path, line.data(), line.size());
}

uint32_t CallsDuringLoad(const char* function) {
  ::SetEnvironmentVariableW(L"P11COUNT_MODULE", L"LumoraCSP11Brindlemark.dll");
  ::SetEnvironmentVariableW(L"P11COUNT_NAME", L"tokentest-load");
  vdtest::CallCounts counts(L"tokentest-load");
  counts.Reset();
  uint32_t n = vdtest::CallCounts::kUnknownFunction;
  {
    vd::TokenManager manager(L"p11count.dll");
    if (manager.Load() == CKR_OK) n = counts.Of(function);
  }
  RemoveTestCertsFromStores();
  return n;
}

}  // namespace tokentest
