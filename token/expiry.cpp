#include "expiry.h"

#include <atomic>

#include "handles.h"

namespace vd {
namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;

std::atomic<bool> g_warningsOn{true};

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

}  // namespace

std::optional<int> ExpiryWarningDays(const FILETIME& notAfter, const FILETIME& now, int horizonDays) {
  int64_t limit = Ticks(now);
  if (horizonDays > 0) limit += static_cast<int64_t>(horizonDays) * kTicksPerDay;
  int64_t end = Ticks(notAfter);
  if (end > limit) return std::nullopt;
  // Integer division truncates toward zero, as the day count does.
  int64_t days = (end - Ticks(now)) / kTicksPerDay;
  if (days >= 0) ++days;
  return static_cast<int>(days);
}

void CheckExpiryAt(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                   const FILETIME& now, const ExpiryPrompt& prompt) {
  if (!prompt) return;
  for (const std::vector<uint8_t>& value : certificateValues) {
    if (!g_warningsOn.load()) return;
    if (value.empty()) continue;
    UniqueCertContext cert(::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, value.data(),
                                                          static_cast<DWORD>(value.size())));
    if (!cert) continue;
    std::optional<int> days = ExpiryWarningDays(cert.get()->pCertInfo->NotAfter, now, horizonDays);
    if (!days) continue;
    if (prompt(*days)) g_warningsOn = false;
  }
}

void CheckExpiry(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                 const ExpiryPrompt& prompt) {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  CheckExpiryAt(certificateValues, horizonDays, now, prompt);
}

bool ExpiryWarningsOn() { return g_warningsOn.load(); }

void ResetExpiryWarnings() { g_warningsOn = true; }

}  // namespace vd
