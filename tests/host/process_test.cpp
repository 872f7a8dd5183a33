// lumora_host.exe as a process, fed what a browser sends and what no browser should: each input ends in
// answers and an exit code, within seconds, never a crash or a wait for input that will not come.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "erase_dialog.h"
#include "frames.h"
#include "host_process.h"
#include "testsupport.h"
#include "text.h"
#include "trusted_list.h"

namespace {

using nlohmann::json;

constexpr char kBank[] = "https://bank.example";
constexpr DWORD kPromptly = 15000;  // a Wine process start included

std::string Le32(uint32_t n) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return s;
}

std::string Frame(const json& request) { return host::EncodeFrame(request.dump()); }

json Ask(int id, const char* method, const json& params = json::array(), const char* origin = kBank) {
  return {{"id", id}, {"method", method}, {"params", params}, {"origin", origin}};
}

// The whole frames in a host's output; `rest` (if given) is the number of bytes after the last of them.
std::vector<json> ParseFrames(const std::string& output, size_t* rest = nullptr) {
  size_t at = 0;
  host::ByteReader read = [&](char* buffer, size_t size) {
    size_t n = std::min(size, output.size() - at);
    std::memcpy(buffer, output.data() + at, n);
    at += n;
    return n;
  };
  std::vector<json> frames;
  std::string payload;
  while (host::ReadFrame(read, &payload) == host::FrameStatus::kFrame) frames.push_back(json::parse(payload, nullptr, false));
  if (rest) *rest = output.size() - at;
  return frames;
}

// The frames of a running host's output so far.
std::vector<json> FramesSoFar(hosttest::HostProcess& host) { return ParseFrames(host.OutputSoFar()); }

// Waits for the running host's answer to `id` (not an event); null when none came in time.
json AnswerTo(hosttest::HostProcess& host, int id, DWORD timeoutMs = 20000) {
  json found;
  vdtest::PumpUntil([&] {
    for (const json& f : FramesSoFar(host)) {
      if (!f.contains("event") && f.value("id", json()) == id) found = f;
    }
    return !found.is_null();
  }, timeoutMs);
  return found;
}

// The answers after the list the host sends first, which must name `origins`.
std::vector<json> Answers(const std::string& output, const json& origins = json::array({kBank})) {
  size_t rest = 0;
  std::vector<json> answers = ParseFrames(output, &rest);
  EXPECT_EQ(rest, 0u) << "the output holds a partial frame";
  if (answers.empty()) {
    ADD_FAILURE() << "the host did not send the list";
    return answers;
  }
  EXPECT_EQ(answers.front(), (json{{"event", "origins"}, {"origins", origins}}));
  answers.erase(answers.begin());
  return answers;
}

// One line per answer: the id and the result, or the id and "error".
std::vector<std::string> Summary(const std::vector<json>& answers) {
  std::vector<std::string> lines;
  for (const json& a : answers)
    lines.push_back(a["id"].dump() + " " + (a.contains("result") ? a["result"].dump() : std::string("error")));
  return lines;
}

class HostProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 1 --serial ABCDEF123456").exitCode, 0u);
    ASSERT_TRUE(list_.SetList({L"https://bank.example"}));
  }
  vdtest::ScopedSimTokenDir tokens_;
  hosttest::ScopedTrustedOrigins list_;
};

TEST_F(HostProcessTest, BadFramesGetAnErrorOrACleanExit) {
  const std::string ok = Frame(Ask(1, "GetKeyCount"));
  const struct {
    const char* what;
    std::string input;
    bool closeInput;  // false: the input stays open, so only the host's own decision can end it
    DWORD exitCode;
    std::vector<std::string> answers;
  } rows[] = {
      {"no input", "", true, 0, {}},
      {"one request", ok, true, 0, {"1 1"}},
      {"not JSON, then a request", host::EncodeFrame("GetKeyCount please") + ok, true, 0, {"null error", "1 1"}},
      {"binary junk", host::EncodeFrame(std::string("\0\xff\xfe{", 4)) + ok, true, 0, {"null error", "1 1"}},
      {"unknown method", Frame(Ask(2, "FormatToken")) + ok, true, 0, {"2 error", "1 1"}},
      {"wrong parameter types", Frame(Ask(3, "InitKey", {7})) + Frame(Ask(4, "GetSN", {"x"})), true, 0,
       {"3 error", "4 error"}},
      {"empty frame", Le32(0) + ok, true, 0, {"null error", "1 1"}},
      {"length cut short", ok + std::string("\x10\x00", 2), true, 1, {"1 1"}},
      {"payload cut short", ok + Le32(100) + "{\"id\":5", true, 1, {"1 1"}},
      {"too long, input left open", ok + Le32(host::kMaxFrame + 1) + "{}", false, 1, {"1 1", "null error"}},
      {"length of all ones, input left open", Le32(0xFFFFFFFFu), false, 1, {"null error"}},
      // A browser keeps the host of an open port running: it ends by itself once idle.
      {"nothing more, input left open", ok, false, 0, {"1 1"}},
  };
  // The test build's host takes its idle time from here (a minute otherwise).
  ::SetEnvironmentVariableW(L"LUMORA_HOST_IDLE_MS", L"2000");
  struct ClearIdle {
    ~ClearIdle() { ::SetEnvironmentVariableW(L"LUMORA_HOST_IDLE_MS", nullptr); }
  } clearIdle;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    hosttest::HostProcess host;
    ASSERT_TRUE(host.started());
    EXPECT_TRUE(host.Write(row.input));
    if (row.closeInput) host.CloseInput();
    EXPECT_EQ(host.WaitExit(kPromptly), row.exitCode);
    EXPECT_EQ(Summary(Answers(host.output())), row.answers);
  }
}

TEST_F(HostProcessTest, LargestFrameIsReadWholeAndRequestsAreAnsweredInOrder) {
  std::string padded = Ask(7, "GetUKeySN").dump();
  padded += std::string(host::kMaxFrame - padded.size(), ' ');  // JSON allows trailing blanks
  std::string burst = host::EncodeFrame(padded);
  std::vector<std::string> expected = {"7 \"ABCDEF123456    \""};
  for (int id = 100; id < 200; ++id) {
    burst += Frame(Ask(id, "GetKeyCount"));
    expected.push_back(std::to_string(id) + " 1");
  }
  hosttest::HostProcess host;
  ASSERT_TRUE(host.started());
  EXPECT_TRUE(host.Write(burst));
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kPromptly), 0u);
  EXPECT_EQ(Summary(Answers(host.output())), expected);
}

// Frames are bytes: a C runtime in text mode would end the input at 0x1A and write 0x0A as 0x0D 0x0A.
TEST_F(HostProcessTest, LengthsAndTextsHoldingLineEndsAndControlZPassUnchanged) {
  const std::string unknown = "unknown method: ";
  // The request of this length begins with the bytes 1A 0D 0A; JSON allows the blanks that pad it.
  std::string padded = Ask(1, "GetKeyCount").dump() + "\r\n";
  padded += std::string(0x0A0D1Au - padded.size(), ' ');
  // Answers whose lengths are 0x0A0D and 0x1A0A bytes: an unknown method's name is echoed in the error.
  auto answerOfLength = [&](int id, size_t length) {
    const size_t fixed = json({{"id", id}, {"error", unknown}}).dump().size();
    return Frame(Ask(id, std::string(length - fixed, 'M').c_str()));
  };
  const std::string input = host::EncodeFrame(padded) + host::EncodeFrame(std::string("\x1a\r\n{", 4)) +
                            answerOfLength(2, 0x0A0D) + answerOfLength(3, 0x1A0A) + Frame(Ask(4, "GetKeyCount"));
  ASSERT_EQ(input.substr(0, 3), "\x1a\x0d\x0a");
  hosttest::HostProcess host;
  ASSERT_TRUE(host.started());
  EXPECT_TRUE(host.Write(input));
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kPromptly), 0u);
  EXPECT_EQ(Summary(Answers(host.output())),
            (std::vector<std::string>{"1 1", "null error", "2 error", "3 error", "4 1"}));
}

// The host's question takes no typing or early click as an answer; each attack from a page of its own, as
// a cancelled question keeps its page's InitKey off for a while.
TEST_F(HostProcessTest, StrayKeysAndEarlyClicksNeverErase) {
  const std::vector<vdtest::EraseAttack>& attacks = vdtest::EraseAttacks();
  std::vector<std::wstring> pages = {L"https://deliberate.example"};
  for (size_t i = 0; i < attacks.size(); ++i) pages.push_back(L"https://attack" + std::to_wstring(i) + L".example");
  ASSERT_TRUE(list_.SetList(pages));
  hosttest::HostProcess host;
  ASSERT_TRUE(host.started());
  for (size_t i = 0; i < attacks.size(); ++i) {
    SCOPED_TRACE(attacks[i].what);
    const std::string origin = vd::WideToUtf8(pages[i + 1]);
    ASSERT_TRUE(host.Write(Frame(Ask(static_cast<int>(i), "InitKey", {"ABCDEF123456"}, origin.c_str()))));
    const vdtest::AttackOutcome outcome = vdtest::AttackEraseDialog(attacks[i], 20000);
    EXPECT_TRUE(outcome.asked);
    EXPECT_TRUE(outcome.stillAsking);
    EXPECT_EQ(AnswerTo(host, static_cast<int>(i)).value("result", json()), 4099);
  }
  EXPECT_NE(vdtest::Tokenctl(L"list").find("Opalix Token"), std::string::npos);
  ASSERT_TRUE(host.Write(Frame(Ask(100, "InitKey", {"ABCDEF123456"}, "https://deliberate.example"))));
  EXPECT_TRUE(vdtest::ClickEraseAfter(1500, 20000));
  EXPECT_EQ(AnswerTo(host, 100).value("result", json()), 0);
  EXPECT_EQ(vdtest::Tokenctl(L"list").find("Opalix Token"), std::string::npos);
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kPromptly), 0u);
}

// While a question is open the host answers every other frame at once: another page's InitKey is refused,
// reads are answered, a frame nested too deep is refused by its id. After the user cancels, that page's
// InitKey is refused at once; a withdrawn call is answered 4099 and erases nothing.
TEST_F(HostProcessTest, AnswersWhileItAsksAndOneQuestionAtATime) {
  ASSERT_TRUE(list_.SetList({L"https://first.example", L"https://second.example", L"https://third.example"}));
  hosttest::HostProcess host;
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.Write(Frame(Ask(1, "InitKey", {"ABCDEF123456"}, "https://first.example"))));
  std::string deep = R"({"id":4,"method":"GetKeyCount","origin":"https://first.example","params":)";
  deep += std::string(20000, '[') + std::string(20000, ']') + "}";
  const auto asked = vdtest::AnswerEraseDialog(false, 20000, [&] {
    ASSERT_TRUE(host.Write(Frame(Ask(2, "InitKey", {"ABCDEF123456"}, "https://second.example")) +
                           Frame(Ask(3, "GetKeyCount", json::array(), "https://second.example")) + host::EncodeFrame(deep)));
    EXPECT_EQ(AnswerTo(host, 2).value("result", json()), 4099);
    EXPECT_EQ(AnswerTo(host, 3).value("result", json()), 1);
    EXPECT_EQ(AnswerTo(host, 4).value("error", ""), "the request is nested deeper than 32 levels");
  });
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(AnswerTo(host, 1).value("result", json()), 4099);
  const std::vector<json> frames = FramesSoFar(host);
  EXPECT_NE(std::find(frames.begin(), frames.end(), json{{"event", "asking"}, {"id", 1}}), frames.end());

  ASSERT_TRUE(host.Write(Frame(Ask(5, "InitKey", {"ABCDEF123456"}, "https://first.example"))));
  EXPECT_EQ(AnswerTo(host, 5).value("result", json()), 4099);
  ASSERT_TRUE(host.Write(Frame(Ask(6, "InitKey", {"ABCDEF123456"}, "https://third.example"))));
  vdtest::EraseDialogAnswerer user(true);  // would erase, had the call not been withdrawn first
  ASSERT_TRUE(vdtest::PumpUntil([&] {
    const std::vector<json> now = FramesSoFar(host);
    return std::find(now.begin(), now.end(), json{{"event", "asking"}, {"id", 6}}) != now.end();
  }, 20000));
  ASSERT_TRUE(host.Write(Frame({{"id", 7}, {"method", "Withdraw"}, {"params", {6}}})));
  EXPECT_EQ(AnswerTo(host, 7).value("result", json()), true);
  EXPECT_EQ(AnswerTo(host, 6).value("result", json()), 4099);
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kPromptly), 0u);
  EXPECT_NE(vdtest::Tokenctl(L"list").find("Opalix Token"), std::string::npos);
}

TEST_F(HostProcessTest, WithoutAListEveryOriginIsRefused) {
  list_.Remove();
  hosttest::HostProcess host;
  ASSERT_TRUE(host.started());
  EXPECT_TRUE(host.Write(Frame(Ask(1, "GetKeyCount")) + Frame(Ask(2, "InitKey", {"ABCDEF123456"}))));
  host.CloseInput();
  EXPECT_EQ(host.WaitExit(kPromptly), 0u);
  const std::vector<json> answers = Answers(host.output(), json::array());
  ASSERT_EQ(answers.size(), 2u);
  for (const json& a : answers)
    EXPECT_EQ(a.value("error", "").rfind("this page's origin is not trusted", 0), 0u) << a.dump();
  vdtest::ProcessResult list = vdtest::RunTool(L"tokenctl.exe", L"list");
  EXPECT_NE(list.out.find("Opalix Token"), std::string::npos) << list.out;  // not re-initialised
}

// The installer's check: the kept origins on standard output, each dropped entry named on standard error.
TEST_F(HostProcessTest, CheckOriginsNamesTheEntriesItDrops) {
  ASSERT_TRUE(list_.SetText(L"https://bank.example;htps://typo.example"));
  const struct {
    std::wstring args;
    DWORD exitCode;
    const char* out;
    const char* errHas;
  } rows[] = {
      {L"--check-origins --text \"https://a.example;http://b.example:8080\"", 0,
       "https://a.example\nhttp://b.example:8080\n", ""},
      {L"--check-origins --text \"https://a.example;http://[::1\"", 1, "https://a.example\n", "\"http://[::1\""},
      {L"--check-origins", 1, "https://bank.example\n", "\"htps://typo.example\" dropped: only http and https"},
      {L"--check-origins --value HKLM\\SOFTWARE\\Kestrova\\Brindlemark_Lumora\\TrustedOrigins", 1,
       "https://bank.example\n", "typo.example"},
      {L"--check-origins --value HKLM\\SOFTWARE\\Kestrova\\Brindlemark_Lumora\\NoSuchValue", 2, "", "no list"},
      {L"--check-origins --bogus", 2, "", "--check-origins"},
  };
  for (const auto& row : rows) {
    const vdtest::ProcessResult r = vdtest::RunTool(L"lumora_host.exe", row.args, kPromptly);
    EXPECT_EQ(r.exitCode, row.exitCode) << vd::WideToUtf8(row.args) << r.err;
    EXPECT_EQ(r.out, row.out) << vd::WideToUtf8(row.args);
    EXPECT_NE(r.err.find(row.errHas), std::string::npos) << vd::WideToUtf8(row.args) << ": " << r.err;
  }
}

TEST_F(HostProcessTest, RegisterAndUnregisterFromTheCommandLine) {
  for (const wchar_t* args : {L"--register", L"--unregister"}) {
    hosttest::HostProcess host(args);
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.WaitExit(kPromptly), 0u) << args;
    const bool present = ::GetFileAttributesW((vdtest::BinDir() + L"com.kestrova.lumora.json").c_str()) !=
                         INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(present, std::wstring(args) == L"--register") << args;
  }
}

}  // namespace
