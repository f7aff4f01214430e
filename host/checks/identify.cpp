#include "checks/identify.h"

#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "checks/resume_record.h"
#include "platform/clock.h"
#include "platform/pc_files.h"
#include "platform/remote_api.h"
#include "handheld_files/device_files.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"


namespace wizard {
namespace {

constexpr std::uint32_t kSizeFailure = 0xFFFFFFFFu;  // CeGetFileSize's failure value
constexpr const char* kFaultyVersions[] = {"1..2.00 ENG", "1..2.00 JPN"};
constexpr std::size_t kFaultyVersionRepairAt = 2;  // "1..2.00" reads 1.12.00
constexpr char kZeroUnitMark = '.';

bool Ended() { return Wizard.WizardEnded; }

// A fatal step: its own screen, then the remote API closed, then the end.
void Fatal(int screen) {
  screens::ShowScreen(screen);
  rapi::CeRapiUninit();
  EndWizard();
}

bool EndsWithNoCase(const std::string& name, const char* suffix) {
  std::size_t length = std::strlen(suffix);
  // A name shorter than the suffix cannot end with it (and is never read before its start).
  return name.size() >= length && EqualNoCase(name.c_str() + name.size() - length, suffix);
}

template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

// Joins PC path parts with "\"; false when the result would not fit a PC
// path (259 characters and its terminator): such a path is never cut.
bool JoinPath(std::string& path, std::initializer_list<std::string> parts) {
  path.clear();
  bool first = true;
  for (const std::string& part : parts) {
    if (!first) path += '\\';
    path += part;
    first = false;
  }
  return path.size() < kPathCapacity;
}

// BaseFolder\Language
bool LanguageFolder(std::string& folder) {
  return JoinPath(folder, {Field(Wizard.BaseFolder), Field(Wizard.DeviceInfo.Language)});
}

// The first image file of `folder` in listing order.
bool FindImageEntry(const std::string& folder, pc::DirEntry& image) {
  std::vector<pc::DirEntry> entries;
  if (!pc::ListFolder(folder.c_str(), entries)) return false;
  for (const pc::DirEntry& entry : entries) {
    // Any folder is skipped, not only one whose attribute word is exactly
    // FILE_ATTRIBUTE_DIRECTORY: a hidden or read-only folder named x.nbf is
    // no image either.
    if (entry.attributes & pc::kAttributeDirectory) continue;
    if (EndsWithNoCase(entry.name, kImageSuffix)) {
      image = entry;
      return true;
    }
  }
  return false;
}

// Starts a handheld program with an empty command line and lets it run: the
// handles the start returns are closed at once.
bool StartDeviceProgram(const char* path) {
  rapi::ProcessInfo info;
  if (!rapi::CeCreateProcess(rapi::AnsiToDevicePath(path).c_str(), u"", &info)) return false;
  if (info.process) rapi::CeCloseHandle(info.process);
  if (info.thread) rapi::CeCloseHandle(info.thread);
  return true;
}

// Reads up to `limit` bytes; false when a read fails.
bool ReadDeviceFile(rapi::Handle file, std::uint8_t* buffer, std::uint32_t limit, std::size_t& got) {
  got = 0;
  while (got < limit) {
    std::uint32_t read = 0;
    if (!rapi::CeReadFile(file, buffer + got, limit - static_cast<std::uint32_t>(got), &read)) return false;
    if (read == 0) break;
    got += read;
  }
  return true;
}

rapi::Handle OpenAssetFile() {
  const std::u16string path = rapi::AnsiToDevicePath(kAssetFile);
  const std::uint64_t start = platform::NowMs();
  for (;;) {
    rapi::Handle file = rapi::CeCreateFile(path.c_str(), rapi::kGenericRead, rapi::kShareRead,
                                           rapi::kOpenExisting, rapi::kAttributeNormal);
    if (file != rapi::kInvalidHandle || platform::NowMs() - start >= kAssetWaitLimitMs) return file;
    platform::SleepMs(kProbePollMs);
  }
}

// Steps 5 to 7 and 13: the asset program, then the asset file's fields.
bool ReadAssetData(AssetFields& fields) {
  if (!StartDeviceProgram(kAssetProgram)) return false;
  rapi::Handle file = OpenAssetFile();
  if (file == rapi::kInvalidHandle) return false;
  std::uint32_t high = 0;
  bool ok = rapi::CeGetFileSize(file, &high) != kSizeFailure;
  // Zero-filled, and parsed only as far as the bytes actually read.
  std::vector<std::uint8_t> buffer(kAssetReadLimit, 0);
  std::size_t got = 0;
  ok = ok && ReadDeviceFile(file, buffer.data(), kAssetReadLimit, got);
  rapi::CeCloseHandle(file);
  return ok && ParseAssetData(buffer.data(), got, fields);
}

// Steps 11 and 12: Version, Lang and, for a known code, Language and ImageSizeKB.
void StoreIdentity(const AssetFields& fields) {
  DeviceInfoRecord& info = Wizard.DeviceInfo;
  CopyTextTruncated(info.ModelID, sizeof info.ModelID, fields.ModelID);
  CopyTextTruncated(info.Version, kVersionDigits + 1, fields.VersionString);
  CopyTextTruncated(info.Lang, kVersionLangLength + 1, fields.VersionString + kVersionLangOffset);
  if (const char* language = LanguageForCode(info.Lang)) {
    CopyTextTruncated(info.Language, sizeof info.Language, language);
    Wizard.ImageSizeKB = FindLanguageImageSize("") >> 10;
  }
}

// Steps 14 and 15: the image in the language folder.
bool FindFolderImage() {
  std::string folder, path;
  pc::DirEntry image;
  if (!LanguageFolder(folder) || !FindImageEntry(folder, image) || !JoinPath(path, {folder, image.name})) {
    Fatal(kImageNotFoundScreen);
    return false;
  }
  CopyTextTruncated(Wizard.FlashFile, sizeof Wizard.FlashFile, path.c_str());
  CopyTextTruncated(Wizard.FolderImagePath, sizeof Wizard.FolderImagePath, path.c_str());
  // A header that cannot be read has shown "ERROR 104" and ended the wizard.
  return ReadImageHeader(Wizard.FlashFile) != 0;
}

// Copies the language folder's probe program to the handheld. A failed copy
// is not reported here: the start of the (deleted) program then fails.
void StageProbeProgram() {
  std::string folder, path;
  std::vector<pc::DirEntry> entries;
  if (!LanguageFolder(folder) || !pc::ListFolder(folder.c_str(), entries)) return;
  for (const pc::DirEntry& entry : entries) {
    if ((entry.attributes & pc::kAttributeDirectory) || !EqualNoCase(entry.name.c_str(), kProbeName)) continue;
    if (JoinPath(path, {folder, entry.name})) StageFileOnDevice(path.c_str(), kProbeDevicePath, kProbeName);
    return;
  }
}

// Polls for the probe's result file, at most kProbeWaitLimitMs.
bool WaitForProbeResult() {
  const std::u16string path = rapi::AnsiToDevicePath(kProbeResultFile);
  const std::uint64_t start = platform::NowMs();
  for (;;) {
    platform::SleepMs(kProbePollMs);
    rapi::FindData data;
    rapi::Handle found = rapi::CeFindFirstFile(path.c_str(), &data);
    if (found != rapi::kInvalidHandle) {
      rapi::CeFindClose(found);
      return true;
    }
    if (platform::NowMs() - start >= kProbeWaitLimitMs) return false;
  }
}

// Reads byte 1 of the result file into FlashSizeMB and deletes the file.
bool ReadProbeResult() {
  constexpr std::uint32_t kNoSharing = 0;
  const std::u16string path = rapi::AnsiToDevicePath(kProbeResultFile);
  rapi::Handle file =
      rapi::CeCreateFile(path.c_str(), rapi::kGenericRead, kNoSharing, rapi::kOpenExisting, rapi::kAttributeNormal);
  if (file == rapi::kInvalidHandle) return false;
  std::uint8_t unused = 0, flashSizeMB = 0;
  std::uint32_t got = 0;
  // Each read must deliver its byte: a file cut short is a failed probe.
  bool read = rapi::CeReadFile(file, &unused, 1, &got) && got == 1 &&
              rapi::CeReadFile(file, &flashSizeMB, 1, &got) && got == 1;
  if (!read) {
    rapi::CeCloseHandle(file);
    rapi::CeDeleteFile(path.c_str());
    return false;
  }
  Wizard.DeviceInfo.FlashSizeMB = flashSizeMB;
  if (!rapi::CeCloseHandle(file)) {
    rapi::CeDeleteFile(path.c_str());
    return false;
  }
  return rapi::CeDeleteFile(path.c_str());
}

// Reads the whole module list into a zero-filled buffer of its size.
bool ReadModuleList(pc::File* list, std::vector<char>& text) {
  std::uint64_t size = 0;
  if (!pc::FileSize(list, size) || size > kModuleListLimit) return false;
  text.assign(static_cast<std::size_t>(size), 0);
  std::size_t got = 0;
  while (got < text.size()) {
    long read = pc::ReadFile(list, text.data() + got, text.size() - got);
    if (read < 0) return false;
    if (read == 0) break;  // the file shrank: the rest stays zero
    got += static_cast<std::size_t>(read);
  }
  return true;
}

}  // namespace

bool ParseAssetData(const std::uint8_t* data, std::size_t length, AssetFields& fields) {
  fields = AssetFields{};
  if (length < kAssetMinimumSize) return false;
  auto unit = [data](std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
  };
  for (std::size_t i = 0, n = 0; i < kAssetModelUnits; ++i) {
    std::uint16_t u = unit(kAssetModelOffset + 2 * i);
    if (u == 0) break;
    fields.ModelID[n++] = static_cast<char>(u & 0xFF);
  }
  for (std::size_t i = 0; i < kAssetVersionUnits; ++i) {
    std::uint16_t u = unit(kAssetVersionOffset + 2 * i);
    fields.VersionString[i] = u ? static_cast<char>(u & 0xFF) : kZeroUnitMark;
  }
  for (const char* faulty : kFaultyVersions) {
    if (EqualNoCase(fields.VersionString, faulty)) fields.VersionString[kFaultyVersionRepairAt] = '1';
  }
  return true;
}

std::vector<std::string> ParseModuleList(const char* text, std::size_t size) {
  std::vector<std::string> names;
  bool first = true;
  for (std::size_t start = 0; start < size;) {
    std::size_t end = start;
    while (end + 1 < size && !(text[end] == '\r' && text[end + 1] == '\n')) ++end;
    if (end + 1 >= size) break;  // no CR LF before the end: the list ends
    std::string line(text + start, end - start);
    // The end mark is looked for only from the second line on.
    if (!first && !line.empty() && line[0] == '$') break;
    first = false;
    if (!line.empty() && line.size() <= kMaxModuleNameLength && line.find('\0') == std::string::npos) {
      names.push_back(line);
    }
    start = end + 2;
  }
  return names;
}

bool ParseHexWord(const char* text, std::uint16_t& value) { return ParseChecksumText(text, value); }

std::uint32_t FindLanguageImageSize(const char* subFolder) {
  std::string folder;
  if (!LanguageFolder(folder)) return 0;
  if (*subFolder && !JoinPath(folder, {folder, subFolder})) return 0;
  pc::DirEntry image;
  if (!FindImageEntry(folder, image)) return 0;
  return static_cast<std::uint32_t>(image.size);  // low 32 bits
}

bool IdentifyDevice(void (*takeResumePath)()) {
  screens::ScreenSession* verifying = screens::OpenWaitScreen(kVerifyingScreen);
  // The event is signalled when the attempt ends, failed or not: only a
  // signalled event with a success code is a connection.
  bool connected = rapi::WaitForConnection(Wizard.RapiInit, kConnectionWaitMs) && Wizard.RapiInit.result == 0;
  screens::CloseWaitScreen(verifying);
  if (!connected) {
    // The start is ended before the resume path, whose closing screen
    // starts a connection of its own to set the clock: the library refuses
    // a second start while the first is outstanding.
    rapi::CeRapiUninit();
    takeResumePath();
    return false;
  }
  if (screens::ShowScreen(kConnectionTypeScreen) != kConnectionTypeNext || Ended()) {
    rapi::CeRapiUninit();
    EndWizard();
    return false;
  }
  verifying = screens::OpenWaitScreen(kVerifyingScreen);
  // The handheld answers through ActiveSync, so no upgrade is half done:
  // the record goes, and Critical with it.
  ForgetUpgradeStateAfterConnect();
  AssetFields fields;
  if (!ReadAssetData(fields)) {
    screens::CloseWaitScreen(verifying);
    Fatal(kProgramFailureScreen);
    return false;
  }
  StoreIdentity(fields);
  screens::CloseWaitScreen(verifying);
  return FindFolderImage();
}

bool VerifyImageAndDevice() {
  pc::File* image = pc::OpenFile(Wizard.FlashFile, pc::OpenMode::ReadShared);
  if (!image) {
    Fatal(kCannotOpenImageScreen);
    return false;
  }
  screens::ScreenSession* verifying = screens::OpenWaitScreen(kVerifyingScreen);
  if (!RemoveListedModules()) {  // it has ended the wizard
    pc::CloseFile(image);
    screens::CloseWaitScreen(verifying);
    return false;
  }
  // The one image check (also the backup's and the restore's): a payload
  // without its boot block and loader block cannot be downloaded and is
  // refused here, before the handheld is touched, like a corrupt image.
  std::uint64_t payloadBytes = 0;
  bool holds = ImageChecksumHolds(image, payloadBytes);
  pc::CloseFile(image);
  if (!ProbeDeviceType()) {
    screens::CloseWaitScreen(verifying);
    Fatal(kProgramFailureScreen);
    return false;
  }
  screens::CloseWaitScreen(verifying);
  return holds;
}

bool ProbeDeviceType() {
  DeleteDeviceFile(kProbeDevicePath);  // a failure is ignored
  // A result left from an earlier run would pass for this run's.
  DeleteDeviceFile(kProbeResultFile);
  StageProbeProgram();
  if (!StartDeviceProgram(kProbeDevicePath)) {
    rapi::CeRapiUninit();
    return false;
  }
  return WaitForProbeResult() && ReadProbeResult();
}

bool RemoveListedModules() {
  std::string path;
  pc::File* list = nullptr;
  std::string folder;
  if (LanguageFolder(folder) && JoinPath(path, {folder, kModuleListName})) {
    list = pc::OpenFile(path.c_str(), pc::OpenMode::ReadShared);
  }
  if (!list) {
    if (screens::ShowScreen(kModuleListScreen) != kModuleListExit) return true;  // Enter: nothing removed
    rapi::CeRapiUninit();
    EndWizard();
    return false;
  }
  std::vector<char> text;
  bool read = ReadModuleList(list, text);
  pc::CloseFile(list);
  if (!read) {
    rapi::CeRapiUninit();
    EndWizard();
    return false;
  }
  for (const std::string& name : ParseModuleList(text.data(), text.size())) {
    DeleteDeviceFile((std::string(kDeviceModuleFolder) + name).c_str());  // each result is ignored
  }
  return true;
}

}  // namespace wizard
