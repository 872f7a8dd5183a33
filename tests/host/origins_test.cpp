// The list of trusted origins: what counts as the same origin, what is no origin at all, and how an
// installer's text becomes the list.
#include <gtest/gtest.h>

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

}  // namespace
