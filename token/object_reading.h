// Reading objects from a token with as few module calls as give the same answers: a search hands back
// many handles per call, and an object's attributes come in one call into buffers of the sizes a token
// usually holds, with a length query only when one of them is bigger. On a USB token every call is a
// round trip of milliseconds, so this is what the user waits for at every insertion.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "pkcs11.h"

namespace vd {

struct AttributeRequest {
  CK_ATTRIBUTE_TYPE type;
  CK_ULONG usualSize;  // the first call's buffer; a bigger value costs a length query and a second read
};

struct AttributeValue {
  bool present = false;  // false: the module has no such attribute for the object
  std::vector<uint8_t> bytes;
};

// Reads the requested attributes of one object, in request order. Lengths come from the module and are
// untrusted: a length no token holds, or one larger than the buffer the module was given, is
// CKR_GENERAL_ERROR. With `allowMissing` an attribute the object lacks comes back not present; otherwise
// it fails the read with the module's result.
CK_RV ReadObjectAttributes(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           const std::vector<AttributeRequest>& requests, bool allowMissing,
                           std::vector<AttributeValue>* out);

// The same, lengths first: for an object whose first read said an attribute was unavailable, which a
// module also says of a value that did not fit its buffer when another attribute is missing (either code
// may come back when both apply). An attribute the length query calls unavailable is really missing.
CK_RV ReadObjectAttributesSized(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                const std::vector<AttributeRequest>& requests, bool allowMissing,
                                std::vector<AttributeValue>* out);

// Runs a search over the template and hands each found handle to `visit` in the module's order, asking
// for many handles per call; `visit` returning false ends the search. The search ends (C_FindObjectsFinal)
// on every path. Returns the first failing result (the handles found before it were visited).
CK_RV ForEachObject(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count,
                    const std::function<bool(CK_OBJECT_HANDLE)>& visit);

}  // namespace vd
