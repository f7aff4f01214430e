// Handheld file operations over the remote API: staging PC files on the
// handheld, deleting files and folders, creating folders, copying shortcuts
// and writing small text files. They run on whichever thread calls them (the
// GUI thread or the backup worker), always while a remote API connection is
// open, show nothing, and close every handle they open on every path.
//
// Handheld paths are 8-bit text built by the callers; each one is turned into
// UTF-16 with the ANSI code page (rapi::AnsiToDevicePath) before each remote
// call. A joined path that would not fit a handheld path (259 characters and
// its terminator) is refused as a failure instead of being cut.
#pragma once
#include <cstdint>

namespace wizard {

constexpr std::uint32_t kDevicePathCapacity = 260;  // MAX_PATH on the handheld
// Bytes copied per read when staging a PC file.
constexpr std::uint32_t kStageChunkBytes = 4096;
// The side folder an existing target is moved into before staging over it.
constexpr const char* kDeviceSideFolder = "\\Temp\\";

// Copies the PC file `pcPath` to the handheld as the hidden file `devicePath`.
// An existing target is replaced whole or not at all: the new contents are
// written beside it, then the target is moved aside to "\Temp\" + `fileName`
// (or, when that is the target itself, to a spare name deleted afterwards)
// and the new file takes its place. A failed staging leaves an existing
// target as it was and no partial file behind. Returns 1 on success, 0 on
// failure.
int StageFileOnDevice(const char* pcPath, const char* devicePath, const char* fileName);

// Deletes `folder` + `name` (the folder ends with "\") if that file exists;
// 0 when it does not exist (nothing is deleted) or the delete fails.
int DeleteFileInDeviceFolder(const char16_t* folder, const char* name);

// Deletes one file; non-zero on success.
int DeleteDeviceFile(const char* devicePath);

// Deletes every file (not sub-folders) in `devicePath`, then the folder.
// 0 as soon as a file cannot be deleted, else the folder removal's result.
int RemoveDeviceFolder(const char* devicePath);

// Creates a folder; non-zero on success.
int CreateDeviceFolder(const char* devicePath);

// Copies every "*.lnk" file of `fromFolder` into `toFolder`, leaving files
// that already exist there unchanged. -1 when `fromFolder` holds no shortcut,
// otherwise the result of closing the listing (non-zero on success).
int CopyDeviceShortcuts(const char* fromFolder, const char* toFolder);

// Creates or replaces `folder` + `name` holding the bytes of `text` (without
// its NUL); non-zero when the text was written.
int WriteShortcutInDeviceFolder(const char* folder, const char* name, const char* text);

// Creates or replaces `devicePath` holding the bytes of `text`; non-zero when
// the text was written.
int WriteDeviceTextFile(const char* devicePath, const char* text);

}  // namespace wizard
