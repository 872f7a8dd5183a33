// Reads and resets the call counts that p11count.dll keeps for a program (see p11count_layout.h). Opening
// the counts before the program starts keeps them readable after it has ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vdtest {

class CallCounts {
 public:
  static constexpr uint32_t kUnknownFunction = 0xFFFFFFFFu;

  // The counts called `name`, as P11COUNT_NAME gives it to the program; created (all zero) when no program
  // has made them yet.
  explicit CallCounts(const std::wstring& name);
  // The counts of a program that was started without P11COUNT_NAME.
  static CallCounts OfProcess(DWORD pid) { return CallCounts(std::to_wstring(pid)); }
  ~CallCounts();
  CallCounts(const CallCounts&) = delete;
  CallCounts& operator=(const CallCounts&) = delete;
  CallCounts(CallCounts&& o) noexcept : mapping_(o.mapping_), block_(o.block_) {
    o.mapping_ = nullptr;
    o.block_ = nullptr;
  }
  CallCounts& operator=(CallCounts&&) = delete;

  bool ok() const { return block_ != nullptr; }
  // Calls of one function by its name ("C_FindObjects", "E_WaitForEvent", "E_GetAuxFunctionList"), or
  // kUnknownFunction for a name that is not counted, so that a misspelt name fails a comparison.
  uint32_t Of(std::string_view function) const;
  // Every call of every function, the two table exports included.
  uint64_t Total() const;
  // The functions called at least once, by name: for failure messages.
  std::map<std::string, uint32_t> Called() const;
  void Reset();

 private:
  HANDLE mapping_ = nullptr;
  void* block_ = nullptr;
};

}  // namespace vdtest
