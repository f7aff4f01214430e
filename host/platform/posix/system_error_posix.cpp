// System error seam on Linux: errno.
#include "platform/system_error.h"

#include <cerrno>

namespace platform {

std::uint32_t LastErrorCode() { return static_cast<std::uint32_t>(errno); }

const char* ErrorCodeName() { return "errno"; }

}  // namespace platform
