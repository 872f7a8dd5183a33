#include "lang_test_util.h"

#include <windows.h>

#include <cstdio>

#include "text.h"

namespace langtest {

std::vector<uint8_t> Encode(const std::wstring& text, Encoding encoding) {
  std::vector<uint8_t> out;
  switch (encoding) {
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
      bool le = encoding == Encoding::Utf16Le;
      out = le ? std::vector<uint8_t>{0xFF, 0xFE} : std::vector<uint8_t>{0xFE, 0xFF};
      for (wchar_t c : text) {
        uint8_t lo = static_cast<uint8_t>(c & 0xFF), hi = static_cast<uint8_t>(c >> 8);
        out.push_back(le ? lo : hi);
        out.push_back(le ? hi : lo);
      }
      break;
    }
    case Encoding::Utf8: {
      out = {0xEF, 0xBB, 0xBF};
      std::string s = vd::WideToUtf8(text);
      out.insert(out.end(), s.begin(), s.end());
      break;
    }
    case Encoding::Ansi: {
      std::string s = vd::WideToAnsi(text);
      out.assign(s.begin(), s.end());
      break;
    }
  }
  return out;
}

std::wstring SampleFile(int codePage, const std::wstring& value) {
  return L"; sample\r\n[settings]\r\nCodePage=" + std::to_wstring(codePage) +
         L"\r\nLanguage=Sample\r\n\r\n[strings]\r\n100=" + value + L"\r\n";
}

LangDir::LangDir() : temp_(L"vdlang") { ::CreateDirectoryW((temp_.path() + L"\\lang").c_str(), nullptr); }

std::wstring LangDir::FileFor(int id) const {
  wchar_t name[32];
  std::swprintf(name, 32, L"\\lang\\qv_%04d.lng", id);
  return temp_.path() + name;
}

bool LangDir::Write(int id, const std::wstring& text, Encoding encoding) const {
  return WriteBytes(id, Encode(text, encoding));
}

bool LangDir::WriteBytes(int id, const std::vector<uint8_t>& bytes) const {
  return vdtest::WriteFileBytes(FileFor(id), bytes.data(), bytes.size());
}

}  // namespace langtest
