// The expiry check run when a token is inserted: a warning for each certificate that has expired or
// expires within the horizon, until the user asks not to be warned again in this run. The token layer
// decides what is due; the window shows the warning (the prompt it hands over), so that no window is
// opened from here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vd {

// Shows one warning for a day count; true when the user ticked "Don't prompt this dialog again".
using ExpiryPrompt = std::function<bool(int days)>;

// Certificate values (DER) of one token in list order; horizonDays <= 0 means "now". Without a prompt
// nothing is shown.
void CheckExpiry(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                 const ExpiryPrompt& prompt);
// The same at a given moment (UTC).
void CheckExpiryAt(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                   const FILETIME& now, const ExpiryPrompt& prompt);

// The day count a certificate ending at notAfter is warned with, or nothing when it ends after
// now + horizon. Whole days toward zero, then one more for the part of a day still left; a certificate
// less than a day past its end still counts as 1, one longer past it is negative.
std::optional<int> ExpiryWarningDays(const FILETIME& notAfter, const FILETIME& now, int horizonDays);

// The warning switch: on at every start of the program; a ticked box turns it off for the run. Tests turn
// it on again.
bool ExpiryWarningsOn();
void ResetExpiryWarnings();

}  // namespace vd
