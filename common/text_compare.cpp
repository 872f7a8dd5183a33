// EqualsNoCase lives apart from the conversions: CompareStringOrdinal is a Vista function, and a program
// that links the conversions alone (the plug-in, the native messaging host) must not import it.
#include <windows.h>

#include "text.h"

namespace vd {

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace vd
