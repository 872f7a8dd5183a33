// The main dialog with the real token manager and the simulated module: many insertions and removals in a
// row must each be seen exactly once, leave no MY entry behind, and not make the process grow.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "cert_manager_dlg.h"
#include "testsupport.h"
#include "vardeck_process.h"

namespace {

using vdtest::Pump;

using vdtest::PumpUntil;
using vdtest::TokenctlSucceeds;

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  unsigned long sessions = 0;  // open in the module, as it reports them to other processes
};
// Wine reports no handle count; the value of a fresh handle stands in for it: handle slots are handed
// out lowest first, so leaked handles push it up.
DWORD HandleWatermark() {
  HANDLE probe = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto value = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe) / 4);
  ::CloseHandle(probe);
  return value;
}
// The kinds of the handles the process holds, counted: what a growth consists of.
std::string HandleCensus() {
  std::map<std::wstring, int> kinds;
  for (uintptr_t value = 4; value < 4 * 8192; value += 4) {
    HANDLE h = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!::GetHandleInformation(h, &flags)) continue;
    alignas(8) BYTE buffer[512] = {};
    ULONG size = 0;
    if (NtQueryObject(h, ObjectTypeInformation, buffer, sizeof buffer, &size) != 0) {
      ++kinds[L"?"];
      continue;
    }
    const auto* info = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer);
    ++kinds[std::wstring(info->TypeName.Buffer, info->TypeName.Length / sizeof(wchar_t))];
  }
  std::string out;
  for (const auto& [kind, n] : kinds) out += std::string(kind.begin(), kind.end()) + " " + std::to_string(n) + ", ";
  return out;
}

Usage CurrentUsage() {
  Usage u;
  ::GetProcessHandleCount(::GetCurrentProcess(), &u.handles);
  if (u.handles == 0) u.handles = HandleWatermark();
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
  u.privateBytes = m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage;
  u.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  u.userObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  u.sessions = vdtest::SessionsOf(::GetCurrentProcessId());
  return u;
}

TEST(TokenCycles, EveryInsertionAndRemovalIsSeenOnceWithoutStaleEntriesOrGrowth) {
  int cycles = 100;  // the soak runs 1000
  if (const char* n = std::getenv("VD_TOKEN_CYCLES")) cycles = std::atoi(n);
  vdtest::ScopedSimTokenDir sim;
  std::wstring sign = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
  ASSERT_TRUE(TokenctlSucceeds(L"insert 1"));
  ASSERT_TRUE(TokenctlSucceeds(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\""));
  ASSERT_TRUE(TokenctlSucceeds(L"remove 1"));

  int inserted = 0, removed = 0;
  vd::DialogServices services;
  services.tokens = vd::MakeTokenManagerPort(nullptr);
  services.popups = vd::MakeDefaultPopupPort();
  services.settleDelayMs = 0;
  services.notificationObserver = [&](const std::wstring& text, int) {
    if (text == L"USBKey is inserted!") ++inserted;
    if (text == L"USBkey is removed!") ++removed;
  };
  vd::CertManagerDlg dialog(::RegisterWindowMessageW(L"vardeck-cycles-test"), std::move(services));
  ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
  Pump(1500);

  Usage warm{};
  for (int i = 1; i <= cycles; ++i) {
    ASSERT_TRUE(TokenctlSucceeds(L"insert 1")) << i;
    ASSERT_TRUE(PumpUntil([&] { return inserted >= i; }, 10000)) << "insertion " << i << " missed";
    ASSERT_TRUE(vdtest::StoreHas(L"MY", sign)) << i;
    ASSERT_TRUE(TokenctlSucceeds(L"remove 1")) << i;
    ASSERT_TRUE(PumpUntil([&] { return removed >= i; }, 10000)) << "removal " << i << " missed";
    ASSERT_FALSE(vdtest::StoreHas(L"MY", sign)) << "stale MY entry after removal " << i;
    if (i == std::min(50, cycles)) warm = CurrentUsage();
    if (i % 100 == 0) {
      Usage u = CurrentUsage();
      std::printf("cycle %d: handles %lu, committed %zu, GDI objects %lu, USER objects %lu, sessions %lu\n", i,
                  u.handles, static_cast<size_t>(u.privateBytes), u.gdiObjects, u.userObjects, u.sessions);
    }
  }
  Pump(500);
  EXPECT_EQ(inserted, cycles) << "doubled insertion";
  EXPECT_EQ(removed, cycles) << "doubled removal";
  Usage end = CurrentUsage();
  std::printf("cycles %d: handles %lu -> %lu, committed bytes %zu -> %zu\n", cycles, warm.handles, end.handles,
              static_cast<size_t>(warm.privateBytes), static_cast<size_t>(end.privateBytes));
  EXPECT_LE(end.handles, warm.handles + 16) << "handles held: " << HandleCensus();
  EXPECT_LE(end.gdiObjects, warm.gdiObjects + 4);
  EXPECT_LE(end.userObjects, warm.userObjects + 4);
  EXPECT_EQ(end.sessions, 0u) << "no token is in, so no session may be open";
  // Wine's crypt32 keeps about 5 KiB for every certificate added to and deleted from MY with key-provider
  // information (a bare CertAdd/CertDelete loop grows as much); the bound allows that and 1 MiB besides.
  size_t measured = static_cast<size_t>(cycles - std::min(50, cycles));
  EXPECT_LE(end.privateBytes, warm.privateBytes + 1024u * 1024 + measured * 6u * 1024);
}

}  // namespace
