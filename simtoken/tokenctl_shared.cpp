// tokenctl's commands on the state that running processes share: the added call latency and the sessions
// each process holds.
#include "store.h"
#include "tokenctl_commands.h"
#include "tokenctl_util.h"

#include <cstdio>

namespace tokenctl {

int CmdLatency(const Args& a) {
  if (a.size() > 3) return BadArgument("latency takes at most MS");
  std::optional<uint32_t> ms;
  if (a.size() == 3) {
    ms = ParseNumber(a[2]);
    if (!ms || *ms > simtoken::Store::kMaxLatencyMs)
      return BadArgument("latency takes milliseconds from 0 to " + std::to_string(simtoken::Store::kMaxLatencyMs));
  }
  auto store = OpenStore();
  if (!store) return 1;
  simtoken::Store::Lock lock(*store);
  if (!ms) {
    std::printf("%lu\n", static_cast<unsigned long>(store->shared().LatencyMs()));
    return 0;
  }
  if (!store->SaveLatency(*ms)) {
    std::fprintf(stderr, "tokenctl: cannot write the latency\n");
    return 1;
  }
  return 0;
}

int CmdSessions(const Args& a) {
  if (a.size() != 2) return BadArgument("sessions takes no arguments");
  auto store = OpenStore();
  if (!store) return 1;
  simtoken::Store::Lock lock(*store);
  for (const simtoken::ProcessSessions& p : store->shared().LiveSessions())
    std::printf("%lu %lu\n", static_cast<unsigned long>(p.pid), static_cast<unsigned long>(p.count));
  return 0;
}

}  // namespace tokenctl
