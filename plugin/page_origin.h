// The origin of the page a plug-in instance lives in, as the browser tells it: NPNVdocumentOrigin, which
// the page's script cannot touch; only a browser that does not know that variable is asked through the
// page's window object, whose location a page's script engine reports.
#pragma once

#include <string>

#include "npapi.h"

namespace np {

// NPNVdocumentOrigin; without it window.location.origin, or for browsers whose location has no origin,
// protocol + "//" + host. Empty when the browser gives no window, no location or no text (the caller
// then knows no origin).
std::string PageOrigin(NPP npp);

}  // namespace np
