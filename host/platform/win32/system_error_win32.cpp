// System error seam on Windows: GetLastError.
#include "platform/system_error.h"

#include <windows.h>

namespace platform {

std::uint32_t LastErrorCode() { return static_cast<std::uint32_t>(GetLastError()); }

const char* ErrorCodeName() { return "Win32 error"; }

}  // namespace platform
