// The list of trusted origins: what counts as the same origin, what is no origin at all, and how an
// installer's text becomes the list.
#include <gtest/gtest.h>

#include "punycode.h"
#include "text.h"
#include "trusted_origins.h"

namespace {

TEST(OriginTest, NormalFormOrNothing) {
  const struct {
    const char* text;
    const char* normal;  // "" for no origin
  } rows[] = {
      {"https://bank.example", "https://bank.example"},
      {"HTTPS://Bank.EXAMPLE", "https://bank.example"},
      {"https://bank.example/", "https://bank.example"},
      {"  https://bank.example\t", "https://bank.example"},
      {"https://bank.example:443", "https://bank.example"},
      {"http://bank.example:80", "http://bank.example"},
      {"https://bank.example:80", "https://bank.example:80"},
      {"http://bank.example:443", "http://bank.example:443"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      {"http://[::1]", "http://[::1]"},
      {"http://[FE80::A:1]:8080", "http://[fe80::a:1]:8080"},
      {"http://bank.example:099", "http://bank.example:99"},
      {"https://B\xc3\xbc" "cher.example", "https://xn--bcher-kva.example"},
      {"https://xn--bcher-kva.example", "https://xn--bcher-kva.example"},
      {"https://bank\xe3\x80\x82" "example", "https://bank.example"},
      {"https://bank.example/login", ""},
      {"https://bank.example//", ""},
      {"https://bank.example?x=1", ""},
      {"https://user@bank.example", ""},
      {"https://bank.example:", ""},
      {"https://bank.example:8x", ""},
      {"https://a:b:c", ""},
      {"https://", ""},
      {"bank.example", ""},
      {"://bank.example", ""},
      {"1http://bank.example", ""},
      {"null", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(tq::NormaliseOrigin(row.text), row.normal) << row.text;
}

// Every entry a list drops says why, in words a person who wrote the list can act on.
TEST(OriginTest, DroppedEntriesSayWhy) {
  const struct {
    const char* text;
    const char* reason;
  } rows[] = {
      {"htps://typo.example", "only http and https"},
      {"ws://bank.example", "only http and https"},
      {"bank.example", "scheme://host"},
      {"http://bank.example:99999", "outside 1-65535"},
      {"http://bank.example:0", "outside 1-65535"},
      {"http://bank.example:8x", "not a number"},
      {"http://[::1", "IPv6"},
      {"http://[1:2:3:4:5:6:7:8:9]", "IPv6"},
      {"http://[::1::2]", "IPv6"},
      {"https://*.bank.example", "wildcard"},
      {"https://user:pw@bank.example", "user name"},
      {"https://bank.example/login", "path"},
      {"https://bank.example#x", "path"},
      {"https://bank..example", "malformed"},
      {"https://-bank.example", "malformed"},
      {"https://bank example", "malformed"},
      {"http://256.1.1.1", "IPv4"},
      {"http://1.2.3", "IPv4"},
      {"https://xn--a-9.example", "ASCII"},  // no Punycode
      {"https://", "missing"},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(tq::NormaliseOrigin(row.text, &why), "") << row.text;
    EXPECT_NE(why.find(row.reason), std::string::npos) << row.text << ": " << why;
  }
}

// RFC 3492's own samples, and labels that are no Punycode.
TEST(PunycodeTest, EncodesAndDecodesTheStandardsSamples) {
  const struct {
    std::u32string unicode;
    const char* ascii;
  } rows[] = {
      {U"b\u00fccher", "bcher-kva"},
      {U"m\u00fcnchen", "mnchen-3ya"},
      {U"\u4ed6\u4eec\u4e3a\u4ec0\u4e48\u4e0d\u8bf4\u4e2d\u6587", "ihqwcrb4cv8a8dqg056pqjye"},
      {U"3\u5e74B\u7d44\u91d1\u516b\u5148\u751f", "3B-ww4c5e180e575a65lsy2b"},
      {U"\U0001F600", "e28h"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(tq::PunycodeEncode(row.unicode).value_or("?"), row.ascii);
    EXPECT_EQ(tq::PunycodeDecode(row.ascii).value_or(U"?"), row.unicode) << row.ascii;
  }
  for (const char* broken : {"a-9", "99999999999", "a-\xc3\xa9", "-!"})
    EXPECT_FALSE(tq::PunycodeDecode(broken).has_value()) << broken;
  EXPECT_EQ(tq::DisplayOrigin("https://xn--bcher-kva.example:8443"),
            "https://b\xc3\xbc" "cher.example:8443 (https://xn--bcher-kva.example:8443)");
  EXPECT_EQ(tq::DisplayOrigin("https://bank.example"), "https://bank.example");
}

TEST(OriginTest, ListFromTextNamesExactlyItsOrigins) {
  const struct {
    const wchar_t* text;
    std::vector<std::string> origins;
  } rows[] = {
      {L"", {}},
      {L"https://bank.example", {"https://bank.example"}},
      {L"https://a.example\r\nhttps://b.example\n\nhttps://c.example\r\n", {"https://a.example", "https://b.example", "https://c.example"}},
      {L"https://a.example\rhttps://b.example", {"https://a.example", "https://b.example"}},
      {L"https://a.example/path\nhttps://b.example", {"https://b.example"}},
      {L"HTTPS://A.example\nhttps://a.example:443/", {"https://a.example"}},
      {L"https://a.example; https://b.example;;", {"https://a.example", "https://b.example"}},
  };
  for (const auto& row : rows) {
    tq::TrustedOrigins list = tq::TrustedOrigins::FromText(row.text);
    EXPECT_TRUE(list.present());
    EXPECT_EQ(list.origins(), row.origins);
  }
  const std::wstring multi(L"https://a.example\0https://b.example\0\0", 37);
  EXPECT_EQ(tq::TrustedOrigins::FromText(multi).origins(),
            (std::vector<std::string>{"https://a.example", "https://b.example"}));

  tq::TrustedOrigins list = tq::TrustedOrigins::FromText(L"https://bank.example\nhttp://127.0.0.1:8080");
  const struct {
    const char* origin;
    bool named;
  } asks[] = {
      {"https://bank.example", true},       {"https://BANK.example", true},  {"https://bank.example:443", true},
      {"http://127.0.0.1:8080", true},      {"http://127.0.0.1", false},     {"http://127.0.0.1:8081", false},
      {"http://bank.example", false},       {"https://bank.example.evil.example", false},
      {"https://x.bank.example", false},    {"null", false},                 {"", false},
  };
  for (const auto& a : asks) EXPECT_EQ(list.Names(a.origin), a.named) << a.origin;
  EXPECT_FALSE(tq::TrustedOrigins().present());
  EXPECT_FALSE(tq::TrustedOrigins().Names("https://bank.example"));
}

// One bad entry costs only itself, and is named once however often it is written.
TEST(OriginTest, BadEntriesCostOnlyThemselves) {
  const tq::OriginListCheck check = tq::CheckOriginList(
      L"htps://typo.example;https://bank.example\nhttp://bank.example:99999\nhttp://[::1\nhtps://typo.example");
  EXPECT_EQ(check.origins, std::vector<std::string>{"https://bank.example"});
  std::vector<std::string> dropped;
  for (const auto& r : check.rejected) dropped.push_back(r.entry);
  EXPECT_EQ(dropped, (std::vector<std::string>{"htps://typo.example", "http://bank.example:99999", "http://[::1"}));
}

}  // namespace
