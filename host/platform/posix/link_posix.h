// Linux side of the link seam: how a Windows device name becomes a tty path.
#pragma once
#include <string>

namespace linkport {

// "\\.\COMn" -> $XDG_CONFIG_HOME/romwiz/dosdevices/comn when that exists,
// else /dev/ttyS{n-1}; "\\.\WCEUSBSH001" -> .../dosdevices/wceusbsh001, else
// /dev/ttyUSB0 (device names compared without case, links in lower case, as
// in Wine's dosdevices folder; XDG_CONFIG_HOME defaults to ~/.config).
// Empty for any other name.
std::string ResolveDeviceName(const char* deviceName);

}  // namespace linkport
