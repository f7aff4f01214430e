// Settings carry-over: before the agent is started, a fixed set of registry
// values and shortcut files on the handheld is rewritten, while it still runs
// its old ROM, so that the user's menu setting, disk driver, power panel,
// hardware buttons and start menu suit the new ROM generation. What is
// written depends on the image's version number (old or new layout) and its
// language code (localized names).
//
// Every write and delete is best effort: a failing remote call is ignored,
// the sequence goes on and nothing is shown.
#pragma once
#include <cstdint>

#include "platform/remote_api.h"

namespace wizard {

// Version thresholds, compared as 32-bit floats with ImageVersionNumber.
constexpr float kHighWindowBaseVersion = 1.6f;    // at least: window base 0xB2000000
constexpr float kOldLayoutLastVersion = 1.4f;     // at most: old layout
constexpr float kNewLayoutFirstVersion = 1.41f;   // at least: new layout
constexpr std::uint32_t kHighWindowBase = 0xB2000000u, kLowWindowBase = 0xAE000000u;

enum class StartMenuLayout { Old, New };

// Whole sequence: menu setting, disk window base, then the old or the new
// layout (power panel, disk driver values for the new one, buttons, start
// menu), chosen by ImageHeader.ImageVersionNumber and ImageHeader.ImageLang.
void CarrySettingsOver();

// "CoolMenu" under HKEY_LOCAL_MACHINE "ControlPanel\Menus" is set to a single
// byte 0 (REG_NONE) when its first byte is not 0.
void DisableCoolMenu();

// Opens (or creates) `keyPath` under `root` and sets one value; non-zero on
// success. A leading backslash of `keyPath` is dropped: the handheld refuses
// sub-keys that begin with one.
int WriteDeviceRegistryValue(rapi::RegKey root, const char16_t* keyPath, const char16_t* valueName,
                             std::uint32_t type, const void* data, std::uint32_t size);

// The five hardware buttons (keys 40C1 to 40C5) in ImageLang's language.
void AssignHardwareButtons();

// The start-menu and maker's-menu steps of `layout` for ImageLang; nothing
// for a language without a start-menu row.
void ApplyStartMenuLayout(StartMenuLayout layout);

}  // namespace wizard
