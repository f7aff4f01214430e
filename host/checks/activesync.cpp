#include "checks/activesync.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "base/bounded_text.h"
#include "platform/host_system.h"
#include "platform/pc_files.h"
#include "platform/pc_registry.h"
#include "platform/remote_api.h"
#include "image/image_file.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

constexpr const char* kActiveSyncWindow = "DccMan";
constexpr const char* kActiveSyncThunkWindow = "WCES Manager Thunk Window";
constexpr const char* kActiveSyncAppPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WCESCOMM.EXE";
constexpr std::uint32_t kProgramPathCapacity = 256;

constexpr const char* kActiveSyncKey = "Software\\Microsoft\\Windows CE Services";
constexpr const char* kSerialPortValue = "SerialPort";
constexpr std::uint32_t kEnumNameCapacity = 100;
constexpr std::uint32_t kEnumDataCapacity = 100;
// The walk ends at the first error other than "more data"; this bound only
// protects against a registry that keeps answering "more data".
constexpr std::uint32_t kMaxIndexesVisited = 4096;

constexpr const char* kClockLibrary = "SetSystemTime.dll";
constexpr const char* kClockLibraryOnDevice = "\\Windows\\SetSystemTime.dll";
constexpr const char16_t* kClockLibraryName = u"SetSystemTime.dll";
constexpr const char16_t* kClockFunction = u"SetSysTime";

constexpr std::size_t kCopyChunk = 256;

// Finds the "SerialPort" text; false when there is none that fits.
bool FindSerialPortText(pcreg::Key* key, char (&text)[kEnumDataCapacity + 1]) {
  for (std::uint32_t index = 0; index < kMaxIndexesVisited; ++index) {
    char name[kEnumNameCapacity] = {};
    std::uint8_t data[kEnumDataCapacity] = {};
    std::uint32_t type = 0, size = kEnumDataCapacity;
    long result = pcreg::EnumValue(key, index, name, kEnumNameCapacity, type, data, size);
    // A value too large for the buffers is skipped, as the resume record's
    // load does, rather than ending the search before "SerialPort".
    if (result == pcreg::kMoreData) continue;
    if (result != pcreg::kSuccess) return false;
    name[kEnumNameCapacity - 1] = 0;
    if (!EqualNoCase(name, kSerialPortValue)) continue;
    // Only a text names a port; a number stored under this name does not.
    if (type != pcreg::kTypeString) return false;
    return CopyTextIfFits(text, sizeof text, data, size <= kEnumDataCapacity ? size : kEnumDataCapacity);
  }
  return false;
}

}  // namespace

void StopActiveSync() {
  hostsys::TerminateWindowOwner(kActiveSyncWindow);
  hostsys::TerminateWindowOwner(kActiveSyncThunkWindow);
}

long RestartActiveSync() {
  pcreg::Key* key = nullptr;
  long result = pcreg::OpenKey(pcreg::Root::LocalMachine, kActiveSyncAppPath, false, key);
  if (result != pcreg::kSuccess) return result;
  char path[kProgramPathCapacity] = {};
  std::uint32_t type = 0, size = kProgramPathCapacity;
  result = pcreg::QueryValue(key, "", type, path, size);  // the key's default value
  pcreg::CloseKey(key);
  if (result != pcreg::kSuccess) return result;
  path[size < kProgramPathCapacity ? size : kProgramPathCapacity - 1] = 0;  // stored without NUL
  return hostsys::StartProgram(path) ? 1 : 0;
}

void ReadSerialPortSetting(char* out, std::size_t capacity) {
  if (capacity == 0) return;
  out[0] = 0;
  if (Wizard.ConnectionType != Connection::Serial && !Wizard.Critical) return;
  pcreg::Key* key = nullptr;
  if (pcreg::OpenKey(pcreg::Root::LocalMachine, kActiveSyncKey, false, key) != pcreg::kSuccess) return;
  char text[kEnumDataCapacity + 1] = {};
  bool found = FindSerialPortText(key, text);
  pcreg::CloseKey(key);
  if (!found) return;
  // "%s:" into the caller's buffer: a name that would not fit with its colon
  // leaves the setting empty (the port layer then uses its default port)
  // instead of a cut name that could open another port.
  std::size_t length = std::strlen(text);
  if (length + 2 > capacity) return;
  std::memcpy(out, text, length);
  out[length] = ':';
  out[length + 1] = 0;
}

int CopyFileToDevice(const char* pcPath, const char* devicePath) {
  pc::File* source = pc::OpenFile(pcPath, pc::OpenMode::ReadShared);
  if (!source) return 0;
  std::u16string target = rapi::AnsiToDevicePath(devicePath);
  rapi::Handle handle = rapi::CeCreateFile(target.c_str(), rapi::kGenericWrite, rapi::kShareRead,
                                           rapi::kCreateAlways, rapi::kAttributeNormal);
  if (handle == rapi::kInvalidHandle || handle == nullptr) {
    pc::CloseFile(source);
    return 0;
  }
  bool ok = true;
  std::uint8_t chunk[kCopyChunk];
  for (;;) {
    long got = pc::ReadFile(source, chunk, sizeof chunk);
    if (got == 0) break;  // end of the file: done
    if (got < 0) {
      ok = false;
      break;
    }
    std::uint32_t written = 0;
    if (!rapi::CeWriteFile(handle, chunk, static_cast<std::uint32_t>(got), &written) ||
        written != static_cast<std::uint32_t>(got)) {
      ok = false;
      break;
    }
  }
  rapi::CeCloseHandle(handle);
  pc::CloseFile(source);
  return ok ? 1 : 0;
}

int SetDeviceClock() {
  rapi::InitRecord init;
  if (rapi::CeRapiInitEx(&init) < 0) return 0;  // a failed HRESULT
  std::uint8_t clock[hostsys::kClockBlockSize] = {};
  hostsys::ReadClockBlock(clock);

  std::string library = std::string(Wizard.BaseFolder) + "\\" + ImageHeader.ImageLanguage + "\\" + kClockLibrary;
  bool copied = library.size() < kPathCapacity && CopyFileToDevice(library.c_str(), kClockLibraryOnDevice);
  if (copied) {
    // The input block is allocated only when it is handed over: the remote
    // call takes it and frees it, and nothing else would.
    std::uint8_t* input = rapi::AllocInvokeBlock(hostsys::kClockBlockSize);
    if (input) {
      std::memcpy(input, clock, hostsys::kClockBlockSize);
      std::uint32_t outputSize = 0;
      std::uint8_t* output = nullptr;
      rapi::CeRapiInvoke(kClockLibraryName, kClockFunction, hostsys::kClockBlockSize, input,
                         &outputSize, &output);
      if (output) rapi::FreeInvokeBlock(output);
    }
  }
  rapi::CeRapiUninit();
  return 1;
}

}  // namespace wizard
