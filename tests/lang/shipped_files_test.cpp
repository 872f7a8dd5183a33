// The language files shipped with the program: they load from the installed layout, and they hold every
// string id the program's code looks up, with the same format conversions as the code's English default.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <regex>
#include <set>

#include "lang_file.h"
#include "language_manager.h"
#include "testsupport.h"
#include "text.h"

namespace {

const int kShipped[] = {1033, 2052};

// The build machine's source tree, seen through Wine's drive for the Unix root.
std::wstring SourceDir() { return L"Z:" + vd::Utf8ToWide(VD_SOURCE_DIR); }

std::wstring ShippedFile(int id) {
  return vdtest::BinDir() + L"lang\\lang\\qvcertd_Lumora_" + std::to_wstring(id) + L".lng";
}

vd::LangSection ShippedStrings(int id) {
  std::vector<uint8_t> bytes = vdtest::ReadFileBytes(ShippedFile(id));
  auto text = vd::DecodeLanguageText(bytes.data(), bytes.size());
  vd::LanguageContent content;
  if (!text || !vd::ParseLanguageText(*text, content)) return {};
  return content[L"strings"];
}

void ListSources(const std::wstring& dir, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListSources(dir + L"\\" + name, out);
    } else if (name.ends_with(L".cpp") || name.ends_with(L".h")) {
      out.push_back(dir + L"\\" + name);
    }
  } while (::FindNextFileW(h, &fd));
  ::FindClose(h);
}

// Every call of the form Name(<number>, L"default") in the program's folders: LangString itself and the
// helpers that wrap it. Ids with two different defaults in the code keep both.
std::multimap<int, std::wstring> LookupsInCode() {
  std::vector<std::wstring> files;
  for (const wchar_t* folder : {L"app", L"ui", L"token", L"secure", L"sysinfo", L"lang"}) {
    ListSources(SourceDir() + L"\\" + folder, files);
  }
  static const std::regex call(R"(\b[A-Za-z_]\w*\s*\(\s*(\d+)\s*,\s*L"((?:[^"\\]|\\.)*)\")");
  std::multimap<int, std::wstring> found;
  for (const std::wstring& f : files) {
    std::vector<uint8_t> bytes = vdtest::ReadFileBytes(f);
    std::string text(bytes.begin(), bytes.end());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator(); ++it) {
      found.emplace(std::stoi((*it)[1].str()), vd::Utf8ToWide((*it)[2].str()));
    }
  }
  return found;
}

// The printf conversions of a format, in order ("%%" is not one).
std::vector<std::wstring> Conversions(const std::wstring& format) {
  static const std::wregex conv(LR"(%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|L|z|j|t|I64|I32|I)?[diouxXeEfgGcsSp%])");
  std::vector<std::wstring> out;
  for (auto it = std::wsregex_iterator(format.begin(), format.end(), conv); it != std::wsregex_iterator(); ++it) {
    if (it->str() != L"%%") out.push_back(it->str());
  }
  return out;
}

TEST(ShippedLanguageFiles, LoadFromTheInstalledLayout) {
  for (int id : kShipped) {
    SCOPED_TRACE(id);
    vd::LanguageManager m;
    // As start-up configures it without an installation "Path": the program's folder plus "\lang".
    std::wstring bin = vdtest::BinDir();
    m.SetLanguageDirectory(bin + L"lang");
    m.SetLanguageBaseName(L"lang\\qvcertd_Lumora");
    m.SetLanguageId(id);
    ASSERT_TRUE(m.IsLoaded()) << vd::WideToUtf8(m.LastFileName());
    EXPECT_EQ(m.GetLanguageId(), id);
    EXPECT_EQ(m.LangString(102, L"x"), id == 1033 ? L"Certificate Manager" : L"\x8BC1\x4E66\x7BA1\x7406\x5668");
  }
}

TEST(ShippedLanguageFiles, HoldEveryIdTheCodeLooksUp) {
  auto lookups = LookupsInCode();
  // The scan must see the code: these lookups are known to exist.
  ASSERT_GT(lookups.size(), 10u);
  ASSERT_EQ(lookups.count(90000), 1u);
  for (int file : kShipped) {
    SCOPED_TRACE(file);
    vd::LangSection strings = ShippedStrings(file);
    ASSERT_FALSE(strings.values.empty());
    for (const auto& [id, englishDefault] : lookups) {
      std::wstring_view value = vd::LookupValue(strings, std::to_wstring(id));
      if (value == vd::kAbsentMarker) {
        ADD_FAILURE() << "id " << id << " missing";
        continue;
      }
      // The file's value is the format the code fills; escapes in the code's literal are irrelevant here.
      EXPECT_EQ(Conversions(std::wstring(value)), Conversions(englishDefault)) << "id " << id;
    }
  }
}

TEST(ShippedLanguageFiles, TranslationHasEveryKeyOfTheEnglishFile) {
  vd::LangSection english = ShippedStrings(1033);
  vd::LangSection chinese = ShippedStrings(2052);
  ASSERT_FALSE(english.values.empty());
  std::set<std::wstring> a, b;
  for (const auto& kv : english.values) a.insert(kv.first);
  for (const auto& kv : chinese.values) b.insert(kv.first);
  EXPECT_EQ(a, b);
  for (const auto& [key, value] : english.values) {
    EXPECT_EQ(Conversions(chinese.values[key]), Conversions(value)) << vd::WideToUtf8(key);
  }
  // The tray menu is translated only when the caption list exists, and then needs its commands.
  for (const wchar_t* key : {L"128", L"32771", L"32772"}) EXPECT_EQ(a.count(key), 1u) << vd::WideToUtf8(key);
}

}  // namespace
