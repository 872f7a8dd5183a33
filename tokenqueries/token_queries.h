// The token queries a bank page makes, answered the same way on both roads to the page: the NPAPI plug-in
// and the native messaging host. One object binds the token vendor's PKCS#11 module once, keeps it for its
// own life, and answers each query afresh: nothing about tokens is cached between calls. 8-bit text.
// Any thread may call: the module calls of one object are serialised, and an InitKey lets others query
// while it waits for the user, but no query reads the token while it is being erased.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "handles.h"
#include "module_binding.h"
#include "pkcs11.h"

namespace tq {

// Buffers the page's text results pass through, and the results the page sees.
constexpr size_t kSerialTextSize = 112;
constexpr size_t kListTextSize = 1000;  // a joined result of at most 999 characters
constexpr size_t kEntrySize = 100;      // one entry of at most 99 characters
constexpr int kMaxTokens = 10;

// The vendor's module, by its 8-bit name, searched for as the system's loader does.
inline constexpr char kModuleFile[] = "LumoraCSP11Brindlemark.dll";

constexpr int kLoadFailed = 4097;
constexpr int kInitKeyFailed = 4099;
constexpr int kInitKeyNoSerial = 4101;

// The token an "InitKey" is about to erase, as the module describes it.
struct EraseCandidate {
  std::string label;   // UTF-8, trailing blanks removed
  std::string serial;  // the page's serial, which matched the token's exactly (ANSI)
};
// Asked once the token is found, before anything is erased: true lets the erasing go on.
using EraseConsent = std::function<bool(const EraseCandidate&)>;

class TokenQueries {
 public:
  TokenQueries() : TokenQueries(kModuleFile) {}
  // Tests bind other module files; the product always binds kModuleFile.
  explicit TokenQueries(std::string moduleFile) : moduleFile_(std::move(moduleFile)) {}
  ~TokenQueries() { Unload(); }
  TokenQueries(const TokenQueries&) = delete;
  TokenQueries& operator=(const TokenQueries&) = delete;

  // Binds and initialises the module once; a failed load is not retried for the life of the object, so
  // a page does not pay for the search on every call. 0, or kLoadFailed. A module without a function
  // these queries call is not bound; one without the vendor table is bound, without InitKey, and the
  // load reports kLoadFailed.
  int Load();
  // Finalises the module if this object initialised it, then lets it go. Never call this from DllMain:
  // a module whose finalisation waits for a thread would hang under the loader lock.
  void Unload();

  int GetKeyCount();
  // Text operations write a zero-terminated text of at most outSize - 1 bytes.
  int GetUKeySN(char* out, size_t outSize);
  // 0 success, kInitKeyFailed otherwise (also when `consent` refuses or is empty); the caller answers
  // kInitKeyNoSerial for an empty serial. The token in the slot is checked again after `consent` answered
  // (serial, label and model), so a token swapped in meanwhile is never erased. Another call while
  // `consent` waits (a browser runs its message loop inside the question, the host answers other frames)
  // may query, but not start a second erasing.
  int InitKey(const char* serial, int length, const EraseConsent& consent);
  int GetAllCertCn(char* out, size_t outSize, int* count);
  int GetSN(char* out, size_t outSize, int* count);

  bool bound() const { return module_.IsBound(); }

 private:
  enum class EntryKind { kDisplayName, kSerialNumber };

  bool EnsureBound();
  // Fills slots_ with the slots holding a token; false (and no slots) when listing fails or more than
  // kMaxTokens are present.
  bool ListTokenSlots(CK_ULONG* count);
  void FindToken(const char* serial, int length);
  // The entry texts of the certificates on the one token present; false when the answer must be empty.
  bool ListCertificates(EntryKind kind, std::vector<std::string>& entries);
  int AnswerList(EntryKind kind, char* out, size_t outSize, int* count);

  // Held for every module call; InitKey lets go of it only while it waits for the consent.
  vd::CriticalSection lock_;
  int lastResult_ = 0;
  CK_SLOT_ID slots_[kMaxTokens] = {};
  CK_TOKEN_INFO tokenInfos_[kMaxTokens] = {};
  int tokenCount_ = 0;
  CK_SLOT_ID selectedSlot_ = 0;
  CK_SESSION_HANDLE selectedSession_ = 0;
  CK_FUNCTION_LIST* fl() const { return module_.Functions(); }

  std::string moduleFile_;
  vd::ModuleBinding module_{vd::kTokenQueryNeeds};
  // Only the initialiser finalises: a module someone else in the process initialised stays theirs.
  bool initialisedHere_ = false;
  bool loadTried_ = false;
  bool asking_ = false;  // an InitKey waits for its consent
};

// Helpers of the certificate listing, exposed for their boundary cases.
// Cuts an entry to at most maxChars bytes without splitting a double-byte character of the ANSI page.
void CutEntry(std::string& entry, size_t maxChars);
// Joins entries with "," into out (outSize bytes), stopping at the last whole entry that fits; answers the
// number of entries joined.
int JoinEntries(const std::vector<std::string>& entries, char* out, size_t outSize);

}  // namespace tq
