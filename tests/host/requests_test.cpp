// Requests as the extension sends them, and the answers: each method against a token made with tokenctl,
// requests that are malformed in each way a page or a broken extension could make them, and the origin
// check that every request passes whatever the extension decided.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "requests.h"
#include "testsupport.h"
#include "text.h"

namespace {

using nlohmann::json;

constexpr char kBank[] = "https://bank.example";

class RequestTest : public ::testing::Test {
 protected:
  static void Ctl(const std::wstring& args) { vdtest::Tokenctl(args); }
  void SetUp() override {
    Ctl(L"insert 1 --serial ABCDEF123456");
    Ctl(L"add-cert 1 \"" + vdtest::TestCert(L"serial_hi.der") + L"\"");
    Ctl(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\"");
    ASSERT_EQ(queries_.Load(), 0);
  }
  json Ask(const std::string& request) { return json::parse(handler_.Answer(request)); }
  // A GetKeyCount whose params are `lists` lists deep.
  static std::string Nested(int id, int lists) {
    return "{\"id\":" + std::to_string(id) + R"(,"method":"GetKeyCount","origin":"https://bank.example","params":)" +
           std::string(lists, '[') + std::string(lists, ']') + "}";
  }
  static std::string Request(const json& id, const char* method, const json& params, const char* origin = kBank) {
    json r = {{"id", id}, {"method", method}, {"params", params}};
    if (origin) r["origin"] = origin;
    return r.dump();
  }

  vdtest::ScopedSimTokenDir tokens_;
  tq::TokenQueries queries_;
  int listReads_ = 0;
  // What the user answers, and what each question named: the page's origin, then the token's label and serial.
  bool userErases_ = false;
  std::vector<std::string> asked_;
  host::RequestHandler handler_{queries_,
                                [this] {
                                  ++listReads_;
                                  return tq::TrustedOrigins::FromText(L"https://bank.example\nhttp://127.0.0.1:8080");
                                },
                                [this](const std::string& origin, const tq::QuestionControl&) -> tq::EraseConsent {
                                  return [this, origin](const tq::EraseCandidate& c) {
                                    asked_.push_back(origin + " " + c.label + " " + c.serial);
                                    return userErases_;
                                  };
                                }};
};

TEST_F(RequestTest, EachMethodAnswersAsThePluginDoes) {
  const struct {
    std::string request;
    json answer;
  } rows[] = {
      {Request(1, "GetKeyCount", json::array()), {{"id", 1}, {"result", 1}}},
      {Request(2, "GetUKeySN", json::array()), {{"id", 2}, {"result", "ABCDEF123456    "}}},
      {Request(3, "GetAllCertCn", json::array()), {{"id", 3}, {"result", "Mallory High Serial,Alice Signer"}}},
      {Request("four", "InitKey", {"abcdef123456"}), {{"id", "four"}, {"result", 4099}}},
      {Request(5, "InitKey", {""}), {{"id", 5}, {"result", 4101}}},
      {Request(6, "InitKey", {nullptr}), {{"id", 6}, {"result", 4101}}},
      {Request(7, "InitKey", {"ABCDEF123456    "}), {{"id", 7}, {"result", 4099}}},
      // Without "params" a method is called with none.
      {R"({"id":8,"method":"GetKeyCount","origin":"https://bank.example"})", {{"id", 8}, {"result", 1}}},
      {Request(9, "GetKeyCount", json::array(), "http://127.0.0.1:8080"), {{"id", 9}, {"result", 1}}},
      // Brackets and escaped quotes inside a text are no nesting.
      {Request(11, "InitKey", {std::string(40, '[') + "\"" + std::string(40, '{')}), {{"id", 11}, {"result", 4099}}},
  };
  for (const auto& row : rows) EXPECT_EQ(Ask(row.request), row.answer) << row.request;
  const json sn = Ask(Request(10, "GetSN", json::array()));
  EXPECT_EQ(sn["result"].get<std::string>().rfind("00800000000000000001,", 0), 0u) << sn.dump();
}

TEST_F(RequestTest, MalformedRequestsGetAnErrorAndTouchNoToken) {
  const struct {
    std::string request;
    json id;
    const char* error;  // the start of the error text
  } rows[] = {
      {"", nullptr, "the request is not JSON"},
      {"{\"id\":1,", nullptr, "the request is not JSON"},
      {"{\"id\":1,\"method\":\"GetKeyCount\"} trailing", nullptr, "the request is not JSON"},
      {"{\"id\":1,\"method\":\"\xff\xfe\"}", nullptr, "the request is not JSON"},  // not UTF-8
      {"[1,2]", nullptr, "the request is not a JSON object"},
      {"42", nullptr, "the request is not a JSON object"},
      {R"({"method":"GetKeyCount"})", nullptr, "the request has no numeric or text id"},
      {R"({"id":{"a":1},"method":"GetKeyCount"})", nullptr, "the request has no numeric or text id"},
      {R"({"id":true,"method":"GetKeyCount"})", nullptr, "the request has no numeric or text id"},
      {R"({"id":3})", 3, "the request has no method name"},
      {R"({"id":3,"method":7})", 3, "the request has no method name"},
      {R"({"id":3,"method":"GetKeyCount","params":{"a":1}})", 3, "params must be a list"},
      {R"({"id":3,"method":"GetKeyCount","params":"x"})", 3, "params must be a list"},
      {Request(4, "getkeycount", json::array()), 4, "unknown method: getkeycount"},
      {Request(4, "toString", json::array()), 4, "unknown method: toString"},
      {Request(5, "GetKeyCount", {1}), 5, "GetKeyCount takes no parameters"},
      {Request(5, "GetAllCertCn", {"x"}), 5, "GetAllCertCn takes no parameters"},
      {Request(6, "InitKey", json::array()), 6, "InitKey takes one text parameter"},
      {Request(6, "InitKey", {4099}), 6, "InitKey takes one text parameter"},
      {Request(6, "InitKey", {{{"serial", "ABCDEF123456"}}}), 6, "InitKey takes one text parameter"},
      {Request(6, "InitKey", {"ABCDEF123456", "ABCDEF123456"}), 6, "InitKey takes one text parameter"},
      {Request(7, "InitKey", {"ABCDEF123456"}, nullptr), 7, "the request names no page origin"},
      {Request(7, "GetKeyCount", json::array(), ""), 7, "the request names no page origin"},
      {Request(8, "InitKey", {"ABCDEF123456"}, "https://evil.example"), 8,
       "this page's origin is not trusted by the Certificate Manager installation: https://evil.example"},
      {Request(8, "GetUKeySN", json::array(), "http://bank.example"), 8, "this page's origin is not trusted"},
      {Request(8, "GetKeyCount", json::array(), "null"), 8, "this page's origin is not trusted"},
      // The object and 31 lists in it are 32 levels, read; one more is refused before it is read.
      {Nested(10, 31), 10, "GetKeyCount takes no parameters"},
      {Nested(10, 32), 10, "the request is nested deeper than 32 levels"},
  };
  for (const auto& row : rows) {
    const json answer = Ask(row.request);
    EXPECT_EQ(answer["id"], row.id) << row.request;
    ASSERT_TRUE(answer.contains("error") && answer["error"].is_string()) << answer.dump();
    EXPECT_EQ(answer["error"].get<std::string>().rfind(row.error, 0), 0u) << answer.dump();
    EXPECT_FALSE(answer.contains("result")) << answer.dump();
  }
  EXPECT_EQ(Ask(Request(9, "GetAllCertCn", json::array()))["result"], "Mallory High Serial,Alice Signer");
}

TEST_F(RequestTest, TheListIsReadForEveryRequestAndInitKeyErasesOnlyWhatTheUserConfirms) {
  const int before = listReads_;
  Ask(Request(1, "GetKeyCount", json::array()));
  Ask(Request(2, "GetKeyCount", json::array(), "https://evil.example"));
  EXPECT_EQ(listReads_, before + 2);
  // Asked with the page's origin as the list writes it, not as the request spelled it.
  EXPECT_EQ(Ask(Request(3, "InitKey", {"ABCDEF123456"}, "HTTPS://Bank.Example:443")),
            (json{{"id", 3}, {"result", 4099}}));
  EXPECT_EQ(Ask(Request(4, "GetAllCertCn", json::array()))["result"], "Mallory High Serial,Alice Signer");
  userErases_ = true;
  EXPECT_EQ(Ask(Request(5, "InitKey", {"ABCDEF123456"})), (json{{"id", 5}, {"result", 0}}));
  EXPECT_EQ(Ask(Request(6, "GetAllCertCn", json::array())), (json{{"id", 6}, {"result", ""}}));
  // A refused page and a serial that matches no token are not asked about.
  Ask(Request(7, "InitKey", {"ABCDEF123456"}, "https://evil.example"));
  Ask(Request(8, "InitKey", {"NOSUCHTOKEN1"}));
  EXPECT_EQ(asked_, (std::vector<std::string>{"https://bank.example Opalix Token ABCDEF123456",
                                              "https://bank.example Opalix Token ABCDEF123456"}));
}

TEST_F(RequestTest, TheExtensionAsksForTheListButNoPageCan) {
  const json list = {"https://bank.example", "http://127.0.0.1:8080"};
  EXPECT_EQ(Ask(R"({"id":1,"method":"ListOrigins"})"), (json{{"id", 1}, {"result", list}}));
  EXPECT_EQ(Ask(R"({"id":2,"method":"ListOrigins","params":[]})"), (json{{"id", 2}, {"result", list}}));
  for (const char* request : {R"({"id":3,"method":"ListOrigins","params":[],"origin":"https://bank.example"})",
                              R"({"id":3,"method":"ListOrigins","params":[1]})"}) {
    EXPECT_EQ(Ask(request).value("error", ""), "ListOrigins takes no parameters and no page origin") << request;
  }
  EXPECT_EQ(json::parse(handler_.OriginsEvent()), (json{{"event", "origins"}, {"origins", list}}));
}

TEST(TextConversionTest, SerialsThatTheCodePageCannotHoldMatchNothing) {
  const struct {
    std::string utf8;
    bool converts;
  } rows[] = {
      {"ABCDEF123456", true},
      {"", true},
      {"\xc3\x28", false},             // broken UTF-8
      {"\xed\xa0\x80", false},         // a lone surrogate
      {::GetACP() == 936 ? "\xe0\xb8\x81" : "\xe4\xb8\xad", false},  // a character outside the code page
  };
  for (const auto& row : rows) {
    std::string ansi = "left over";
    EXPECT_EQ(host::Utf8ToAnsi(row.utf8, &ansi), row.converts) << row.utf8;
    if (row.converts) {
      EXPECT_EQ(ansi, row.utf8);
    }
  }
  EXPECT_EQ(host::AnsiToUtf8("Alice Signer"), "Alice Signer");
}

}  // namespace
