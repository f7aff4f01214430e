// PC files on Linux. Paths arrive in the wizard's Windows form; a backslash
// is a folder separator here, so "C:" prefixes are not expected (the wizard
// builds its paths from the current folder).
#include "platform/pc_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace pc {

struct File {
  int fd;
};

namespace {

std::string NativePath(const char* path) {
  std::string native(path ? path : "");
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

// Creates `folder` and the folders above it that are missing.
bool CreateFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

File* OpenFile(const char* path, OpenMode mode) {
  std::string native = NativePath(path);
  if (native.empty()) return nullptr;
  int flags = O_RDONLY;
  if (mode == OpenMode::CreateAlways) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == OpenMode::Append) flags = O_WRONLY | O_CREAT | O_APPEND;
  int fd = ::open(native.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  // A folder is not a file to the wizard (CreateFileA refuses to open one).
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return new File{fd};
}

void CloseFile(File* file) {
  if (!file) return;
  ::close(file->fd);
  delete file;
}

long ReadFile(File* file, void* buffer, std::size_t count) {
  if (!file) return -1;
  for (;;) {
    ssize_t got = ::read(file->fd, buffer, count);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

bool WriteFile(File* file, const void* data, std::size_t count) {
  if (!file) return false;
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t done = ::write(file->fd, bytes, count);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

bool SeekFile(File* file, std::uint64_t offset) {
  return file && ::lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool FileSize(File* file, std::uint64_t& size) {
  struct stat info;
  if (!file || ::fstat(file->fd, &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool ListFolder(const char* folder, std::vector<DirEntry>& entries) {
  std::string native = NativePath(folder);
  DIR* dir = ::opendir(native.empty() ? "." : native.c_str());
  if (!dir) return false;
  entries.clear();
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirEntry item;
    item.name = name;
    struct stat info;
    if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0) {
      // Win32 attribute words: a folder is FILE_ATTRIBUTE_DIRECTORY alone,
      // a file FILE_ATTRIBUTE_NORMAL.
      item.attributes = S_ISDIR(info.st_mode) ? kAttributeDirectory : 0x80u;
      item.size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
    } else {
      item.attributes = 0x80u;  // a dangling link: listed like a file that cannot be opened
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return true;
}

bool FileExists(const char* path) {
  struct stat info;
  std::string native = NativePath(path);
  return !native.empty() && ::stat(native.c_str(), &info) == 0;
}

std::string CurrentFolder() {
  std::string buffer(4096, '\0');
  if (!::getcwd(buffer.data(), buffer.size())) return {};
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool FreeBytes(const char* path, std::uint64_t& bytes) {
  std::string native = NativePath(path);
  if (native.empty()) native = ".";
  struct statvfs info;
  // A file that does not exist yet (a backup about to be written) is
  // measured on its folder.
  while (::statvfs(native.c_str(), &info) != 0) {
    std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) {
      native = ".";
    } else if (slash == 0) {
      native = "/";
    } else {
      native.resize(slash);
      continue;
    }
    if (::statvfs(native.c_str(), &info) != 0) return false;
    break;
  }
  bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

bool RenameFile(const char* from, const char* to) {
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::string TransferLogPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::string folder;
  if (state != nullptr && state[0] == '/') {
    folder = std::string(state) + "/romwiz";
  } else if (home != nullptr && home[0] == '/') {
    folder = std::string(home) + "/.local/state/romwiz";
  } else {
    return {};
  }
  return CreateFolders(folder) ? folder + "/transfer.log" : std::string();
}

}  // namespace pc
