// The host reads the installed list only after the installation key changed: every change an installer
// makes, the value's removal and the key written anew included, reaches the next request.
#include <gtest/gtest.h>

#include "trusted_list.h"
#include "trusted_watch.h"

namespace {

TEST(WatchedTrustedOriginsTest, EveryChangeReachesTheNextRead) {
  hosttest::ScopedTrustedOrigins list;
  ASSERT_TRUE(list.SetList({L"https://bank.example"}));
  host::WatchedTrustedOrigins watched;
  const auto origins = [&] { return watched.Get().origins(); };
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://bank.example"}));
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://bank.example"}));  // unchanged, not read again
  ASSERT_TRUE(list.SetList({L"https://bank.example", L"https://ebank.example:8443"}));
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://bank.example", "https://ebank.example:8443"}));
  list.Remove();
  EXPECT_FALSE(watched.Get().present());
  ASSERT_TRUE(list.SetText(L"https://other.example"));
  EXPECT_EQ(origins(), (std::vector<std::string>{"https://other.example"}));
}

}  // namespace
