// System error seam: the code with which the last system call on the calling
// thread failed, for the transfer log. Read it right after the failing seam
// call, before anything else can overwrite it.
#pragma once
#include <cstdint>

namespace platform {

// GetLastError() on Windows, errno on Linux.
std::uint32_t LastErrorCode();
// How such a code is named in a text: "Win32 error" or "errno".
const char* ErrorCodeName();

}  // namespace platform
