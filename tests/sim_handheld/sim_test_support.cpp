#include "sim_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace simtest {

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "handheld-sim-test-XXXXXX").string();
  path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

handheld::CreateOptions DefaultHandheld() {
  handheld::CreateOptions options;
  options.identity = {"LUMO-5800", "1.14.00", "ENG"};
  options.flashMb = 32;
  options.romMb = 1;
  return options;
}

void MakeHandheld(const std::string& folder, const handheld::CreateOptions& options) {
  ASSERT_EQ(handheld::CreateHandheld(folder, options), "");
}

std::vector<std::uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace simtest
