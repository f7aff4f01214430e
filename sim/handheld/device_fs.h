// The handheld's file tree: the folder "fs" of the state folder. Handheld
// paths are UTF-16 with backslashes ("\Windows\nrvAssetData.dat"); names are
// matched without regard to letter case, as on Windows CE, and keep the case
// they were created with. File attributes the host file system cannot hold
// (hidden, system, read-only) are kept in "attributes.txt" beside "fs".
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace handheld {

constexpr std::uint32_t kAttrReadOnly = 0x1, kAttrHidden = 0x2, kAttrSystem = 0x4;
constexpr std::uint32_t kAttrDirectory = 0x10, kAttrArchive = 0x20, kAttrNormal = 0x80;

std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
std::string LowerAscii(std::string text);

struct ResolvedPath {
  std::string host;      // host path under fs/
  std::string key;       // lower-case path relative to fs/, "/"-separated: the attribute key
  bool exists = false;
  bool isDirectory = false;
};

struct FindEntry {
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
};

class DeviceFs {
 public:
  explicit DeviceFs(std::string stateFolder);

  const std::string& Root() const { return root_; }
  // 0 or a Win32 error: PATH_NOT_FOUND when a folder on the way is missing,
  // INVALID_PARAMETER for "." or ".." components or an empty name.
  std::uint32_t Resolve(const std::u16string& path, ResolvedPath& out) const;

  std::uint32_t Attributes(const ResolvedPath& path) const;
  void SetAttributes(const ResolvedPath& path, std::uint32_t attributes);
  void ForgetAttributes(const ResolvedPath& path);
  void MoveAttributes(const ResolvedPath& from, const ResolvedPath& to);

  // Entries of the pattern's folder whose names match its last component
  // ("*" and "?", "*.*" matches every name), sorted by name.
  std::uint32_t Find(const std::u16string& pattern, std::vector<FindEntry>& entries) const;

  std::uint32_t CreateDirectory(const std::u16string& path);
  std::uint32_t RemoveDirectory(const std::u16string& path);

  // Creates fs/ and the folders every handheld has.
  bool CreateSkeleton();

 private:
  void LoadAttributes();
  void SaveAttributes() const;

  std::string stateFolder_;
  std::string root_;
  std::map<std::string, std::uint32_t> attributes_;  // key -> attribute word
};

bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace handheld
