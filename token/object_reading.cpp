#include "object_reading.h"

#include "pkcs11_session.h"

namespace vd {
namespace {

// Nothing on a token is this big; a larger length is garbage and must not turn into an allocation of
// whatever it claims (CK_UNAVAILABLE_INFORMATION is larger too).
constexpr CK_ULONG kMaxAttributeLength = 1u << 20;
constexpr CK_ULONG kHandlesPerCall = 64;

bool Usable(CK_RV rv) { return rv == CKR_OK || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_ATTRIBUTE_SENSITIVE; }

// One call with the given buffer sizes; *tooSmall when the module asked for more.
CK_RV ReadInto(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
               const std::vector<AttributeRequest>& requests, const std::vector<CK_ULONG>& sizes, bool allowMissing,
               std::vector<AttributeValue>* out, bool* tooSmall) {
  const size_t n = requests.size();
  std::vector<std::vector<uint8_t>> buffers(n);
  std::vector<CK_ATTRIBUTE> attrs(n);
  for (size_t i = 0; i < n; ++i) {
    buffers[i].assign(sizes[i] ? sizes[i] : 1, 0);
    attrs[i] = {requests[i].type, buffers[i].data(), sizes[i]};
  }
  CK_RV rv = fl->C_GetAttributeValue(session, object, attrs.data(), static_cast<CK_ULONG>(n));
  *tooSmall = rv == CKR_BUFFER_TOO_SMALL;
  if (*tooSmall) return rv;
  if (rv != CKR_OK && !(allowMissing && Usable(rv))) return rv;
  out->assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    const CK_ULONG got = attrs[i].ulValueLen;
    if (got == CK_UNAVAILABLE_INFORMATION) {
      if (!allowMissing) return CKR_GENERAL_ERROR;
      continue;
    }
    // A module that claims more than it could have written has not filled the buffer we gave it.
    if (got > sizes[i]) return CKR_GENERAL_ERROR;
    (*out)[i].present = true;
    (*out)[i].bytes.assign(buffers[i].begin(), buffers[i].begin() + static_cast<std::ptrdiff_t>(got));
  }
  return CKR_OK;
}

// Lengths first, then the values into buffers that fit.
CK_RV ReadSized(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                const std::vector<AttributeRequest>& requests, bool allowMissing, std::vector<AttributeValue>* out) {
  std::vector<CK_ULONG> sizes(requests.size());
  std::vector<CK_ATTRIBUTE> lengths(requests.size());
  for (size_t i = 0; i < requests.size(); ++i) lengths[i] = {requests[i].type, nullptr, 0};
  CK_RV rv = fl->C_GetAttributeValue(session, object, lengths.data(), static_cast<CK_ULONG>(lengths.size()));
  if (rv != CKR_OK && !(allowMissing && Usable(rv))) return rv;
  for (size_t i = 0; i < requests.size(); ++i) {
    const CK_ULONG need = lengths[i].ulValueLen;
    if (need == CK_UNAVAILABLE_INFORMATION && allowMissing) {
      sizes[i] = 0;
      continue;
    }
    if (need > kMaxAttributeLength) return CKR_GENERAL_ERROR;
    sizes[i] = need;
  }
  bool tooSmall = false;
  rv = ReadInto(fl, session, object, requests, sizes, allowMissing, out, &tooSmall);
  // A value that grew between the two reads is not one we can trust either.
  return tooSmall ? CKR_GENERAL_ERROR : rv;
}

}  // namespace

CK_RV ReadObjectAttributes(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                           const std::vector<AttributeRequest>& requests, bool allowMissing,
                           std::vector<AttributeValue>* out) {
  if (!fl) return CKR_GENERAL_ERROR;
  std::vector<CK_ULONG> sizes;
  for (const AttributeRequest& r : requests) sizes.push_back(r.usualSize);
  bool tooSmall = false;
  CK_RV rv = ReadInto(fl, session, object, requests, sizes, allowMissing, out, &tooSmall);
  if (!tooSmall) return rv;
  // Some value is bigger than usual: ask for the lengths, then read with buffers that fit.
  return ReadSized(fl, session, object, requests, allowMissing, out);
}

CK_RV ReadObjectAttributesSized(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                const std::vector<AttributeRequest>& requests, bool allowMissing,
                                std::vector<AttributeValue>* out) {
  if (!fl) return CKR_GENERAL_ERROR;
  return ReadSized(fl, session, object, requests, allowMissing, out);
}

CK_RV ForEachObject(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count,
                    const std::function<bool(CK_OBJECT_HANDLE)>& visit) {
  Pkcs11Search search(fl, session, tmpl, count);
  if (search.InitResult() != CKR_OK) return search.InitResult();
  CK_OBJECT_HANDLE handles[kHandlesPerCall];
  for (;;) {
    CK_ULONG found = 0;
    CK_RV rv = search.Next(handles, kHandlesPerCall, &found);
    if (rv != CKR_OK) return rv;
    // Only an empty answer ends a search: a module may hand back fewer than asked for at any time.
    if (found == 0) break;
    // A module must not report more than it was asked for; if it does, nothing it said is trusted.
    if (found > kHandlesPerCall) return CKR_GENERAL_ERROR;
    for (CK_ULONG i = 0; i < found; ++i)
      if (!visit(handles[i])) return search.Final();
  }
  return search.Final();
}

}  // namespace vd
