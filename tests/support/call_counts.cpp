#include "call_counts.h"

#include "p11count_layout.h"

#include <atomic>

namespace vdtest {
namespace {

uint32_t Load(p11count::Block* b, size_t i) { return std::atomic_ref<uint32_t>(b->calls[i]).load(); }

}  // namespace

CallCounts::CallCounts(const std::wstring& name) {
  mapping_ = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(p11count::Block),
                                  p11count::MappingName(name).c_str());
  if (!mapping_) return;
  block_ = ::MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(p11count::Block));
}

CallCounts::~CallCounts() {
  if (block_) ::UnmapViewOfFile(block_);
  if (mapping_) ::CloseHandle(mapping_);
}

uint32_t CallCounts::Of(std::string_view function) const {
  if (!block_) return kUnknownFunction;
  for (size_t i = 0; i < p11count::kFunctionCount; ++i)
    if (function == p11count::kNames[i]) return Load(static_cast<p11count::Block*>(block_), i);
  return kUnknownFunction;
}

uint64_t CallCounts::Total() const {
  uint64_t total = 0;
  if (!block_) return total;
  for (size_t i = 0; i < p11count::kFunctionCount; ++i) total += Load(static_cast<p11count::Block*>(block_), i);
  return total;
}

std::map<std::string, uint32_t> CallCounts::Called() const {
  std::map<std::string, uint32_t> called;
  if (!block_) return called;
  for (size_t i = 0; i < p11count::kFunctionCount; ++i)
    if (uint32_t n = Load(static_cast<p11count::Block*>(block_), i)) called[p11count::kNames[i]] = n;
  return called;
}

void CallCounts::Reset() {
  if (!block_) return;
  for (size_t i = 0; i < p11count::kFunctionCount; ++i)
    std::atomic_ref<uint32_t>(static_cast<p11count::Block*>(block_)->calls[i]).store(0);
}

}  // namespace vdtest
