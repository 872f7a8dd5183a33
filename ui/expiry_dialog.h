// The "Check Cert" warning the window shows for a certificate on an inserted token that has expired or
// expires soon; the token manager decides which ones are due and asks through the prompt the window
// handed it:  manager.SetExpiryPrompt(ExpiryDialog).
#pragma once

#include <string>

namespace vd {

// The dialog's text for a day count, at most 255 characters.
std::wstring ExpiryMessage(int days);

// Modal; true when "Don't prompt this dialog again" was ticked, whichever button closed it.
bool ExpiryDialog(int days);

}  // namespace vd
