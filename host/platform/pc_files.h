// PC files seam: what the wizard needs of the PC's file system.
// Win32: the file API; Linux: POSIX. Paths are 8-bit text; on Linux a
// backslash in a path is taken as a folder separator.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pc {

struct File;  // an open PC file; opaque to the core

enum class OpenMode {
  ReadShared,      // read access, shared read, open existing
  CreateAlways,    // read and write access, no sharing, create or truncate
  Append,          // write access, shared read, open or create; every write goes to the end
};

File* OpenFile(const char* path, OpenMode mode);  // null on failure
void CloseFile(File* file);                        // null is ignored
// Reads up to `count` bytes; returns the number read (0 at the end) or -1 on error.
long ReadFile(File* file, void* buffer, std::size_t count);
// Writes `count` bytes; returns true only when all of them were written.
bool WriteFile(File* file, const void* data, std::size_t count);
bool SeekFile(File* file, std::uint64_t offset);
// The file's size in bytes; false when it cannot be read.
bool FileSize(File* file, std::uint64_t& size);

constexpr std::uint32_t kAttributeDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY

struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;  // Win32 attribute word
  std::uint64_t size = 0;
};
// Lists `folder` (without a pattern) in the order the file system gives, like
// FindFirstFileA/FindNextFileA on folder\*.*, "." and ".." excluded. False when
// the folder cannot be listed.
bool ListFolder(const char* folder, std::vector<DirEntry>& entries);

bool FileExists(const char* path);
// The process's current folder; empty on failure.
std::string CurrentFolder();
// Bytes available to the caller on the drive or file system that holds `path`.
bool FreeBytes(const char* path, std::uint64_t& bytes);
// Renames `from` to `to`, replacing a file already called `to`.
bool RenameFile(const char* from, const char* to);

// Where the transfer log is kept: "%TEMP%\romwiz-transfer.log" on Windows;
// "$XDG_STATE_HOME/romwiz/transfer.log" on Linux, else
// "~/.local/state/romwiz/transfer.log" (the folder is created when missing).
// Empty when there is no such place.
std::string TransferLogPath();

}  // namespace pc
