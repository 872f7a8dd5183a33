// lumora_host.exe: the native messaging host through which the browser extension's pages reach the token
// queries. Browsers start it with their caller's origin or manifest as arguments, which it does not need;
// "--register" and "--unregister" install it for the current user's browsers.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "erase_confirm.h"
#include "idle_input.h"
#include "module_binding.h"
#include "registration.h"
#include "serve.h"
#include "token_queries.h"
#include "trusted_watch.h"
#include "trusted_origins.h"

namespace {

std::wstring ExePath() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
  return std::wstring(buf, n);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

int Install(bool install) {
  const std::wstring exe = ExePath();
  std::string error;
  const bool ok = install ? host::Register(FolderOf(exe), exe, &error) : host::Unregister(FolderOf(exe), &error);
  if (!ok) std::fprintf(stderr, "lumora_host: %s\n", error.c_str());
  return ok ? 0 : 1;
}

int RunHost() {
  // Frames are bytes: no CR LF translation on either side, whatever the CRT would do with a console.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  tq::TokenQueries queries;
  host::WatchedTrustedOrigins trusted;
  host::RequestHandler handler(queries, [&trusted] { return trusted.Get(); },
                               [](const std::string& origin) { return tq::ConsentOfTheUser(origin); });
  const host::ByteReader read = host::IdleEndingReader(::GetStdHandle(STD_INPUT_HANDLE), host::IdleLimitMs());
  const host::ByteWriter write = [](std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
  };
  return host::Serve(read, write, handler);
}

}  // namespace

int main() {
  vd::LimitDllSearch();
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::wstring first = argv && argc > 1 ? argv[1] : L"";
  if (argv) ::LocalFree(argv);
  try {
    if (first == L"--register") return Install(true);
    if (first == L"--unregister") return Install(false);
    return RunHost();
  } catch (...) {
    return 2;
  }
}
