// The browser side of nphost: a complete NPNetscapeFuncs whose functions keep real state — interned
// identifiers, objects with reference counts, and a count of the memory handed to the plug-in.
#pragma once

#include <string>

#include "npapi.h"

namespace nphost {

// A table with every member filled and `size`/`version` set for the full structure.
NPNetscapeFuncs BrowserFunctions();

// Counters of the browser's books, for tests: objects created and not yet deallocated, and blocks from
// memalloc not yet freed.
long LiveObjects();
long OutstandingAllocations();
// The last text a plug-in passed to setexception.
std::string LastException();

// How the stand-in tells a plug-in where its page lives: NPNVdocumentOrigin (and a window as below), or
// only through its window (NPNVWindowNPObject): window.location with an `origin`, a location of an older
// browser with only `protocol` and `host`, or no window at all.
enum class OriginStyle { kDocumentOrigin, kOrigin, kProtocolAndHost, kNoWindow };
// The page's origin, e.g. "https://bank.example:8443"; "http://127.0.0.1" with kDocumentOrigin until set.
// Applies to every instance from the next question on.
void SetPageOrigin(const std::string& origin, OriginStyle style = OriginStyle::kDocumentOrigin);
// What the page's script makes window.location say, when it is not the page's origin ("": the origin).
void SetScriptOrigin(const std::string& origin);

// Same as the table's getstringidentifier: equal names give equal identifiers.
NPIdentifier Identifier(const char* name);

// Frees what a variant owns (a string through memfree, an object reference) and makes it void.
void ReleaseVariant(NPVariant* v);

NPVariant VoidVariant();
NPVariant NullVariant();
NPVariant BoolVariant(bool b);
NPVariant Int32Variant(int32_t i);
NPVariant DoubleVariant(double d);
// The variant points at `text`, which must outlive it; the browser does not own it.
NPVariant StringVariant(const std::string& text);
NPVariant ObjectVariant(NPObject* obj);

}  // namespace nphost
