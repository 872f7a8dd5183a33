// The simulated token keeps no PIN: neither in its files nor in the memory of a process that passes PINs
// to it; and folders of the previous format, which kept the PIN itself, still work.
#include "module_fixture.h"

#include <algorithm>
#include <functional>
#include <random>

namespace simtest {
namespace {

constexpr uint8_t kMask = 0x5A;

// A PIN of random digits. The test keeps it masked and makes exactly one plain copy, in a page of its
// own, so that a search of the process's memory can tell the test's copy from any other.
class SecretPin {
 public:
  SecretPin() {
    static std::mt19937 random(static_cast<unsigned>(::GetTickCount() ^ ::GetCurrentProcessId()));
    for (uint8_t& b : masked_) b = static_cast<uint8_t>('0' + random() % 10) ^ kMask;
    // A fresh page is zero-filled, so the copy is also a terminated string.
    plain_ = static_cast<uint8_t*>(::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    for (size_t i = 0; i < kSize; ++i) plain_[i] = masked_[i] ^ kMask;
  }
  ~SecretPin() {
    ::SecureZeroMemory(plain_, kSize);
    ::VirtualFree(plain_, 0, MEM_RELEASE);
  }
  SecretPin(const SecretPin&) = delete;
  SecretPin& operator=(const SecretPin&) = delete;

  static constexpr size_t kSize = 8;
  CK_UTF8CHAR* data() const { return plain_; }
  char* text() const { return reinterpret_cast<char*>(plain_); }
  bool At(const uint8_t* p) const {
    for (size_t i = 0; i < kSize; ++i)
      if ((p[i] ^ kMask) != masked_[i]) return false;
    return true;
  }

 private:
  uint8_t masked_[kSize];
  uint8_t* plain_;
};

// Places in this process's committed memory that hold the PIN. Read through ReadProcessMemory, which fails
// softly on pages that cannot be read, into a buffer that is itself left out of the search.
size_t CopiesInMemory(const SecretPin& pin) {
  constexpr size_t kChunk = 1 << 16;
  auto* buf = static_cast<uint8_t*>(::VirtualAlloc(nullptr, kChunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  size_t found = 0;
  auto* at = static_cast<uint8_t*>(si.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION mbi;
  while (at < si.lpMaximumApplicationAddress && ::VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi) {
    auto* base = static_cast<uint8_t*>(mbi.BaseAddress);
    bool readable = mbi.State == MEM_COMMIT && !(mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) && mbi.Protect != 0;
    if (readable && base != buf) {
      // Chunks overlap by one PIN less a byte, and a match is counted in the chunk where it starts.
      for (size_t pos = 0; pos < mbi.RegionSize;) {
        SIZE_T got = 0;
        size_t want = std::min(kChunk, mbi.RegionSize - pos);
        if (!::ReadProcessMemory(::GetCurrentProcess(), base + pos, buf, want, &got) || got < SecretPin::kSize) break;
        for (size_t i = 0; i + SecretPin::kSize <= got; ++i) found += pin.At(buf + i);
        pos += pos + got >= mbi.RegionSize ? got : got - (SecretPin::kSize - 1);
      }
    }
    at = base + mbi.RegionSize;
  }
  ::SecureZeroMemory(buf, kChunk);
  ::VirtualFree(buf, 0, MEM_RELEASE);
  return found;
}

bool FileHolds(const std::vector<uint8_t>& file, const char* text, size_t n) {
  return std::search(file.begin(), file.end(), text, text + n) != file.end();
}

using PinStorageTest = ModuleTest;

TEST_F(PinStorageTest, TheSearchFindsAPlantedCopy) {
  SecretPin pin;
  EXPECT_EQ(CopiesInMemory(pin), 1u);
  std::vector<uint8_t> planted(pin.data(), pin.data() + SecretPin::kSize);
  EXPECT_EQ(CopiesInMemory(pin), 2u);
  ::SecureZeroMemory(planted.data(), planted.size());
  EXPECT_EQ(CopiesInMemory(pin), 1u);
}

// After each call, each PIN it was given is found once in memory (the test's own copy) and never in the
// token's file.
TEST_F(PinStorageTest, NoCopyOfAPinOutlivesTheCall) {
  Ctl(L"insert 1 --min-pin 8 --max-pin 8");
  CK_SESSION_HANDLE s = Open(1);
  SecretPin first, second, wrong, unused, tooLong;
  struct Step {
    const char* what;
    std::function<CK_RV()> call;
    CK_RV rv;
    std::vector<const SecretPin*> pins;
  } steps[] = {
      {"initialisation entry",
       [&] {
         TokenInitParams p{};
         p.label = "Wiped";
         p.soPin = "pellam";
         p.userPin = first.text();
         return m.aux->initToken(1, &p);
       },
       CKR_OK,
       {&first}},
      {"C_SetPIN", [&] { return m.f->C_SetPIN(s, first.data(), 8, second.data(), 8); }, CKR_OK, {&first, &second}},
      {"C_SetPIN, wrong old PIN", [&] { return m.f->C_SetPIN(s, wrong.data(), 8, unused.data(), 8); },
       CKR_PIN_INCORRECT, {&wrong, &unused}},
      {"C_SetPIN, new PIN too long", [&] { return m.f->C_SetPIN(s, second.data(), 8, tooLong.data(), 9); },
       CKR_PIN_LEN_RANGE, {&second, &tooLong}},
      {"C_SetPIN back", [&] { return m.f->C_SetPIN(s, second.data(), 8, first.data(), 8); }, CKR_OK,
       {&first, &second}},
  };
  for (const Step& st : steps) {
    ASSERT_EQ(st.call(), st.rv) << st.what;
    std::vector<uint8_t> file = vdtest::ReadFileBytes(dir.path() + L"\\slot01.tok");
    ASSERT_FALSE(file.empty());
    for (const SecretPin* pin : st.pins) {
      EXPECT_EQ(CopiesInMemory(*pin), 1u) << st.what;
      EXPECT_FALSE(FileHolds(file, pin->text(), SecretPin::kSize)) << st.what;
    }
  }
}

TEST(PreviousFormat, AFolderWithAPlainPinKeepsWorkingAndLosesThePin) {
  vdtest::ScopedSimTokenDir dir;
  std::wstring slot = dir.path() + L"\\slot01.tok";
  std::vector<uint8_t> old = vdtest::ReadFileBytes(vdtest::BinDir() + L"testdata\\slot_previous_format.tok");
  ASSERT_TRUE(FileHolds(old, "SIMTOK02", 8) && FileHolds(old, "135790", 6)) << "not the file of the old format";
  ASSERT_TRUE(vdtest::WriteFileBytes(slot, old.data(), old.size()));
  LoadedModule m;
  ASSERT_TRUE(m.f && m.aux);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t.label), 15), "Previous Format");
  std::vector<uint8_t> now = vdtest::ReadFileBytes(slot);
  EXPECT_TRUE(FileHolds(now, "SIMTOK03", 8)) << "rewritten as it was read";
  EXPECT_FALSE(FileHolds(now, "135790", 6));
  CK_BYTE tries[4];
  ASSERT_EQ(m.aux->getPinInfo(1, tries), CKR_OK);
  EXPECT_EQ(tries[3], 5);
  CK_SESSION_HANDLE s = 0;
  ASSERT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s), CKR_OK);
  CK_ULONG n = 0;
  CK_OBJECT_HANDLE h[4];
  ASSERT_EQ(m.f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  ASSERT_EQ(m.f->C_FindObjects(s, h, 4, &n), CKR_OK);
  EXPECT_EQ(n, 2u);
  CK_UTF8CHAR oldPin[] = "135790", newPin[] = "864213";
  EXPECT_EQ(m.f->C_SetPIN(s, oldPin, 6, newPin, 6), CKR_OK) << "the old PIN still opens it";
  EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
}

}  // namespace
}  // namespace simtest
