// The origin of the page a plug-in instance lives in, as the browser tells it through the page's own
// window object. The page cannot lie about it: the plug-in asks the browser, not the page's script.
#pragma once

#include <string>

#include "npapi.h"

namespace np {

// window.location.origin; for browsers whose location has no origin, protocol + "//" + host. Empty when
// the browser gives no window, no location or no text (the caller then knows no origin).
std::string PageOrigin(NPP npp);

}  // namespace np
