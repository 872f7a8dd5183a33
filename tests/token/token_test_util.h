// Helpers of the token tests: the simulated token through tokenctl, and the user's stores as a second
// process sees them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "testsupport.h"

namespace tokentest {

struct StoreEntry {
  std::string store;
  std::string sha1;
  std::string provider;   // "-" when the entry has no key-provider information
  std::string container;  // UTF-8
  std::string keySpec;
};

// Every MY/CA/ROOT/ADDRESSBOOK entry, read by token_probe in its own process.
std::vector<StoreEntry> ReadStores();
// The entries of one test certificate (by its SHA-1), in any store.
std::vector<StoreEntry> EntriesOf(const std::vector<StoreEntry>& all, const wchar_t* certName);

std::string Sha1OfFile(const std::wstring& derPath);
// The store's entry of a test certificate, if any.
vd::UniqueCertContext FindInStore(HCERTSTORE store, const wchar_t* certName);
// Quoted full path of a test certificate, for command lines.
std::wstring CertArg(const wchar_t* name);
// Removes every test certificate (testcerts and testcerts\bulk) from the four stores.
void RemoveTestCertsFromStores();

using vdtest::Tokenctl;
// The handles "tokenctl add-cert" printed: the certificate's first, then the key's when one was made.
std::vector<unsigned long> AddCertHandles(const std::wstring& args);
inline unsigned long AddCert(const std::wstring& args) {
  auto h = AddCertHandles(args);
  return h.empty() ? 0 : h[0];
}

// The fault rule "fail FUNCTION RV --after AFTER --times TIMES" of tokenctl, written as tokenctl writes it
// (without the cost of a process); an empty function clears every rule. Rules apply from the module's next
// initialisation. `rv` is decimal.
void SetFault(const std::string& function, const char* rv, uint32_t after, uint32_t times);

// How often `function` is called while a token manager loads over the tokens present now (through
// p11count.dll): a fault placed after that many calls hits the first call after the start-up.
uint32_t CallsDuringLoad(const char* function);

// Each test gets its own token state folder and clean stores, before and after.
class TokenStoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  vdtest::ScopedSimTokenDir simDir_;
};

}  // namespace tokentest
