#include "idle_input.h"

#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// One read at a time is handed to a thread that may block in ReadFile for ever: the caller waits for it
// with a time limit. The state lives until the process ends, since a read given up on may still finish.
struct PendingRead {
  HANDLE input = nullptr;
  HANDLE want = nullptr;  // auto-reset: a read is asked for
  HANDLE done = nullptr;  // auto-reset: it finished
  char buffer[64 * 1024];
  DWORD asked = 0;
  DWORD got = 0;
  bool ended = false;
};

DWORD WINAPI ReadRoutine(void* arg) {
  auto* p = static_cast<PendingRead*>(arg);
  for (;;) {
    ::WaitForSingleObject(p->want, INFINITE);
    if (!::ReadFile(p->input, p->buffer, p->asked, &p->got, nullptr)) p->got = 0;
    ::SetEvent(p->done);
    if (p->got == 0) return 0;
  }
}

}  // namespace

DWORD IdleLimitMs() {
  constexpr DWORD kIdleMs = 60000;
#ifdef VD_TEST_BUILD
  if (const char* ms = std::getenv("LUMORA_HOST_IDLE_MS"); ms && std::atol(ms) > 0)
    return static_cast<DWORD>(std::atol(ms));
#endif
  return kIdleMs;
}

ByteReader IdleEndingReader(HANDLE input, DWORD idleMs) {
  auto* p = new PendingRead;  // never freed: see PendingRead
  p->input = input;
  p->want = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  p->done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = p->want && p->done ? ::CreateThread(nullptr, 0, ReadRoutine, p, 0, nullptr) : nullptr;
  if (thread) {
    ::CloseHandle(thread);
  } else {
    p->ended = true;  // without the thread the host cannot read at all: it ends as at the input's end
  }
  return [p, idleMs](char* buffer, size_t size) -> size_t {
    if (p->ended) return 0;
    p->asked = static_cast<DWORD>(size < sizeof p->buffer ? size : sizeof p->buffer);
    ::SetEvent(p->want);
    if (::WaitForSingleObject(p->done, idleMs) != WAIT_OBJECT_0 || p->got == 0) {
      p->ended = true;
      return 0;
    }
    std::memcpy(buffer, p->buffer, p->got);
    return p->got;
  };
}

}  // namespace host
