// The upgrade preparation: once the user has confirmed the upgrade, the
// handheld gets the device agent and the loader file for the chosen
// connection in its "\Temp" folder, the settings carry-over, and the agent
// is started with its command line. Then the resume record is saved,
// ActiveSync is stopped, the remote API connection is closed and, after the
// handheld has had time to restart into its loader, the link is opened.
// Everything runs on the GUI thread while the preparing screen is shown.
#pragma once
#include <cstdint>
#include <string>

#include "wizard/wizard_state.h"

namespace wizard {

constexpr const char* kAgentFileName = "Devflash.exe";
constexpr const char* kSerialLoaderFileName = "flash_serial.nb";
constexpr const char* kUsbLoaderFileName = "flash_usb.nb";
// Where the agent and the loader file are placed on the handheld.
constexpr const char* kDeviceTempFolder = "\\Temp\\";
constexpr const char* kAgentDevicePath = "\\Temp\\Devflash.exe";
// First character of the agent's command line: the connection code.
constexpr char16_t kSerialConnectionCode = 1, kUsbConnectionCode = 2;
// Wizard milliseconds between closing the remote API connection and opening
// the link (which itself waits a further 20 s).
constexpr std::uint32_t kAgentStartSettleMs = 3000;

// The sequence. Does nothing unless Wizard.UpgradeStarted is set. On failure
// it has shown its error screen and ended the wizard; on return otherwise
// the link is open and its reader runs (or the port layer has shown
// "ERROR 105" and ended the wizard).
void RunUpgradePreparation();

// The loader file for `connection`.
const char* LoaderFileName(Connection connection);
// The agent's three-character command line: the connection code, a blank and
// "U" (c_str() adds the terminating NUL).
std::u16string AgentCommandLine(Connection connection);

}  // namespace wizard
