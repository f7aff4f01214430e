// How the Windows phase hands the processor to the takeover code. On the
// handheld the takeover code is part of the same program and is entered
// directly (TakeoverEntry). The simulator may run it as the StrongARM image
// the `arm` preset builds instead (hosted/: HostedHandheld::takeover).
#pragma once
#include <stdint.h>

namespace devplatform {

// Enters the takeover with the model and the loader buffer the Windows phase
// used. Never returns: the takeover ends with the handheld's reset.
[[noreturn]] void StartTakeover(int32_t modelCode, uint32_t loaderBuffer);

}  // namespace devplatform
