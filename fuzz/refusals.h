// What the fuzzed readers share: the check that every refusal names the
// file and one of its lines, as "LABEL:LINE: what is wrong".
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

[[noreturn]] inline void fuzzFail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

inline int lineCount(std::string_view bytes) {
  int lines = 1;
  for (char c : bytes) lines += c == '\n';
  return lines;
}

// Aborts unless each error starts with "LABEL:LINE:" for a line of the file;
// answers the lines refused.
inline std::vector<int> checkRefusals(const std::string& label, int lines,
                                      const std::vector<std::string>& errors) {
  std::vector<int> refused;
  for (const std::string& e : errors) {
    if (e.rfind(label + ":", 0) != 0) fuzzFail("error without the file", e);
    std::size_t at = label.size() + 1;
    int line = 0;
    while (at < e.size() && e[at] >= '0' && e[at] <= '9' && line < 10000000)
      line = line * 10 + (e[at++] - '0');
    if (line < 1 || line > lines || at >= e.size() || e[at] != ':')
      fuzzFail("error without a line of the file", e);
    refused.push_back(line);
  }
  return refused;
}
