// The expiry warning run when a token is inserted: one modal "Check Cert" dialog per certificate that has
// expired or expires within the horizon, until the user ticks "Don't prompt this dialog again".
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vd {

// Certificate values (DER) of one token in list order; horizonDays <= 0 means "now".
void CheckExpiry(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays);
// The same at a given moment (UTC).
void CheckExpiryAt(const std::vector<std::vector<uint8_t>>& certificateValues, int horizonDays,
                   const FILETIME& now);

// The day count a certificate ending at notAfter is warned with, or nothing when it ends after
// now + horizon. Whole days toward zero, then one more for the part of a day still left; a certificate
// less than a day past its end still counts as 1, one longer past it is negative.
std::optional<int> ExpiryWarningDays(const FILETIME& notAfter, const FILETIME& now, int horizonDays);

// The dialog's text for a day count, at most 255 characters.
std::wstring ExpiryMessage(int days);

// Modal "Check Cert" dialog; true when "Don't prompt this dialog again" was ticked, whichever button
// closed it.
bool ExpiryDialog(int days);

// The warning switch: on at every start of the program; ticking the box turns it off for the run.
bool ExpiryWarningsOn();

// What CheckExpiry shows for each warning. Tests that insert tokens with expiring certificates replace the
// modal dialog with their own function (returning true acts as a ticked box); nullptr restores the dialog.
// The switch can be turned on again for the next test. Both return or take the previous state.
using ExpiryPrompt = bool (*)(int days);
ExpiryPrompt SetExpiryPrompt(ExpiryPrompt prompt);
void ResetExpiryWarnings();

}  // namespace vd
