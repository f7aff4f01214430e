// Where handheld-sim finds the StrongARM takeover image without --takeover.
// Both places are taken relative to the running program, so that neither an
// installed package nor a build folder depends on where it was built: the
// release builds carry no path of the machine that built them.
#include <unistd.h>

#include <string>
#include <sys/stat.h>

#include "devflash_program.h"

namespace handheld {
namespace {

constexpr char kTakeoverFileName[] = "devflash-takeover.elf";
// An installed handheld-sim in <prefix>/bin, its image in <prefix>/lib/romwiz.
constexpr char kInstalledFromProgram[] = "../lib/romwiz/";

std::string ProgramFolder() {
  constexpr std::size_t kPathCapacity = 4096;
  char path[kPathCapacity];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? "." : program.substr(0, slash);
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string DefaultTakeoverImage() {
  const std::string folder = ProgramFolder();
  const std::string installed = folder + "/" + kInstalledFromProgram + kTakeoverFileName;
  if (IsFile(installed)) return installed;
  // The native build's arm-takeover folder, seen from sim/handheld/ (and from
  // the test folders, which sit as deep in the build).
  const std::string besideBuild = folder + "/" + ROMWIZ_TAKEOVER_FROM_PROGRAM;
  if (IsFile(besideBuild)) return besideBuild;
#ifdef ROMWIZ_BUILD_TAKEOVER_IMAGE
  // A program built elsewhere in the build folder (a test at another depth).
  return ROMWIZ_BUILD_TAKEOVER_IMAGE;
#else
  return installed;
#endif
}

}  // namespace handheld
