// The expiry warning run when a token is inserted: one modal "Check Cert" dialog per certificate that has
// expired or expires within the horizon, until the user ticks "Don't prompt this dialog again".
#pragma once

#include <cstdint>
#include <vector>

namespace vd {

// Certificate values (DER) of one token in list order; horizonDays <= 0 means "now".
void CheckExpiry(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays);

}  // namespace vd
