#include "violations.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

namespace handheld {

namespace {
constexpr const char* kViolationsFile = "/violations.txt";
}  // namespace

void RecordViolation(const std::string& folder, const std::string& what) {
  std::string line = what;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  // One write on an O_APPEND descriptor: lines of several writers never mix.
  const int fd = ::open((folder + kViolationsFile).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;
  ::close(fd);
}

std::vector<std::string> LoadViolations(const std::string& folder) {
  std::vector<std::string> lines;
  std::ifstream in(folder + kViolationsFile);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string FormatViolations(const std::vector<std::string>& violations) {
  std::string text = "violations=" + std::to_string(violations.size()) + "\n";
  for (const std::string& v : violations) text += "violation=" + v + "\n";
  return text;
}

}  // namespace handheld
