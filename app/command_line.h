// The command line of vardeck: how it is split into tokens and which switch combinations are accepted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// Splits at blanks and tabs. A token that starts with a double quote runs to the next double quote (both
// dropped; to the end of the line when unclosed) and is kept only if it holds something other than blanks.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

struct StartSwitches {
  bool install = false;    // "-i"
  bool uninstall = false;  // "-u"
  bool restart = false;    // "-r": no effect of its own
  bool terminate = false;  // "-t"
  bool quiet = false;      // "-s"
};

// Reads the switches after the program token (tokens[0]). Nothing when the line is invalid: an unknown
// token (comparison is exact and case-sensitive), "-i" with "-u", or "-r" with "-t".
std::optional<StartSwitches> ParseSwitches(const std::vector<std::wstring>& tokens);

}  // namespace vd
