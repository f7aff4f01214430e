// "module.dat" parsing on arbitrary bytes of exactly the input's length,
// checked against a plain reading of the list's rules: lines end with CR LF
// (a last line without one does not count); the first line is always taken,
// a later line beginning with "$" ends the list; empty lines, lines longer
// than the longest module name and lines holding a NUL are skipped.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "checks/identify.h"

namespace {

std::vector<std::string> ExpectedNames(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t start = 0, line = 0;; ++line) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) break;
    std::string_view name = text.substr(start, end - start);
    if (line > 0 && name.substr(0, 1) == "$") break;
    if (!name.empty() && name.size() <= wizard::kMaxModuleNameLength && name.find('\0') == std::string_view::npos)
      names.emplace_back(name);
    start = end + 2;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<std::string> names = wizard::ParseModuleList(text, size);
  std::vector<std::string> expected = ExpectedNames(std::string_view(text, size));
  if (names != expected) {
    std::fprintf(stderr, "module list: %zu names, expected %zu\n", names.size(), expected.size());
    for (std::size_t i = 0; i < names.size() && i < expected.size(); ++i)
      if (names[i] != expected[i]) std::fprintf(stderr, "  name %zu: [%s], expected [%s]\n", i, names[i].c_str(), expected[i].c_str());
    std::abort();
  }
  return 0;
}
