// The main dialog's view of the token manager.
#include "token_manager.h"
#include "token_port.h"

namespace vd {

namespace {

class TokenManagerPort final : public TokenPort {
 public:
  explicit TokenManagerPort(ExpiryPrompt expiryPrompt) { manager_.SetExpiryPrompt(std::move(expiryPrompt)); }
  bool Load() override { return manager_.Load() == CKR_OK; }
  void Unload() override { manager_.Unload(); }
  TokenEnumeration EnumerateTokens(bool withHomePage) override {
    std::vector<CK_SLOT_ID> unread;
    bool listed = false;
    manager_.EnumerateTokens(withHomePage, &unread, &listed);
    return {listed, {unread.begin(), unread.end()}};
  }
  bool StartMonitor(HWND target, UINT message) override { return manager_.StartMonitor(target, message) == CKR_OK; }
  TokenRead OnTokenInserted(unsigned long key, bool lastAttempt) override {
    switch (manager_.OnTokenInserted(key, lastAttempt)) {
      case TokenManager::InsertOutcome::kReadFailed:
        return TokenRead::kFailed;
      case TokenManager::InsertOutcome::kListedPartly:
        return TokenRead::kPartly;
      default:
        return TokenRead::kWhole;
    }
  }
  void OnTokenRemoved(unsigned long key) override { manager_.OnTokenRemoved(key); }
  bool OnObjectCreated(unsigned long key, unsigned long object) override {
    return manager_.OnObjectCreated(key, object);
  }
  void OnObjectDestroyed(unsigned long key, unsigned long object) override {
    manager_.OnObjectDestroyed(key, object);
  }
  void RefreshLabel(unsigned long key) override { manager_.RefreshLabel(key); }
  bool IsPinChangeRequired(unsigned long key) override { return manager_.IsPinChangeRequired(key); }
  bool HasToken(unsigned long key) override { return manager_.HasToken(key); }
  bool HasAnyToken() override { return manager_.HasAnyToken(); }
  std::vector<TokenView> Snapshot() override {
    std::vector<TokenView> out;
    manager_.WithTokens([&out](const std::vector<TokenRecord>& tokens) {
      for (const TokenRecord& t : tokens) {
        TokenView v{static_cast<unsigned long>(t.slot), t.label, {}};
        for (const TokenCertificate& c : t.certificates) {
          v.certificates.push_back({static_cast<unsigned long>(c.handle), c.displayName, c.value, c.registered});
        }
        out.push_back(std::move(v));
      }
    });
    return out;
  }
  void PurgeRegistrations() override { manager_.PurgeRegistrations(); }
  void UnregisterTokenCertificates(unsigned long key) override { manager_.UnregisterTokenCertificates(key, false); }
  CK_FUNCTION_LIST* Functions() override { return manager_.Functions(); }
  AuxFunctionList* AuxFunctions() override { return manager_.AuxFunctions(); }

 private:
  TokenManager manager_;
};

}  // namespace

std::unique_ptr<TokenPort> MakeTokenManagerPort(ExpiryPrompt expiryPrompt) {
  return std::make_unique<TokenManagerPort>(std::move(expiryPrompt));
}

}  // namespace vd
