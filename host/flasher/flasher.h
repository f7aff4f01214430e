// romwiz-flash from its command line to its exit code: parse, check the
// image, write it. The programs' entries (platform/posix and platform/win32)
// set the platform up and call this.
#pragma once
#include <cstdio>

namespace flasher {

int RunCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace flasher
