// Identification of the handheld in the cradle and verification of the image
// for it: model, ROM version and language from the handheld's asset data
// file, the image in the language folder, the modules listed for removal,
// the flash size from the probe program and the image checksum.
//
// Everything here runs on the GUI thread. Operations return true for
// success. A step that meets a fatal condition shows its own numbered
// screen, closes the remote API connection and ends the wizard before it
// returns false.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wizard {

// --- screens ------------------------------------------------------------------
constexpr int kVerifyingScreen = 122;        // modeless "verifying" wait
constexpr int kConnectionTypeScreen = 158;   // 0: Next (ConnectionType set), 1: Cancel
constexpr int kConnectionErrorScreen = 138;  // "ERROR 101: CONNECTION ERROR"
constexpr int kImageNotFoundScreen = 140;    // "ERROR 103: ROM IMAGE FILE NOT FOUND"
constexpr int kCannotOpenImageScreen = 141;  // "ERROR 104: CANNOT OPEN ROM IMAGE FILE"
constexpr int kProgramFailureScreen = 144;   // "ERROR 106: EXECUTE REMOTE COMMUNICATION PROGRAM FAILURE"
constexpr int kModuleListScreen = 146;       // "ERROR 108: CANNOT OPEN MODULE DATA FILE"
constexpr int kConnectionTypeNext = 0;
constexpr int kModuleListExit = 2;           // screen 146: Exit; Enter (1) goes on

// --- the remote API wait --------------------------------------------------------
constexpr std::uint32_t kConnectionWaitMs = 3000;

// --- the asset data file on the handheld ----------------------------------------
constexpr const char* kAssetProgram = "\\Windows\\CreateAssetFile.exe";
constexpr const char* kAssetFile = "\\Windows\\nrvAssetData.dat";
constexpr std::uint32_t kAssetReadLimit = 12000;   // bytes read at most
// The asset program is not waited for; while the file cannot be opened yet
// (the program is still writing it, or writes it for the first time) the
// open is retried every kProbePollMs for up to this long.
constexpr std::uint32_t kAssetWaitLimitMs = 5000;
constexpr std::size_t kAssetModelOffset = 152;     // 9 UTF-16 units
constexpr std::size_t kAssetModelUnits = 9;
constexpr std::size_t kAssetVersionOffset = 2556;  // 11 UTF-16 units
constexpr std::size_t kAssetVersionUnits = 11;
// A file shorter than this does not hold both fields and is unreadable.
constexpr std::size_t kAssetMinimumSize = kAssetVersionOffset + 2 * kAssetVersionUnits;  // 2578
constexpr std::size_t kVersionDigits = 4;          // Version: the first 4 characters
constexpr std::size_t kVersionLangOffset = 8;      // Lang: characters 9 to 11
constexpr std::size_t kVersionLangLength = 3;

// The two fields read from an asset data file.
struct AssetFields {
  char ModelID[kAssetModelUnits + 1] = {};          // stops at the first zero unit
  char VersionString[kAssetVersionUnits + 1] = {};  // always 11 characters; zero units read "."
};

// Parses the first `length` bytes of an asset data file. False (fields left
// empty) when the bytes do not reach past the version field. Repairs the
// known faulty version strings "1..2.00 ENG" and "1..2.00 JPN" (any case)
// to 1.12.00.
bool ParseAssetData(const std::uint8_t* data, std::size_t length, AssetFields& fields);

// --- the probe on the handheld ----------------------------------------------------
constexpr const char* kProbeName = "GetType.exe";
constexpr const char* kProbeDevicePath = "\\Temp\\GetType.exe";
constexpr const char* kProbeResultFile = "\\temp\\type.dat";
constexpr std::uint32_t kProbePollMs = 100;
// How long the probe may take to write its result. Without a bound a probe
// that never writes would hang the wizard; at the bound the probe counts as
// failed ("ERROR 106").
constexpr std::uint32_t kProbeWaitLimitMs = 30000;

// --- PC files -----------------------------------------------------------------------
constexpr const char* kModuleListName = "module.dat";
constexpr const char* kDeviceModuleFolder = "\\Windows\\";
// Longest line of "module.dat" that still fits "\Windows\" + name in a
// handheld path; longer lines are skipped.
constexpr std::size_t kMaxModuleNameLength = 250;
// A module list larger than this is not a list of file names; it is treated
// like one whose size cannot be read.
constexpr std::uint64_t kModuleListLimit = 1024 * 1024;
constexpr const char* kImageSuffix = "nbf";

// The names "module.dat" lists, in order: the first line always, then each
// further line up to one that begins with "$". Only lines ended by CR LF
// within `size` count; empty, over-long and NUL-holding lines are skipped.
std::vector<std::string> ParseModuleList(const char* text, std::size_t size);

// --- operations ---------------------------------------------------------------------
// Waits for the remote API, asks for the connection type, reads the asset
// data, fills DeviceInfo (not FlashSizeMB) and ImageSizeKB, finds the image
// (FlashFile, FolderImagePath) and parses its header. When the handheld does
// not answer it calls `takeResumePath` (the flow's resume path) and returns
// false.
bool IdentifyDevice(void (*takeResumePath)());
// Removes the listed modules, checksums FlashFile, probes the flash size.
// True only when the checksum matches the header's checksum text.
bool VerifyImageAndDevice();
// Runs the probe program on the handheld and sets DeviceInfo.FlashSizeMB.
bool ProbeDeviceType();
// Deletes from the handheld's \Windows the files "module.dat" names.
bool RemoveListedModules();
// Byte size (low 32 bits) of the first image file in
// BaseFolder\Language\subFolder ("" for the language folder); 0 when none.
std::uint32_t FindLanguageImageSize(const char* subFolder);
// Reads a checksum text of 1 to 4 hexadecimal digits (either case) as a
// 16-bit number. False for an empty text, more digits or any other
// character: such a header is treated as a checksum mismatch.
bool ParseHexWord(const char* text, std::uint16_t& value);

}  // namespace wizard
