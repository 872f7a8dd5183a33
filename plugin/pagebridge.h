// Token access of the plug-in: one process-wide object that binds the token vendor's PKCS#11 module
// itself and answers the page's queries. Nothing about tokens is cached between calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "pkcs11.h"

namespace np {

// Buffers the page's text results pass through, and the results the page sees.
constexpr size_t kSerialTextSize = 112;
constexpr size_t kListTextSize = 1000;  // a joined result of at most 999 characters
constexpr size_t kEntrySize = 100;      // one entry of at most 99 characters
constexpr int kMaxTokens = 10;

constexpr int kLoadFailed = 4097;
constexpr int kInitKeyFailed = 4099;
constexpr int kInitKeyNoSerial = 4101;

class CXpluginImp {
 public:
  virtual ~CXpluginImp() = default;
  virtual int Load() = 0;
  virtual int GetKeyCount() = 0;
  // Text operations write a zero-terminated text of at most outSize - 1 bytes.
  virtual int GetUKeySN(char* out, size_t outSize) = 0;
  virtual int InitKey(const char* serial, int length) = 0;
  virtual int GetAllCertCn(char* out, size_t outSize, int* count) = 0;
  virtual int GetSN(char* out, size_t outSize, int* count) = 0;
};

class CPagebridgeWin32Impl : public CXpluginImp {
 public:
  CPagebridgeWin32Impl();
  ~CPagebridgeWin32Impl() override;
  CPagebridgeWin32Impl(const CPagebridgeWin32Impl&) = delete;
  CPagebridgeWin32Impl& operator=(const CPagebridgeWin32Impl&) = delete;

  int Load() override;
  int GetKeyCount() override;
  int GetUKeySN(char* out, size_t outSize) override;
  int InitKey(const char* serial, int length) override;
  int GetAllCertCn(char* out, size_t outSize, int* count) override;
  int GetSN(char* out, size_t outSize, int* count) override;

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

  int lastResult_ = 0;
  CK_SLOT_ID slots_[kMaxTokens] = {};
  CK_TOKEN_INFO tokenInfos_[kMaxTokens] = {};
  int tokenCount_ = 0;
  CK_SLOT_ID selectedSlot_ = 0;
  CK_SESSION_HANDLE selectedSession_ = 0;
  HMODULE module_ = nullptr;
  CK_FUNCTION_LIST* functions_ = nullptr;
  AuxFunctionList* auxFunctions_ = nullptr;
  bool loadTried_ = false;
};

// The process-wide object, created (and loaded) on first use; null only when memory runs out.
CXpluginImp* Pagebridge();
// Destroys it when the library is unloaded.
void DestroyPagebridge();

// Helpers of the certificate listing, exposed for their boundary cases.
// Cuts an entry to at most maxChars bytes without splitting a double-byte character of the ANSI page.
void CutEntry(std::string& entry, size_t maxChars);
// Joins entries with "," into out (outSize bytes), stopping at the last whole entry that fits; answers the
// number of entries joined.
int JoinEntries(const std::vector<std::string>& entries, char* out, size_t outSize);

}  // namespace np
