// The plug-in's process-wide token access: one token query object, shared by every instance, created (and
// its module loaded) with the first scriptable object and destroyed in NP_Shutdown.
#pragma once

#include "token_queries.h"

namespace np {

using CPagebridgeWin32Impl = tq::TokenQueries;

// The process-wide object, created and loaded on first use; null only when memory runs out.
CPagebridgeWin32Impl* Pagebridge();
// The object if it exists, without creating it: an object that outlives NP_Shutdown finds none and answers
// as a plug-in without a module would.
CPagebridgeWin32Impl* LivePagebridge();
// Finalises and unloads the module and forgets the object; the next Pagebridge() starts afresh.
void DestroyPagebridge();

}  // namespace np
