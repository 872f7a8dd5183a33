// Writing language files in each encoding the manager reads, into a folder laid out like an installation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport.h"

namespace langtest {

enum class Encoding { Utf16Le, Utf8, Ansi, Utf16Be };

std::vector<uint8_t> Encode(const std::wstring& text, Encoding encoding);

// A small complete file: settings with the given CodePage, and strings 100="<value>".
std::wstring SampleFile(int codePage, const std::wstring& value);

// <temp>\lang\qv_NNNN.lng, read by a manager configured with Configure().
class LangDir {
 public:
  LangDir();
  const std::wstring& dir() const { return temp_.path(); }
  std::wstring base() const { return L"lang\\qv"; }
  std::wstring FileFor(int id) const;
  bool Write(int id, const std::wstring& text, Encoding encoding = Encoding::Utf8) const;
  bool WriteBytes(int id, const std::vector<uint8_t>& bytes) const;

 private:
  vdtest::TempDir temp_;
};

}  // namespace langtest
