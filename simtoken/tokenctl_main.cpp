// tokenctl: changes the simulated tokens' shared state from the command line.
#include "tokenctl_commands.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

struct Command {
  const wchar_t* name;
  int (*run)(const tokenctl::Args&);
};

constexpr Command kCommands[] = {
    {L"insert", tokenctl::CmdInsert}, {L"remove", tokenctl::CmdRemove}, {L"add-cert", tokenctl::CmdAddCert},
    {L"delete", tokenctl::CmdDelete}, {L"event", tokenctl::CmdEvent},   {L"set", tokenctl::CmdSet},
    {L"list", tokenctl::CmdList},     {L"reset", tokenctl::CmdReset},   {L"fail", tokenctl::CmdFail},
    {L"watch", tokenctl::CmdWatch},   {L"latency", tokenctl::CmdLatency}, {L"sessions", tokenctl::CmdSessions},
};

const char kUsage[] =
    "usage:\n"
    "  tokenctl insert SLOT [--label TEXT] [--serial TEXT] [--model TEXT] [--min-pin N] [--max-pin N]\n"
    "                  [--pin PIN] [--tries N] [--uninitialized] [--pin-to-be-changed]\n"
    "  tokenctl remove SLOT\n"
    "  tokenctl add-cert SLOT FILE [--container NAME] [--id HEX] [--label TEXT] [--key encrypt|sign|none] [--raw]\n"
    "                    [--no-container]   (the certificate without the container attribute; its key keeps it)\n"
    "           (prints the new certificate handle, then the key handle)\n"
    "  tokenctl delete SLOT HANDLE\n"
    "  tokenctl event SLOT CODE [DATA]   (DATA \"qpc\": the performance counter's low 32 bits at commit)\n"
    "  tokenctl set SLOT [--label TEXT] [--pin PIN] [--tries N] [--pin-to-be-changed on|off]\n"
    "                    [--initialized on|off]\n"
    "  tokenctl list\n"
    "  tokenctl reset\n"
    "  tokenctl fail FUNCTION RV [--after N] [--times M]  |  tokenctl fail --clear\n"
    "  tokenctl watch [--count N] [--timeout SECONDS]\n"
    "  tokenctl latency [MS]   (delay of every module call in every process; 0 removes it; no MS: show it)\n"
    "  tokenctl sessions       (one line \"PID COUNT\" per process that holds sessions)\n"
    "SLOT is 1..12. State folder: SIMTOKEN_DIR, else %LOCALAPPDATA%\\SimToken.\n";

}  // namespace

namespace tokenctl {

int BadArgument(const std::string& message) {
  std::fprintf(stderr, "tokenctl: %s\n", message.c_str());
  return 2;
}

}  // namespace tokenctl

int main() {
  // Plain "\n" line ends: scripts and tests read this output on both sides of Wine.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return 1;
  tokenctl::Args args(argv, argv + argc);
  ::LocalFree(argv);
  if (args.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  for (const Command& c : kCommands) {
    if (args[1] == c.name) {
      try {
        return c.run(args);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "tokenctl: %s\n", e.what());
        return 1;
      }
    }
  }
  std::fputs(kUsage, stderr);
  return 2;
}
