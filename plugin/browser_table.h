// The plug-in's process-wide copy of the browser's function table, and the few browser services it calls
// through it. Every service checks that the browser actually supplied the function: a table shorter than
// ours leaves the missing members empty.
#pragma once

#include "npapi.h"

namespace np {

// Creates the zero-filled copy if it does not exist yet; null only when memory runs out.
NPNetscapeFuncs* EnsureBrowserTable();
// The copy, or null before NP_GetEntryPoints/NP_Initialize and after NP_Shutdown.
NPNetscapeFuncs* BrowserTable();
// Copies the members the plug-in keeps from the browser's table, never reading past its `size`.
NPError CopyBrowserTable(const NPNetscapeFuncs* from);
void FreeBrowserTable();

// True when the browser gave us everything needed to hand out objects with sound reference counts.
bool BrowserCanHoldObjects();

void* BrowserAlloc(uint32_t size);
void BrowserFree(void* block);
NPIdentifier BrowserStringIdentifier(const char* name);
NPObject* BrowserCreateObject(NPP npp, NPClass* cls);
NPObject* BrowserRetainObject(NPObject* obj);
void BrowserReleaseObject(NPObject* obj);
// NPN_GetValue; NPERR_GENERIC_ERROR when the browser has no such function.
NPError BrowserGetValue(NPP npp, NPNVariable variable, void* value);
bool BrowserGetProperty(NPP npp, NPObject* obj, NPIdentifier name, NPVariant* result);
// Frees what a variant the browser gave us owns, and makes it void.
void BrowserReleaseVariant(NPVariant* v);

}  // namespace np
