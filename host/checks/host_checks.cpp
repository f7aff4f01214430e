#include "checks/host_checks.h"

#include <cstdint>
#include <cstring>

#include "base/bounded_text.h"
#include "platform/pc_registry.h"

namespace wizard {
namespace {

constexpr std::uint32_t kTextBufferSize = 100;
constexpr std::uint32_t kMinimumActiveSync = 35;  // version 3.5 as major x 10 + minor

constexpr const char* kWindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kWindowsNtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kActiveSyncKey = "SOFTWARE\\Microsoft\\Windows CE Services";

// Reads a text value into `text` (kTextBufferSize bytes). A string stored
// without its terminating NUL is terminated here before anyone compares it;
// one that fills the whole buffer without a NUL is cut by one byte, which can
// only make it differ from the short names the probes look for.
bool ReadTextValue(const char* keyPath, const char* name, char (&text)[kTextBufferSize]) {
  pcreg::Key* key = nullptr;
  if (pcreg::OpenKey(pcreg::Root::LocalMachine, keyPath, false, key) != pcreg::kSuccess) return false;
  std::uint32_t type = 0, size = kTextBufferSize;
  std::memset(text, 0, kTextBufferSize);
  long result = pcreg::QueryValue(key, name, type, text, size);
  pcreg::CloseKey(key);
  if (result != pcreg::kSuccess) return false;
  text[size < kTextBufferSize ? size : kTextBufferSize - 1] = 0;
  return true;
}

// A 4-byte value that starts at 0; anything unreadable leaves it 0. A value
// of another type (a short text would fit the 4 bytes) is not a version
// number and counts as unreadable.
std::uint32_t ReadDword(pcreg::Key* key, const char* name) {
  std::uint32_t value = 0, type = 0, size = sizeof value;
  if (pcreg::QueryValue(key, name, type, &value, size) != pcreg::kSuccess) return 0;
  return type == pcreg::kTypeDword ? value : 0;
}

}  // namespace

bool IsWindows95() {
  char text[kTextBufferSize];
  return ReadTextValue(kWindowsKey, "ProductName", text) && EqualNoCase(text, "Microsoft Windows 95");
}

bool IsOldWindowsNT() {
  char text[kTextBufferSize];
  return ReadTextValue(kWindowsNtKey, "CurrentVersion", text) &&
         (EqualNoCase(text, "4.0") || EqualNoCase(text, "3.51"));
}

bool ActiveSyncVersionOk() {
  pcreg::Key* key = nullptr;
  // Without ActiveSync's key there is no ActiveSync to talk to the handheld:
  // the check fails (ERROR 115) rather than letting the wizard go on to
  // remote-API steps that cannot work.
  if (pcreg::OpenKey(pcreg::Root::LocalMachine, kActiveSyncKey, false, key) != pcreg::kSuccess)
    return false;
  std::uint32_t major = ReadDword(key, "MajorVersion");
  std::uint32_t minor = ReadDword(key, "MinorVersion");
  pcreg::CloseKey(key);
  std::uint32_t version = major * 10u + minor;  // unsigned 32-bit, as ActiveSync's values are
  return version >= kMinimumActiveSync;
}

}  // namespace wizard
