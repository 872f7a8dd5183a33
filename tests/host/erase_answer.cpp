// A test tool of the browser tests: host_erase_answer.exe erase|cancel [MS] waits up to MS (default 20000)
// for the erase question of any process, presses the button, and prints what the question showed as one
// line of JSON (UTF-8). Exit 0 when a question was answered, 1 when none appeared, 2 for a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include <nlohmann/json.hpp>

#include "erase_dialog.h"
#include "text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || (std::wcscmp(argv[1], L"erase") != 0 && std::wcscmp(argv[1], L"cancel") != 0)) return 2;
  const DWORD timeout = argc > 2 ? static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) : 20000;
  const auto seen = vdtest::AnswerEraseDialog(std::wcscmp(argv[1], L"erase") == 0, timeout);
  if (!seen) return 1;
  const nlohmann::json line = {
      {"title", vd::WideToUtf8(seen->title)},
      {"request", vd::WideToUtf8(seen->request)},
      {"warning", vd::WideToUtf8(seen->warning)},
      {"advice", vd::WideToUtf8(seen->advice)},
      {"erase", vd::WideToUtf8(seen->eraseButton)},
      {"cancel", vd::WideToUtf8(seen->cancelButton)},
      {"topmost", seen->topmost},
      {"defaultButton", seen->defaultButton == IDCANCEL ? "cancel" : seen->defaultButton == IDOK ? "erase" : "none"},
  };
  std::printf("%s\n", line.dump().c_str());
  return 0;
}
