#include "checks/activesync.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "base/bounded_text.h"
#include "platform/host_system.h"
#include "platform/pc_files.h"
#include "platform/pc_registry.h"
#include "platform/remote_api.h"
#include "checks/identify.h"
#include "image/image_file.h"
#include "port/transfer_log.h"
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

constexpr const char* kClockSession = "setting the handheld's clock";
constexpr const char* kClockSet = "clock set";
constexpr const char* kClockNotSet = "clock not set";
constexpr std::int32_t kInvokeFailed = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
// The clock's own connection gets the identification's budget.
constexpr std::uint32_t kClockConnectionWaitMs = kConnectionWaitMs;

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

namespace {

// The clock's outcome in the transfer log: the only trace a user or support
// has of a clock left as the new ROM set it.
void LogClockOutcome(const char* problem) {
  translog::BeginSession(kClockSession);
  if (problem) {
    translog::Problem(problem);
    translog::EndSession(kClockNotSet);
  } else {
    translog::EndSession(kClockSet);
  }
}

// Hands the clock block to "SetSysTime" on the handheld; the remote call's
// result, or a failure when the block cannot be allocated.
std::int32_t InvokeSetSysTime(const std::uint8_t (&clock)[hostsys::kClockBlockSize]) {
  // The input block is allocated only when it is handed over: the remote
  // call takes it and frees it, and nothing else would.
  std::uint8_t* input = rapi::AllocInvokeBlock(hostsys::kClockBlockSize);
  if (!input) return kInvokeFailed;
  std::memcpy(input, clock, hostsys::kClockBlockSize);
  std::uint32_t outputSize = 0;
  std::uint8_t* output = nullptr;
  const std::int32_t result = rapi::CeRapiInvoke(kClockLibraryName, kClockFunction, hostsys::kClockBlockSize,
                                                 input, &outputSize, &output);
  if (output) rapi::FreeInvokeBlock(output);
  return result;
}

// Sets the clock over a connection that is up; the reason when it was not set.
const char* SetClockOverConnection() {
  std::uint8_t clock[hostsys::kClockBlockSize] = {};
  hostsys::ReadClockBlock(clock);
  std::string library = std::string(Wizard.BaseFolder) + "\\" + ImageHeader.ImageLanguage + "\\" + kClockLibrary;
  if (library.size() >= kPathCapacity || !CopyFileToDevice(library.c_str(), kClockLibraryOnDevice))
    return "clock not set: SetSystemTime.dll could not be copied to the handheld";
  if (InvokeSetSysTime(clock) < 0) return "clock not set: the handheld's SetSysTime call failed";
  return nullptr;
}

}  // namespace

int SetDeviceClock() {
  rapi::InitRecord init;
  if (rapi::CeRapiInitEx(&init) < 0) {  // a failed HRESULT
    LogClockOutcome("clock not set: the remote API could not be started");
    return 0;
  }
  // Remote calls wait for the connection this start brings up (the same
  // budget as the identification's wait); a handheld that does not come back
  // into ActiveSync in time keeps the clock the new ROM set, and the log says so.
  const bool connected = rapi::WaitForConnection(init, kClockConnectionWaitMs) && init.result == 0;
  LogClockOutcome(connected ? SetClockOverConnection() : "clock not set: the handheld did not answer through ActiveSync");
  rapi::CeRapiUninit();
  return 1;
}

}  // namespace wizard
