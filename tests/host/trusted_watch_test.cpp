// The host reads the installed list only after the installation key changed: every change an installer
// makes, the value's removal and the key written anew included, reaches the requests once the watching
// thread has seen it (at once, but not within the same instant).
#include <gtest/gtest.h>

#include "testsupport.h"
#include "trusted_list.h"
#include "trusted_watch.h"

namespace {

TEST(WatchedTrustedOriginsTest, EveryChangeReachesTheNextRead) {
  hosttest::ScopedTrustedOrigins list;
  ASSERT_TRUE(list.SetList({L"https://bank.example"}));
  host::WatchedTrustedOrigins watched;
  const auto origins = [&] { return watched.Get().origins(); };
  const auto becomes = [&](const std::vector<std::string>& want) {
    return vdtest::PumpUntil([&] { return origins() == want; }, 5000);
  };
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://bank.example"}));
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://bank.example"}));  // unchanged, not read again
  ASSERT_TRUE(list.SetList({L"https://bank.example", L"https://ebank.example:8443"}));
  EXPECT_TRUE(becomes({"https://bank.example", "https://ebank.example:8443"}));
  list.Remove();
  EXPECT_TRUE(vdtest::PumpUntil([&] { return !watched.Get().present(); }, 5000));
  ASSERT_TRUE(list.SetText(L"https://other.example"));
  EXPECT_TRUE(becomes({"https://other.example"}));
  // A policy value takes over from the installation's, and its removal gives it back.
  hosttest::ScopedTrustedOrigins policy(tq::kTrustedOriginsPolicyKey);
  ASSERT_TRUE(policy.SetText(L"https://policy.example"));
  EXPECT_TRUE(becomes({"https://policy.example"}));
  policy.Remove();
  EXPECT_TRUE(becomes({"https://other.example"}));
}

}  // namespace
