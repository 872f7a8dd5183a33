// How vardeck reads its command line and where it looks for its language files.
#include <gtest/gtest.h>

#include "cert_manager_app.h"
#include "command_line.h"
#include "language_manager.h"

namespace {

using vd::ParseSwitches;
using vd::SplitCommandLine;
using Tokens = std::vector<std::wstring>;

TEST(CommandLine, SplitsAtBlanksAndKeepsQuotedTextWhole) {
  struct Row {
    const wchar_t* line;
    Tokens tokens;
  } rows[] = {
      {L"vardeck.exe", {L"vardeck.exe"}},
      {L"  \t ", {}},
      {L"\"C:\\Program Files\\v\\vardeck.exe\" -s", {L"C:\\Program Files\\v\\vardeck.exe", L"-s"}},
      {L"a\t-t   -r", {L"a", L"-t", L"-r"}},
      {L"a \"\" -s", {L"a", L"-s"}},
      {L"a \" \t \" -s", {L"a", L"-s"}},
      {L"a \"-s", {L"a", L"-s"}},           // unclosed quote runs to the end
      {L"a \"x y", {L"a", L"x y"}},
      {L"a -s\"x\"", {L"a", L"-s\"x\""}},   // a quote inside a plain token is kept
      {L"a \"-t\"-s", {L"a", L"-t", L"-s"}},
  };
  for (const Row& r : rows) EXPECT_EQ(SplitCommandLine(r.line), r.tokens) << r.line;
}

TEST(CommandLine, AcceptsTheFiveSwitchesAloneAndCombined) {
  struct Row {
    Tokens tokens;
    bool install, uninstall, restart, terminate, quiet;
  } rows[] = {
      {{L"p"}, false, false, false, false, false},
      {{L"p", L"-i"}, true, false, false, false, false},
      {{L"p", L"-u"}, false, true, false, false, false},
      {{L"p", L"-r", L"-s"}, false, false, true, false, true},
      {{L"p", L"-t", L"-s", L"-i"}, true, false, false, true, true},
      {{L"p", L"-s", L"-s"}, false, false, false, false, true},
      {{L"-t"}, false, false, false, false, false},  // the first token is the program, whatever it says
  };
  for (const Row& r : rows) {
    auto s = ParseSwitches(r.tokens);
    ASSERT_TRUE(s.has_value()) << r.tokens.size();
    EXPECT_EQ(s->install, r.install);
    EXPECT_EQ(s->uninstall, r.uninstall);
    EXPECT_EQ(s->restart, r.restart);
    EXPECT_EQ(s->terminate, r.terminate);
    EXPECT_EQ(s->quiet, r.quiet);
  }
}

TEST(CommandLine, RejectsUnknownTokensAndConflictingSwitches) {
  for (const Tokens& t : std::vector<Tokens>{{L"p", L"-i", L"-u"},
                                              {L"p", L"-r", L"-t"},
                                              {L"p", L"-x"},
                                              {L"p", L"/s"},
                                              {L"p", L"-S"},
                                              {L"p", L"-s", L"--s"},
                                              {L"p", L"-st"},
                                              {L"p", L"-t", L"s"}}) {
    EXPECT_FALSE(ParseSwitches(t).has_value()) << t[1];
  }
}

TEST(Startup, LanguageFolderIsThePathValueOrTheProgramFolder) {
  EXPECT_EQ(vd::LanguageDirectory(L"D:\\Install", L"C:\\x\\vardeck.exe"), L"D:\\Install");
  EXPECT_EQ(vd::LanguageDirectory(L"", L"C:\\x\\y\\vardeck.exe"), L"C:\\x\\y\\lang");
}

TEST(Startup, SharedNamesCarryTheInstanceGuidWithoutBraces) {
  EXPECT_EQ(vd::InstanceMessageName(), L"F603F33B-2935-431f-A732-3C773895E085_vardeck_single_instance_msgid");
  EXPECT_EQ(vd::InstanceMutexName(), L"F603F33B-2935-431f-A732-3C773895E085_vardeck_single_instance");
}

}  // namespace
