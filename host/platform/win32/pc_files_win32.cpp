// PC files seam on Windows: the Win32 file API with 8-bit ("A") paths.
#include "platform/pc_files.h"

#include <windows.h>

namespace pc {

struct File {
  HANDLE handle;
};

File* OpenFile(const char* path, OpenMode mode) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (mode == OpenMode::ReadShared) {
    handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  } else if (mode == OpenMode::Append) {
    // Append-only access: every write lands at the end of the file.
    handle = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return new File{handle};
}

void CloseFile(File* file) {
  if (file == nullptr) return;
  CloseHandle(file->handle);
  delete file;
}

long ReadFile(File* file, void* buffer, std::size_t count) {
  // One ReadFile call moves at most a DWORD's worth; callers read in pieces
  // far below that, but a larger request is cut rather than wrapped.
  DWORD wanted = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
  DWORD read = 0;
  if (!::ReadFile(file->handle, buffer, wanted, &read, nullptr)) return -1;
  return static_cast<long>(read);
}

bool WriteFile(File* file, const void* data, std::size_t count) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    DWORD piece = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(file->handle, bytes, piece, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool SeekFile(File* file, std::uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(file->handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  // 0xFFFFFFFF is also a valid low word: only GetLastError tells a failure.
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool FileSize(File* file, std::uint64_t& size) {
  DWORD high = 0;
  DWORD low = GetFileSize(file->handle, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  size = (static_cast<std::uint64_t>(high) << 32) | low;
  return true;
}

bool ListFolder(const char* folder, std::vector<DirEntry>& entries) {
  entries.clear();
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += "*.*";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.attributes = data.dwFileAttributes;
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entries.push_back(entry);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

bool FileExists(const char* path) {
  // The backup screen asks the way the file dialog's owner would:
  // FindFirstFileA succeeds for an existing name.
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

std::string CurrentFolder() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

bool FreeBytes(const char* path, std::uint64_t& bytes) {
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExA(path, &available, &total, &free)) return false;
  bytes = available.QuadPart;
  return true;
}

bool RenameFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string TransferLogPath() {
  char folder[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof folder, folder);  // ends with a backslash
  if (length == 0 || length >= sizeof folder) return std::string();
  return std::string(folder, length) + "romwiz-transfer.log";
}

}  // namespace pc
