// host_echo.exe: the floor of the browser benchmark. A native messaging host that does nothing but send each
// frame back as it came, through the same binary stdio and frame code as lumora_host.exe, so that the
// difference to lumora_host.exe is the host's own work.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "frames.h"

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  const host::ByteReader read = [](char* buffer, size_t size) { return std::fread(buffer, 1, size, stdin); };
  std::string payload;
  while (host::ReadFrame(read, &payload) == host::FrameStatus::kFrame) {
    const std::string frame = host::EncodeFrame(payload);
    if (std::fwrite(frame.data(), 1, frame.size(), stdout) != frame.size() || std::fflush(stdout) != 0) return 3;
  }
  return 0;
}
