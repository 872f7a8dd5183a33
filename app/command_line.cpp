#include "command_line.h"

namespace vd {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> tokens;
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == L'"') {
      size_t close = line.find(L'"', i + 1);
      size_t end = close == std::wstring_view::npos ? line.size() : close;
      std::wstring_view inner = line.substr(i + 1, end - i - 1);
      bool hasContent = false;
      for (wchar_t c : inner) hasContent = hasContent || !IsBlank(c);
      if (hasContent) tokens.emplace_back(inner);
      i = close == std::wstring_view::npos ? line.size() : close + 1;
      continue;
    }
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

std::optional<StartSwitches> ParseSwitches(const std::vector<std::wstring>& tokens) {
  struct Known {
    const wchar_t* text;
    bool StartSwitches::*flag;
  };
  static constexpr Known kSwitches[] = {
      {L"-i", &StartSwitches::install},   {L"-u", &StartSwitches::uninstall}, {L"-r", &StartSwitches::restart},
      {L"-t", &StartSwitches::terminate}, {L"-s", &StartSwitches::quiet},
  };
  StartSwitches s;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Known* match = nullptr;
    for (const Known& k : kSwitches) {
      if (tokens[i] == k.text) match = &k;
    }
    if (!match) return std::nullopt;
    s.*(match->flag) = true;
  }
  if ((s.install && s.uninstall) || (s.restart && s.terminate)) return std::nullopt;
  return s;
}

}  // namespace vd
