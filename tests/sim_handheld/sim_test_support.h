// Helpers of the handheld-sim tests: a scratch folder with a fresh handheld.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "handheld.h"
#include "tests/support/eventually.h"

namespace simtest {

// A new empty folder under the system's temporary folder, removed on scope exit.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Creates a handheld (5800, ENG, 1.14.00, 32 MB flash) in `folder`.
handheld::CreateOptions DefaultHandheld();
void MakeHandheld(const std::string& folder, const handheld::CreateOptions& options = DefaultHandheld());

std::vector<std::uint8_t> ReadHostFile(const std::string& path);
// Runs a shell command; returns its exit status.
int Run(const std::string& command);
using testsupport::Eventually;

}  // namespace simtest
