// Programs and remote-call libraries of the simulated handheld, keyed by
// file name (lower case). A program runs when CeCreateProcess starts a file
// of that name that exists on the handheld; any other file does not start.
//
// Built in:
//   createassetfile.exe  writes \Windows\nrvAssetData.dat from the identity in flash
//   gettype.exe          writes \temp\type.dat (byte 1 = flash size in MB)
//   setsystemtime.dll    SetSysTime: the 188-byte clock block -> clock and time zone
//   backup.exe           dumps the flash chunk by chunk (backup_program.h)
//
// Extension point: other programs (Devflash.exe) are added with
// RegisterProgram before the service starts. A handler runs with the
// handheld's lock held; work that goes on after the start belongs in a thread
// of its own that takes Handheld::Lock() for each step (StartProgramWork).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace handheld {

class Handheld;

struct ProgramStart {
  Handheld& handheld;
  std::u16string path;         // as the caller gave it
  std::u16string commandLine;
};

// Returns 0 when the program has started, else the Win32 error of the start.
using ProgramHandler = std::uint32_t (*)(const ProgramStart& start);
// Returns the call's HRESULT; `output` is handed back to the caller.
using InvokeHandler = std::int32_t (*)(Handheld& handheld, const std::vector<std::uint8_t>& input,
                                       std::vector<std::uint8_t>& output);

void RegisterProgram(const std::string& fileName, ProgramHandler handler);
ProgramHandler FindProgram(const std::string& lowerFileName);
void RegisterInvoke(const std::string& library, const std::string& function, InvokeHandler handler);
InvokeHandler FindInvoke(const std::string& lowerLibrary, const std::string& function);

// Asset data file layout read by the wizard.
constexpr std::uint32_t kAssetFileSize = 4096;     // at least 2578 bytes
constexpr std::uint32_t kAssetModelOffset = 152;   // 9 UTF-16 units
constexpr std::uint32_t kAssetModelUnits = 9;
constexpr std::uint32_t kAssetVersionOffset = 2556;  // 11 UTF-16 units: "1.14.00 ENG"
constexpr std::uint32_t kAssetVersionUnits = 11;
// The clock block of SetSysTime: TIME_ZONE_INFORMATION then SYSTEMTIME (UTC).
constexpr std::uint32_t kTimeZoneInfoSize = 172;
constexpr std::uint32_t kClockBlockSize = 188;

// Work a program goes on with after its start, on a thread of its own. The
// work must take the handheld's lock for each step and return soon after
// `stop` is set. Starting work under a name the handheld already runs work
// under stops the earlier one (a program started again replaces itself).
// The handheld's destructor stops and waits for all of its work.
using ProgramWork = std::function<void(Handheld& handheld, const std::atomic<bool>& stop)>;
void StartProgramWork(Handheld& handheld, const std::string& name, ProgramWork work);
void StopProgramWork(Handheld& handheld);
// Blocks until every work of `handheld` has returned by itself (tests).
void WaitForProgramWork(Handheld& handheld);

// What a distribution holds for a built-in program: a short text that names
// it. A program that checks its file (backup.exe) starts only from a whole copy.
std::string ProgramFileText(const std::string& fileName);

// The built-in programs, callable directly by tests.
std::vector<std::uint8_t> MakeAssetData(const std::string& modelId, const std::string& versionString);
std::int32_t SetSysTime(Handheld& handheld, const std::vector<std::uint8_t>& input,
                        std::vector<std::uint8_t>& output);

}  // namespace handheld
