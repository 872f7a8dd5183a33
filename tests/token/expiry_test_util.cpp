#include "expiry_test_util.h"

#include <cmath>

#include "handles.h"
#include "testsupport.h"

namespace expirytest {
namespace {

constexpr int64_t kTicksPerDay = 86'400LL * 10'000'000;

// How long before its making moment each certificate of the set begins (make-test-certs.sh).
int DaysBeforeMaking(const std::wstring& name) {
  if (name == L"expired.der") return 400;
  if (name == L"exp_m6h.der") return 10;
  return 1;
}

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

FILETIME FromTicks(int64_t t) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(t);
  f.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t) >> 32);
  return f;
}

}  // namespace

std::vector<uint8_t> Cert(const wchar_t* name) { return vdtest::ReadFileBytes(vdtest::TestCert(name)); }

FILETIME MadeAt(const wchar_t* name) {
  std::vector<uint8_t> der = Cert(name);
  vd::UniqueCertContext cert(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
  if (!cert) return {};
  return FromTicks(Ticks(cert.get()->pCertInfo->NotBefore) + DaysBeforeMaking(name) * kTicksPerDay);
}

FILETIME FromNow(const FILETIME& base, double days) {
  return FromTicks(Ticks(base) + static_cast<int64_t>(std::llround(days * kTicksPerDay)));
}

}  // namespace expirytest
