// Remote API seam: the Ce... calls the wizard makes on the handheld.
// Win32: bound at run time from "rapi.dll" (the real library or our stand-in);
// Linux: a client of handheld-sim (address from ROMWIZ_HANDHELD).
// Declarations are our own, written from the documented signatures; handheld
// paths are UTF-16 (see AnsiToDevicePath).
#pragma once
#include <cstdint>
#include <string>

namespace rapi {

using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

// Access, share, disposition and attribute values as Win32 defines them.
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kShareRead = 1, kShareWrite = 2;
constexpr std::uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3;
constexpr std::uint32_t kAttributeHidden = 0x2, kAttributeDirectory = 0x10, kAttributeNormal = 0x80;

// RAPIINIT: size (always 12), the event signalled when the connection attempt
// ends, and its result code (0 = S_OK).
struct InitRecord {
  std::uint32_t size = 12;
  void* event = nullptr;
  std::int32_t result = 0;
};

// CE_FIND_DATA as the wizard reads it.
struct FindData {
  std::uint32_t attributes = 0;
  std::uint32_t sizeHigh = 0;
  std::uint32_t sizeLow = 0;
  char16_t name[260] = {};
};

// SYSTEM_POWER_STATUS_EX; only ACLineStatus is used (1 = on external power).
struct PowerStatus {
  std::uint8_t ACLineStatus = 0;
  std::uint8_t BatteryFlag = 0;
  std::uint8_t BatteryLifePercent = 0;
  std::uint8_t Reserved1 = 0;
  std::uint32_t BatteryLifeTime = 0;
  std::uint32_t BatteryFullLifeTime = 0;
  std::uint8_t Reserved2 = 0;
  std::uint8_t BackupBatteryFlag = 0;
  std::uint8_t BackupBatteryLifePercent = 0;
  std::uint8_t Reserved3 = 0;
  std::uint32_t BackupBatteryLifeTime = 0;
  std::uint32_t BackupBatteryFullLifeTime = 0;
};

struct ProcessInfo {
  Handle process = nullptr;
  Handle thread = nullptr;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
};

// Starts a connection; remote calls wait until WaitForConnection has seen
// its event signalled with success. Each start that succeeds is ended by
// exactly one CeRapiUninit before the next start (the library refuses a
// second one).
std::int32_t CeRapiInitEx(InitRecord* init);
// Ends the outstanding start, connected or not; without one it does nothing
// and fails, so a fatal path may close "the connection where one is open"
// without knowing whether an earlier step closed it already.
std::int32_t CeRapiUninit();
// Waits up to `ms` wizard milliseconds for the init record's event. True only
// when the event was signalled (the caller then also checks init->result).
// On Windows the thread's messages are handled meanwhile (input stays
// queued): older ActiveSync versions complete the connection through them.
// The connection itself takes real time, which a time scale does not shorten:
// the wait lasts at least kConnectionWaitFloorMs real milliseconds (or `ms`,
// if shorter). At a scale of 200 the 3 s wait was 15 ms, shorter than a
// greeting on a loaded machine; an absent handheld still fails at once.
constexpr std::uint32_t kConnectionWaitFloorMs = 2000;
bool WaitForConnection(const InitRecord& init, std::uint32_t ms);

Handle CeCreateFile(const char16_t* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t attributes);
bool CeReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read);
bool CeWriteFile(Handle file, const void* data, std::uint32_t count, std::uint32_t* written);
bool CeCloseHandle(Handle handle);
// Low 32 bits of the size; 0xFFFFFFFF on failure (as the real call).
std::uint32_t CeGetFileSize(Handle file, std::uint32_t* high);
bool CeDeleteFile(const char16_t* path);
bool CeMoveFile(const char16_t* from, const char16_t* to);
bool CeCopyFile(const char16_t* from, const char16_t* to, bool failIfExists);
bool CeCreateDirectory(const char16_t* path);
bool CeRemoveDirectory(const char16_t* path);
Handle CeFindFirstFile(const char16_t* pattern, FindData* data);
bool CeFindNextFile(Handle find, FindData* data);
bool CeFindClose(Handle find);
bool CeCreateProcess(const char16_t* program, const char16_t* commandLine, ProcessInfo* info);
bool CeGetSystemPowerStatusEx(PowerStatus* status, bool refresh);
// Calls `function` of `library` on the handheld with an input block (which
// the call takes over and frees, as the real one does with LocalAlloc memory).
std::int32_t CeRapiInvoke(const char16_t* library, const char16_t* function,
                          std::uint32_t inputSize, std::uint8_t* input,
                          std::uint32_t* outputSize, std::uint8_t** output);
// Allocates and frees blocks handed to CeRapiInvoke (LocalAlloc/LocalFree on Win32).
std::uint8_t* AllocInvokeBlock(std::uint32_t size);
void FreeInvokeBlock(std::uint8_t* block);
std::uint32_t CeGetLastError();

// --- the handheld's registry ---------------------------------------------------
// Key handles: the predefined roots or keys opened by the calls below. The
// calls return a Win32 error code (0 = ERROR_SUCCESS), as the real ones do.
using RegKey = void*;
inline RegKey const kRegLocalMachine = reinterpret_cast<RegKey>(static_cast<std::uintptr_t>(0x80000002u));
constexpr std::uint32_t kRegNone = 0, kRegSz = 1, kRegDword = 4;  // value types
constexpr std::int32_t kErrorSuccess = 0;
constexpr std::int32_t kErrorFileNotFound = 2;
constexpr std::int32_t kErrorMoreData = 234;  // the caller's buffer is too small; *size tells what is needed

// `subKey` must not begin with a backslash (the handheld refuses it).
std::int32_t CeRegOpenKeyEx(RegKey key, const char16_t* subKey, RegKey* result);
// Opens the key, or creates it (with its parents) when it does not exist.
// `disposition` (may be null): 1 created, 2 opened an existing key.
std::int32_t CeRegCreateKeyEx(RegKey key, const char16_t* subKey, RegKey* result, std::uint32_t* disposition);
// Reads a value: on entry *size is the capacity of `data` (null `data`: only
// the size and type are asked for); on return the value's size.
std::int32_t CeRegQueryValueEx(RegKey key, const char16_t* valueName, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size);
std::int32_t CeRegSetValueEx(RegKey key, const char16_t* valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size);
std::int32_t CeRegCloseKey(RegKey key);

// 8-bit handheld path to UTF-16 with the ANSI code page (Win32:
// MultiByteToWideChar(CP_ACP); Linux: Windows-1252).
std::u16string AnsiToDevicePath(const char* text);

}  // namespace rapi
