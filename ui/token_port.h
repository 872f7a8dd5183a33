// What the main window needs from the token layer. The production implementation forwards to the token
// manager; tests drive the window with a scripted one. Every call is made on the dialog thread except the
// object operations, which the event worker makes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expiry.h"
#include "pkcs11.h"
#include "token_types.h"

namespace vd {

// Copies taken under the token list's lock, so that the tree never holds a reference into a list that the
// worker thread may change meanwhile.
struct CertificateView {
  unsigned long handle = 0;  // certificate key: the object handle on the token
  std::wstring displayName;
  std::vector<uint8_t> value;  // DER
  bool registered = false;
  bool operator==(const CertificateView&) const = default;
};
struct TokenView {
  unsigned long key = 0;  // slot id
  std::wstring label;
  std::vector<CertificateView> certificates;
  bool operator==(const TokenView&) const = default;
};

// What reading every present token came to: whether the slot list could be had at all (else nothing
// changed, and the window reads all again later), and the tokens that could not be read whole.
struct TokenEnumeration {
  bool slotsListed = true;
  std::vector<unsigned long> unread;
};

// What reading an inserted token came to: read whole (also when there was no token to take), listed with
// what could be read but to be read again, or not listed and to be read again.
enum class TokenRead { kWhole, kPartly, kFailed };

class TokenPort {
 public:
  virtual ~TokenPort() = default;
  virtual bool Load() = 0;  // true when the module is bound (also when it already was)
  virtual void Unload() = 0;
  // The window reads the tokens not read whole again as it does at insertion.
  virtual TokenEnumeration EnumerateTokens(bool withHomePage) = 0;
  virtual bool StartMonitor(HWND target, UINT message) = 0;
  // `lastAttempt`: a read that fails partway lists what it got.
  virtual TokenRead OnTokenInserted(unsigned long key, bool lastAttempt) = 0;
  virtual void OnTokenRemoved(unsigned long key) = 0;
  // False when the token could not be read for it: the window reads the token again.
  virtual bool OnObjectCreated(unsigned long key, unsigned long object) = 0;
  virtual void OnObjectDestroyed(unsigned long key, unsigned long object) = 0;
  virtual void RefreshLabel(unsigned long key) = 0;
  virtual bool IsPinChangeRequired(unsigned long key) = 0;
  virtual bool HasToken(unsigned long key) = 0;
  virtual bool HasAnyToken() = 0;
  virtual std::vector<TokenView> Snapshot() = 0;
  // Removes every MY entry registered for the token's cryptographic provider.
  virtual void PurgeRegistrations() = 0;
  // Drops the store entries of one token but keeps it in the list.
  virtual void UnregisterTokenCertificates(unsigned long key) = 0;
  // The bound module's tables for the window's token commands; null while unbound.
  virtual CK_FUNCTION_LIST* Functions() = 0;
  virtual AuxFunctionList* AuxFunctions() = 0;
};

// The token manager bound to the vendor module that sits beside the program; `expiryPrompt` shows the
// warning for a certificate due to expire on an inserted token.
std::unique_ptr<TokenPort> MakeTokenManagerPort(ExpiryPrompt expiryPrompt);

}  // namespace vd
