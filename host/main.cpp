// lumora_host.exe: the native messaging host through which the browser extension's pages reach the token
// queries. Browsers start it with their caller's origin or manifest as arguments, which it does not need;
// "--register" and "--unregister" install it for the current user's browsers. "--check-origins" reads
// the list of trusted origins as the host would and names every entry it drops:
//   lumora_host.exe --check-origins                      the installed list (the policy value first)
//   lumora_host.exe --check-origins --text "A;B"         a list's text, as an installer would write it
//   lumora_host.exe --check-origins --value HKLM\KEY\NAME  any value under HKLM or HKCU
// It prints each origin kept on standard output and each entry dropped, with the reason, on standard
// error; exit 0 when nothing was dropped, 1 when something was, 2 for a bad command line or a value
// that is missing or holds no text.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "erase_confirm.h"
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

// Exit codes of --check-origins.
enum CheckResult { kListClean = 0, kEntriesDropped = 1, kNoList = 2 };

int CheckOrigins(const std::vector<std::wstring>& args) {
  // One line end for every reader, whatever the CRT would make of a console.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  tq::TrustedOrigins list;
  if (args.empty()) {
    list = tq::TrustedOrigins::FromRegistry();
  } else if (args.size() == 2 && args[0] == L"--text") {
    list = tq::TrustedOrigins::FromText(args[1]);
  } else if (args.size() == 2 && args[0] == L"--value") {
    const std::wstring& path = args[1];
    const size_t first = path.find(L'\\'), last = path.rfind(L'\\');
    const std::wstring root = path.substr(0, first);
    const HKEY hive = root == L"HKLM" || root == L"HKEY_LOCAL_MACHINE"  ? HKEY_LOCAL_MACHINE
                      : root == L"HKCU" || root == L"HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                                                        : nullptr;
    if (!hive || first == std::wstring::npos || last == first) {
      std::fprintf(stderr, "lumora_host: --value takes HKLM\\KEY\\NAME or HKCU\\KEY\\NAME\n");
      return kNoList;
    }
    const std::wstring key = path.substr(first + 1, last - first - 1), name = path.substr(last + 1);
    list = tq::TrustedOrigins::FromValue(hive, key.c_str(), name.c_str());
  } else {
    std::fprintf(stderr, "lumora_host: --check-origins [--text TEXT | --value ROOT\\KEY\\NAME]\n");
    return kNoList;
  }
  if (!list.present() || list.unreadable()) {
    std::fprintf(stderr, "lumora_host: %s\n", list.present() ? "the value holds no text" : "there is no list");
    return kNoList;
  }
  for (const std::string& origin : list.origins()) std::printf("%s\n", origin.c_str());
  host::ReportDropped(list, stderr);
  return list.rejected().empty() ? kListClean : kEntriesDropped;
}

int RunHost() {
  // Frames are bytes: no CR LF translation on either side, whatever the CRT would do with a console.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  tq::TokenQueries queries;
  host::WatchedTrustedOrigins trusted(stderr);
  host::RequestHandler handler(queries, [&trusted] { return trusted.Get(); },
                               [](const std::string& origin, const tq::QuestionControl& control) {
                                 return tq::ConsentOfTheUser(origin, control);
                               });
  const host::ByteReader read = [](char* buffer, size_t size) { return std::fread(buffer, 1, size, stdin); };
  const host::ByteWriter write = [](std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0;
  };
  return host::Serve(read, write, handler);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv) ::LocalFree(argv);
  const std::wstring first = args.empty() ? L"" : args[0];
  try {
    if (first == L"--check-origins") return CheckOrigins({args.begin() + 1, args.end()});
    if (first == L"--register") return Install(true);
    if (first == L"--unregister") return Install(false);
    return RunHost();
  } catch (...) {
    return 2;
  }
}
