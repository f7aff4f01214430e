#include "handheld_files/device_files.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/pc_files.h"
#include "platform/remote_api.h"

namespace wizard {
namespace {

constexpr const char* kAllFiles = "\\*.*";
constexpr const char* kShortcutFiles = "\\*.lnk";
constexpr std::uint32_t kNoSharing = 0;
constexpr std::uint32_t kNoAttributes = 0;
// Beside an existing target while it is replaced: its new contents, and the
// old target when the side path is the target itself.
constexpr char16_t kFreshSuffix[] = u".new~";
constexpr char16_t kSpareSuffix[] = u".old~";

// The UTF-16 form of an 8-bit handheld path; false when it does not fit a
// handheld path.
bool ToDevicePath(const std::string& ansi, std::u16string& path) {
  path = rapi::AnsiToDevicePath(ansi.c_str());
  return path.size() < kDevicePathCapacity;
}

bool FitsDevicePath(const std::u16string& path) { return path.size() < kDevicePathCapacity; }

// The name of a listing entry, read no further than its field.
std::u16string EntryName(const rapi::FindData& data) {
  std::size_t length = 0;
  while (length < sizeof data.name / sizeof data.name[0] && data.name[length] != 0) ++length;
  return std::u16string(data.name, length);
}

bool IsPlainFolder(const rapi::FindData& data) { return data.attributes == rapi::kAttributeDirectory; }

// Writes all of `count` bytes; a short write counts as a failure.
bool WriteAll(rapi::Handle file, const void* data, std::uint32_t count) {
  std::uint32_t written = 0;
  return rapi::CeWriteFile(file, data, count, &written) && written == count;
}

// Step 4 of staging: copies the PC file into the handheld file in pieces.
bool CopyContents(pc::File* source, rapi::Handle target) {
  std::vector<std::uint8_t> buffer(kStageChunkBytes);
  for (;;) {
    long got = pc::ReadFile(source, buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(target, buffer.data(), static_cast<std::uint32_t>(got))) return false;
  }
}

// Paths compared as the handheld compares names: ASCII letters without
// regard to case.
bool SameDevicePath(const std::u16string& a, const std::u16string& b) {
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// Copies the PC file into a new handheld file at `path`; a copy that fails
// half-way is deleted, so no partial file stays behind.
bool StageNewFile(pc::File* source, const std::u16string& path, std::uint32_t disposition) {
  rapi::Handle file = rapi::CeCreateFile(path.c_str(), rapi::kGenericRead | rapi::kGenericWrite,
                                         rapi::kShareRead | rapi::kShareWrite, disposition,
                                         rapi::kAttributeHidden);
  if (file == rapi::kInvalidHandle) return false;
  bool copied = CopyContents(source, file);
  rapi::CeCloseHandle(file);
  if (!copied) rapi::CeDeleteFile(path.c_str());
  return copied;
}

// Step 3 of staging: the target exists. The new contents are written beside
// it first, and the target is swapped for them only once they are whole, so
// that a failed staging leaves the target as it was and a successful one
// replaces it whole. The old target goes to the side path "\Temp\" +
// `fileName`; when that is the target itself (the usual "\Temp\" + name),
// to a spare name that is deleted after the swap.
bool ReplaceExistingTarget(pc::File* source, const std::u16string& target, const char* fileName) {
  rapi::Handle existing = rapi::CeCreateFile(target.c_str(), rapi::kGenericRead, rapi::kShareRead,
                                             rapi::kOpenExisting, rapi::kAttributeHidden);
  if (existing == rapi::kInvalidHandle) return false;
  // The open only proves that the target is there and readable; it is closed
  // at once so that the move below is not refused by our own handle.
  rapi::CeCloseHandle(existing);

  std::u16string side, fresh = target + kFreshSuffix, spare = target + kSpareSuffix;
  if (!ToDevicePath(std::string(kDeviceSideFolder) + fileName, side) || !FitsDevicePath(fresh) ||
      !FitsDevicePath(spare))
    return false;
  bool sideIsTarget = SameDevicePath(side, target);
  const std::u16string& aside = sideIsTarget ? spare : side;
  if (!StageNewFile(source, fresh, rapi::kCreateAlways)) return false;
  rapi::CeDeleteFile(aside.c_str());  // an older copy may be in the way; a failure is ignored
  if (!rapi::CeMoveFile(target.c_str(), aside.c_str())) {
    rapi::CeDeleteFile(fresh.c_str());
    return false;
  }
  if (!rapi::CeMoveFile(fresh.c_str(), target.c_str())) {
    rapi::CeMoveFile(aside.c_str(), target.c_str());  // the old target back in its place
    rapi::CeDeleteFile(fresh.c_str());
    return false;
  }
  if (sideIsTarget) rapi::CeDeleteFile(spare.c_str());
  return true;
}

// Creates or replaces `path` with the bytes of `text`.
int WriteTextAt(const std::string& path, const char* text) {
  std::u16string devicePath;
  if (!ToDevicePath(path, devicePath)) return 0;
  rapi::Handle file = rapi::CeCreateFile(devicePath.c_str(), rapi::kGenericRead | rapi::kGenericWrite,
                                         kNoSharing, rapi::kCreateAlways, rapi::kAttributeNormal);
  if (file == rapi::kInvalidHandle) return 0;
  bool written = WriteAll(file, text, static_cast<std::uint32_t>(std::strlen(text)));
  rapi::CeCloseHandle(file);
  return written ? 1 : 0;
}

}  // namespace

int StageFileOnDevice(const char* pcPath, const char* devicePath, const char* fileName) {
  std::u16string target;
  if (!ToDevicePath(devicePath, target)) return 0;
  pc::File* source = pc::OpenFile(pcPath, pc::OpenMode::ReadShared);
  if (!source) return 0;
  bool staged = StageNewFile(source, target, rapi::kCreateNew);
  // CREATE_NEW fails on an existing target without touching it.
  if (!staged && pc::SeekFile(source, 0)) staged = ReplaceExistingTarget(source, target, fileName);
  pc::CloseFile(source);
  return staged ? 1 : 0;
}

int DeleteFileInDeviceFolder(const char16_t* folder, const char* name) {
  std::u16string path = std::u16string(folder) + rapi::AnsiToDevicePath(name);
  if (!FitsDevicePath(path)) return 0;
  rapi::Handle file =
      rapi::CeCreateFile(path.c_str(), rapi::kGenericRead, kNoSharing, rapi::kOpenExisting, kNoAttributes);
  if (file == rapi::kInvalidHandle) return 0;  // nothing to delete
  rapi::CeCloseHandle(file);
  return rapi::CeDeleteFile(path.c_str()) ? 1 : 0;
}

int DeleteDeviceFile(const char* devicePath) {
  std::u16string path;
  if (!ToDevicePath(devicePath, path)) return 0;
  return rapi::CeDeleteFile(path.c_str()) ? 1 : 0;
}

int RemoveDeviceFolder(const char* devicePath) {
  std::u16string folder, pattern;
  if (!ToDevicePath(devicePath, folder) || !ToDevicePath(std::string(devicePath) + kAllFiles, pattern)) return 0;
  rapi::FindData entry;
  rapi::Handle listing = rapi::CeFindFirstFile(pattern.c_str(), &entry);
  if (listing != rapi::kInvalidHandle) {
    do {
      if (IsPlainFolder(entry)) continue;
      std::u16string path = folder + u"\\" + EntryName(entry);
      if (!FitsDevicePath(path) || !rapi::CeDeleteFile(path.c_str())) {
        rapi::CeFindClose(listing);
        return 0;
      }
    } while (rapi::CeFindNextFile(listing, &entry));
    rapi::CeFindClose(listing);
  }
  return rapi::CeRemoveDirectory(folder.c_str()) ? 1 : 0;
}

int CreateDeviceFolder(const char* devicePath) {
  std::u16string path;
  if (!ToDevicePath(devicePath, path)) return 0;
  return rapi::CeCreateDirectory(path.c_str()) ? 1 : 0;
}

int CopyDeviceShortcuts(const char* fromFolder, const char* toFolder) {
  constexpr int kNoShortcuts = -1;
  std::u16string from, to, pattern;
  if (!ToDevicePath(fromFolder, from) || !ToDevicePath(toFolder, to) ||
      !ToDevicePath(std::string(fromFolder) + kShortcutFiles, pattern)) {
    return 0;
  }
  rapi::FindData entry;
  rapi::Handle listing = rapi::CeFindFirstFile(pattern.c_str(), &entry);
  if (listing == rapi::kInvalidHandle) return kNoShortcuts;
  do {
    if (IsPlainFolder(entry)) continue;
    std::u16string name = EntryName(entry);
    std::u16string source = from + u"\\" + name, target = to + u"\\" + name;
    // A failed copy is ignored: a shortcut already in the target folder stays as it is.
    if (FitsDevicePath(source) && FitsDevicePath(target)) rapi::CeCopyFile(source.c_str(), target.c_str(), true);
  } while (rapi::CeFindNextFile(listing, &entry));
  return rapi::CeFindClose(listing) ? 1 : 0;
}

int WriteShortcutInDeviceFolder(const char* folder, const char* name, const char* text) {
  return WriteTextAt(std::string(folder) + name, text);
}

int WriteDeviceTextFile(const char* devicePath, const char* text) { return WriteTextAt(devicePath, text); }

}  // namespace wizard
