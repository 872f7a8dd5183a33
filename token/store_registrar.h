// Copies the certificates of present tokens into the current user's system stores and removes them again.
// A certificate whose private key is on the token goes to MY with key-provider information naming the
// vendor CSP and the key container; others go to ROOT, CA or ADDRESSBOOK and are never removed.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "pkcs11.h"
#include "token_keys.h"
#include "token_types.h"

namespace vd {

class ModuleBinding;

// System stores opened once for a batch of registrations: opening and committing a store costs more the
// bigger it is, so a token's certificates share one open per store. Each store is committed and closed when
// the batch ends.
class StoreBatch {
 public:
  StoreBatch() = default;
  ~StoreBatch();
  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;
  // The open store, or null when it cannot be opened.
  HCERTSTORE Get(const wchar_t* name);

 private:
  std::map<std::wstring, UniqueCertStore> stores_;
};

HCERTSTORE OpenSystemStore(const wchar_t* name);
// Writes the store's pending changes (required before closing for them to persist) and closes it.
void CommitAndClose(UniqueCertStore& store);

// Puts `cert` (with its properties) in place of an equal entry of `store`, or adds it; when the add fails,
// the earlier entry is put back as it was. `add` stands in for the store's add in tests.
using StoreAdd = std::function<bool(HCERTSTORE, PCCERT_CONTEXT)>;
bool ReplaceInStore(HCERTSTORE store, PCCERT_CONTEXT cert, const StoreAdd& add = nullptr);

class StoreRegistrar {
 public:
  // The registrar works on the manager's module, CSP name and token list; the caller holds the list's lock.
  StoreRegistrar(const ModuleBinding& module, const std::wstring& cspName, std::vector<TokenRecord>& tokens)
      : module_(module), cspName_(cspName), tokens_(tokens) {}

  // True when the chosen store accepted the certificate. Sets the certificate's key spec. `keys` are the
  // token's private keys read for the operation at hand; without them they are read here. When they could
  // not all be read, nothing is filed (false): where the certificate goes depends on them.
  bool RegisterCertificate(CK_SLOT_ID slot, TokenCertificate& cert, StoreBatch* batch = nullptr,
                           const TokenKeys* keys = nullptr);
  // True when MY could be searched; deletes the MY entries that this certificate's registration made.
  bool UnregisterCertificate(CK_SLOT_ID slot, const TokenCertificate& cert, StoreBatch* batch = nullptr);
  // The keys, when given, were read in the operation that read the certificates. A token not read whole
  // (or whose keys could not all be read) has nothing filed.
  void RegisterTokenCertificates(CK_SLOT_ID slot, const TokenKeys* keys = nullptr);
  void UnregisterTokenCertificates(CK_SLOT_ID slot, bool emptyList);
  // Registers again the certificates of other tokens equal to this one; true when all of them succeed.
  bool RestoreCopies(const TokenCertificate& cert, StoreBatch* batch = nullptr);
  bool PurgeRegistrations();
  // Deletes every MY entry with our CSP name whose container path lies on the slot ("\\.\<description>\"),
  // then registers again the certificates other tokens hold with the values that went.
  bool PurgeSlot(CK_SLOT_ID slot, const std::wstring& slotDescription);

  // "\\.\<slot description>\<container>", or nothing when it would not fit in MAX_PATH.
  std::optional<std::wstring> ContainerPath(CK_SLOT_ID slot, const TokenCertificate& cert) const;

 private:
  const ModuleBinding& module_;
  const std::wstring& cspName_;
  std::vector<TokenRecord>& tokens_;
};

}  // namespace vd
