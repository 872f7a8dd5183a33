// Figures of the secure PIN input, printed (not asserted):
//  - copies of the old and the new PIN left in this process's committed memory after a change through
//    each path (isolated desktop, plain dialog), in UTF-16 and UTF-8; once with a stand-in module that
//    keeps nothing (our copies alone) and once with the simulated module loaded in the process;
//  - CPU time used in 10 s while a secure edit has the focus (three hooks re-installed at the timer rate)
//    and while it does not.
// Each figure is also printed as ROW<TAB>figure<TAB>value<TAB>floor<TAB>unit<TAB>target<TAB>met.
// The PINs are random, kept masked, and unmasked one character at a time, so the benchmark itself leaves
// no copy for the scan to find. It exits non-zero when it cannot measure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "change_user_pin.h"
#include "dialog_script.h"
#include "edit_host.h"
#include "module_fixture.h"
#include "scoped_language.h"
#include "secret_memory.h"
#include "secure_ids.h"

namespace {

constexpr uint8_t kMask = 0x5A;
constexpr size_t kPinLength = 10;

// A random PIN of letters and digits, masked.
struct MaskedPin {
  uint8_t masked[kPinLength];
  MaskedPin() {
    static const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    for (uint8_t& c : masked) c = static_cast<uint8_t>(alphabet[vd::RandomBelow(sizeof alphabet - 1)] ^ kMask);
  }
  char At(size_t i) const { return static_cast<char>(masked[i] ^ kMask); }
};

// Memory the scan never reads: the patterns it looks for and its copy buffer.
struct ScanArena {
  static constexpr size_t kBytes = 1 << 20;
  uint8_t* base = static_cast<uint8_t*>(::VirtualAlloc(nullptr, kBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ~ScanArena() { ::VirtualFree(base, 0, MEM_RELEASE); }
  bool Contains(const void* p) const { return p >= base && p < base + kBytes; }
};

struct Pattern {
  const uint8_t* bytes;
  size_t size;
};

// Writes the UTF-8 and UTF-16 forms of a PIN into the arena at `at`.
void Unmask(const MaskedPin& pin, uint8_t* at, Pattern* utf8, Pattern* utf16) {
  for (size_t i = 0; i < kPinLength; ++i) {
    at[i] = static_cast<uint8_t>(pin.At(i));
    at[64 + 2 * i] = static_cast<uint8_t>(pin.At(i));
    at[64 + 2 * i + 1] = 0;
  }
  *utf8 = {at, kPinLength};
  *utf16 = {at + 64, 2 * kPinLength};
}

bool Readable(const MEMORY_BASIC_INFORMATION& m) {
  if (m.State != MEM_COMMIT || (m.Protect & (PAGE_GUARD | PAGE_NOACCESS))) return false;
  const DWORD p = m.Protect & 0xFF;
  return p == PAGE_READONLY || p == PAGE_READWRITE || p == PAGE_WRITECOPY || p == PAGE_EXECUTE_READ ||
         p == PAGE_EXECUTE_READWRITE || p == PAGE_EXECUTE_WRITECOPY;
}

std::string Where(const MEMORY_BASIC_INFORMATION& m) {
  if (m.Type == MEM_IMAGE) {
    wchar_t name[MAX_PATH] = {};
    ::GetModuleFileNameW(static_cast<HMODULE>(m.AllocationBase), name, MAX_PATH);
    std::wstring n = name;
    return "image " + std::string(n.begin() + static_cast<long>(n.find_last_of(L"\\/") + 1), n.end());
  }
  return m.Type == MEM_MAPPED ? "mapped" : "private (heap or stack)";
}

// Counts the occurrences of each pattern in every readable committed region outside the arena.
std::vector<int> Scan(ScanArena& arena, const std::vector<Pattern>& patterns, bool verbose, bool* ok) {
  std::vector<int> counts(patterns.size(), 0);
  uint8_t* copy = arena.base + 4096;
  const size_t chunk = ScanArena::kBytes - 8192;
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  size_t regions = 0;
  for (auto* p = static_cast<uint8_t*>(si.lpMinimumApplicationAddress);
       p < static_cast<uint8_t*>(si.lpMaximumApplicationAddress);) {
    MEMORY_BASIC_INFORMATION m;
    if (!::VirtualQuery(p, &m, sizeof m)) break;
    auto* end = static_cast<uint8_t*>(m.BaseAddress) + m.RegionSize;
    if (Readable(m) && !arena.Contains(m.BaseAddress)) {
      ++regions;
      for (uint8_t* at = static_cast<uint8_t*>(m.BaseAddress); at < end;) {
        const size_t want = std::min<size_t>(chunk, static_cast<size_t>(end - at));
        SIZE_T got = 0;
        if (!::ReadProcessMemory(::GetCurrentProcess(), at, copy, want, &got) || got == 0) break;
        for (size_t k = 0; k < patterns.size(); ++k) {
          const Pattern& pat = patterns[k];
          for (size_t i = 0; i + pat.size <= got; ++i) {
            if (copy[i] == pat.bytes[0] && std::memcmp(copy + i, pat.bytes, pat.size) == 0) {
              ++counts[k];
              if (verbose)
                std::printf("    pattern %zu at %p: %s\n", k, static_cast<void*>(at + i), Where(m).c_str());
            }
          }
        }
        vd::WipeMemory(copy, got);
        // Overlap by a pattern's length so that nothing on a chunk boundary is missed.
        at += got > 64 ? got - 64 : got;
        if (got <= 64) break;
      }
    }
    p = end;
  }
  *ok = regions > 0;
  return counts;
}

// The scan must find what is there: a PIN-like string put on the heap on purpose.
bool ScanFindsAPlantedCopy(ScanArena& arena) {
  MaskedPin probe;
  std::wstring* wide = new std::wstring(kPinLength, L' ');
  std::string* narrow = new std::string(kPinLength, ' ');
  for (size_t i = 0; i < kPinLength; ++i) {
    (*wide)[i] = static_cast<wchar_t>(probe.At(i));
    (*narrow)[i] = probe.At(i);
  }
  Pattern p8, p16;
  Unmask(probe, arena.base + 1024, &p8, &p16);
  bool ok = false;
  std::vector<int> c = Scan(arena, {p16, p8}, false, &ok);
  vd::WipeString(*wide);
  vd::WipeString(*narrow);
  delete wide;
  delete narrow;
  vd::WipeMemory(arena.base, 4096);
  return ok && c[0] >= 1 && c[1] >= 1;
}

void Row(const std::string& figure, double value, const std::string& floor, const char* unit, const char* target,
         bool met) {
  std::printf("%-70s %10.1f %s (target %s)\n", figure.c_str(), value, unit, target);
  std::printf("ROW\t%s\t%.1f\t%s\t%s\t%s\t%s\n", figure.c_str(), value, floor.c_str(), unit, target, met ? "yes" : "no");
}

// A stand-in module that answers what the change needs and keeps nothing it is given.
CK_RV FakeTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
  *info = CK_TOKEN_INFO{};
  info->ulMinPinLen = 6;
  info->ulMaxPinLen = 12;
  return CKR_OK;
}
CK_RV FakeOpen(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* s) {
  *s = 7;
  return CKR_OK;
}
CK_RV FakeClose(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV FakeSetPin(CK_SESSION_HANDLE, CK_UTF8CHAR*, CK_ULONG oldLen, CK_UTF8CHAR*, CK_ULONG newLen) {
  return oldLen == kPinLength && newLen == kPinLength ? CKR_OK : CKR_ARGUMENTS_BAD;
}

// Types a masked PIN into an edit, one unmasked character at a time.
void TypeMasked(HWND dialog, int id, const MaskedPin& pin) {
  HWND edit = ::GetDlgItem(dialog, id);
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
  // The dialog selects an edit's text when it takes the focus; type at the end instead, as a user would.
  const int end = ::GetWindowTextLengthW(edit);
  ::SendMessageW(edit, EM_SETSEL, end, end);
  for (size_t i = 0; i < kPinLength; ++i) ::SendMessageW(edit, WM_CHAR, static_cast<WPARAM>(pin.At(i)), 1);
}

// Sets a simulated token's PIN from its default without a string of the new PIN.
bool SetInitialPin(CK_FUNCTION_LIST* f, CK_SLOT_ID slot, const MaskedPin& pin, ScanArena& arena) {
  CK_SESSION_HANDLE s = 0;
  if (f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK) return false;
  uint8_t* from = arena.base + 2048;
  std::memcpy(from, "\x32\x34\x36\x38\x30\x32", 6);  // the token's default, as issued
  uint8_t* to = arena.base + 2100;
  for (size_t i = 0; i < kPinLength; ++i) to[i] = static_cast<uint8_t>(pin.At(i));
  CK_RV rv = f->C_SetPIN(s, from, 6, to, kPinLength);
  vd::WipeMemory(to, kPinLength);
  f->C_CloseSession(s);
  return rv == CKR_OK;
}

// One change through a path; false when it could not be made.
bool MeasurePath(CK_FUNCTION_LIST* f, bool simulated, bool forced, ScanArena& arena, bool verbose) {
  MaskedPin oldPin, newPin;
  // A token of its own per path: each starts from the PIN tokens are issued with.
  const CK_SLOT_ID slot = forced ? 2 : 1;
  if (simulated) {
    simtest::Ctl(L"insert " + std::to_wstring(slot) + L" --min-pin 6 --max-pin 12");
    if (!SetInitialPin(f, slot, oldPin, arena)) return std::fprintf(stderr, "cannot set the token's PIN\n"), false;
  }
  sectest::DialogScript script([&](HWND d) {
    TypeMasked(d, IDC_OLD_PIN, oldPin);
    TypeMasked(d, IDC_NEW_PIN, newPin);
    TypeMasked(d, IDC_CONFIRM_PIN, newPin);
    sectest::Settle();
    if (verbose)
      std::printf("  typed %d/%d/%d, OK %s\n", sectest::Length(d, IDC_OLD_PIN), sectest::Length(d, IDC_NEW_PIN),
                  sectest::Length(d, IDC_CONFIRM_PIN), sectest::Enabled(d, IDOK) ? "enabled" : "disabled");
    sectest::Click(d, IDOK);
  });
  CK_RV rv = vd::ChangeUserPin(f, slot, forced, script.Watch());
  script.Join();
  if (rv != CKR_OK) return std::fprintf(stderr, "the change failed: 0x%lx\n", static_cast<unsigned long>(rv)), false;
  if (simulated) simtest::Ctl(L"remove " + std::to_wstring(slot));
  sectest::Pump(300);

  Pattern old8, old16, new8, new16;
  Unmask(oldPin, arena.base + 8192 * 0 + 256, &old8, &old16);
  Unmask(newPin, arena.base + 8192 * 0 + 512, &new8, &new16);
  bool ok = false;
  if (verbose) std::printf("  %s, %s:\n", forced ? "plain dialog" : "isolated desktop", simulated ? "simulated module" : "stand-in module");
  std::vector<int> c = Scan(arena, {old16, new16, old8, new8}, verbose, &ok);
  vd::WipeMemory(arena.base, 4096);
  if (!ok) return std::fprintf(stderr, "no memory region could be read\n"), false;
  const std::string path = forced ? "plain dialog" : "isolated desktop";
  const std::string who = simulated ? "with the simulated module" : "our code alone (stand-in module)";
  Row("PIN copies after a change, " + path + ", UTF-16, " + who, c[0] + c[1], "-", "copies", "0", c[0] + c[1] == 0);
  Row("PIN copies after a change, " + path + ", UTF-8, " + who, c[2] + c[3], "-", "copies", "0", c[2] + c[3] == 0);
  return true;
}

double FileTimeMs(const FILETIME& ft) {
  return ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000.0;
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}

// CPU of this process while the calling thread dispatches for `ms`.
double CpuWhilePumping(DWORD ms) {
  const double start = ProcessCpuMs();
  sectest::Pump(ms);
  return ProcessCpuMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const bool verbose = argc > 1 && std::strcmp(argv[1], "-v") == 0;
  vdtest::ScopedLanguage english(L"");
  vd::SetPinDialogModule(::GetModuleHandleW(nullptr));
  ScanArena arena;
  if (!arena.base) return std::fprintf(stderr, "cannot reserve the scan's memory\n"), 1;

  if (!ScanFindsAPlantedCopy(arena)) return std::fprintf(stderr, "the memory scan does not find a planted copy\n"), 1;
  CK_FUNCTION_LIST fake{};
  fake.C_GetTokenInfo = FakeTokenInfo;
  fake.C_OpenSession = FakeOpen;
  fake.C_CloseSession = FakeClose;
  fake.C_SetPIN = FakeSetPin;
  for (bool forced : {false, true})
    if (!MeasurePath(&fake, false, forced, arena, verbose)) return 1;

  {
    vdtest::ScopedSimTokenDir dir;
    simtest::LoadedModule module;
    if (!module.f || module.f->C_Initialize(nullptr) != CKR_OK)
      return std::fprintf(stderr, "cannot load the simulated module\n"), 1;
    for (bool forced : {false, true})
      if (!MeasurePath(module.f, true, forced, arena, verbose)) return 1;
    module.f->C_Finalize(nullptr);
  }

  sectest::EditHost host;
  if (!host.Focus(0)) return std::fprintf(stderr, "the secure edit did not get the focus\n"), 1;
  const double focused = CpuWhilePumping(10000);
  const int hooks = host.secure(0).InstalledHooks();
  ::SetFocus(host.window());
  sectest::Pump(50);
  const double unfocused = CpuWhilePumping(10000);
  if (hooks != 3) return std::fprintf(stderr, "expected three hooks while focused, saw %d\n", hooks), 1;
  if (focused <= 0 && unfocused <= 0) return std::fprintf(stderr, "the process clock did not move\n"), 1;
  char floor[32];
  std::snprintf(floor, sizeof floor, "%.1f", unfocused);
  Row("CPU in 10 s, secure edit focused (3 hooks re-installed per timer tick)", focused, floor, "ms",
      "<= 1000 ms (10% of a core)", focused <= 1000);
  Row("CPU in 10 s, no secure edit focused", unfocused, "-", "ms", "<= 100 ms (1% of a core)", unfocused <= 100);
  return 0;
}
