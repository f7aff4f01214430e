#include "device_fs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "wire/rapi_protocol.h"

namespace fs = std::filesystem;

namespace handheld {
namespace {

constexpr const char* kAttributesFile = "attributes.txt";

std::vector<std::string> SplitDevicePath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The entry of `folder` whose name equals `name` without regard to case.
bool FindEntryName(const std::string& folder, const std::string& name, std::string& actual) {
  std::error_code ec;
  const std::string lower = LowerAscii(name);
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string candidate = entry.path().filename().string();
    if (LowerAscii(candidate) == lower) {
      actual = candidate;
      return true;
    }
  }
  return false;
}

bool ValidComponent(const std::string& part) {
  return part != "." && part != ".." && part.find('/') == std::string::npos &&
         part.find('\0') == std::string::npos;
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    std::uint32_t c = b;
    int extra = 0;
    if (b >= 0xF0) c = b & 0x07, extra = 3;
    else if (b >= 0xE0) c = b & 0x0F, extra = 2;
    else if (b >= 0xC0) c = b & 0x1F, extra = 1;
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = (c << 6) | (text[i] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  const std::string p = LowerAscii(pattern == "*.*" ? std::string("*") : pattern), n = LowerAscii(name);
  std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi, ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

DeviceFs::DeviceFs(std::string stateFolder)
    : stateFolder_(std::move(stateFolder)), root_(stateFolder_ + "/fs") {
  LoadAttributes();
}

std::uint32_t DeviceFs::Resolve(const std::u16string& path, ResolvedPath& out) const {
  const std::vector<std::string> parts = SplitDevicePath(Utf16ToUtf8(path));
  out = ResolvedPath{};
  out.host = root_;
  out.exists = true;
  out.isDirectory = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!ValidComponent(parts[i])) return RAPI_ERROR_INVALID_PARAMETER;
    std::string actual;
    const bool found = FindEntryName(out.host, parts[i], actual);
    const bool last = (i + 1 == parts.size());
    if (!found && !last) return RAPI_ERROR_PATH_NOT_FOUND;
    out.host += "/" + (found ? actual : parts[i]);
    out.key += (out.key.empty() ? "" : "/") + LowerAscii(parts[i]);
    if (!last) {
      if (!fs::is_directory(out.host)) return RAPI_ERROR_PATH_NOT_FOUND;
    } else {
      std::error_code ec;
      out.exists = found;
      out.isDirectory = found && fs::is_directory(out.host, ec);
    }
  }
  return 0;
}

std::uint32_t DeviceFs::Attributes(const ResolvedPath& path) const {
  const auto it = attributes_.find(path.key);
  std::uint32_t extra = it == attributes_.end() ? 0 : it->second;
  if (path.isDirectory) return kAttrDirectory | extra;
  return extra ? extra : kAttrArchive;
}

void DeviceFs::SetAttributes(const ResolvedPath& path, std::uint32_t attributes) {
  // Only what the host cannot show is kept: hidden, system, read-only.
  const std::uint32_t kept = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem);
  if (kept) attributes_[path.key] = kept | kAttrArchive;
  else attributes_.erase(path.key);
  SaveAttributes();
}

void DeviceFs::ForgetAttributes(const ResolvedPath& path) {
  if (attributes_.erase(path.key)) SaveAttributes();
}

void DeviceFs::MoveAttributes(const ResolvedPath& from, const ResolvedPath& to) {
  const auto it = attributes_.find(from.key);
  attributes_.erase(to.key);
  if (it != attributes_.end()) {
    const std::uint32_t value = it->second;
    attributes_.erase(it);
    attributes_[to.key] = value;
  }
  SaveAttributes();
}

std::uint32_t DeviceFs::Find(const std::u16string& pattern, std::vector<FindEntry>& entries) const {
  entries.clear();
  const std::size_t slash = pattern.rfind(u'\\');
  const std::u16string folder = slash == std::u16string::npos ? u"" : pattern.substr(0, slash);
  const std::string mask = Utf16ToUtf8(slash == std::u16string::npos ? pattern : pattern.substr(slash + 1));
  if (mask.empty()) return RAPI_ERROR_FILE_NOT_FOUND;
  ResolvedPath dir;
  if (std::uint32_t error = Resolve(folder, dir)) return error;
  if (!dir.exists || !dir.isDirectory) return RAPI_ERROR_PATH_NOT_FOUND;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir.host, ec)) {
    const std::string name = entry.path().filename().string();
    if (!WildcardMatch(mask, name)) continue;
    ResolvedPath item;
    item.host = entry.path().string();
    item.key = (dir.key.empty() ? "" : dir.key + "/") + LowerAscii(name);
    item.exists = true;
    item.isDirectory = entry.is_directory(ec);
    entries.push_back({name, Attributes(item), item.isDirectory ? 0 : entry.file_size(ec)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const FindEntry& a, const FindEntry& b) { return LowerAscii(a.name) < LowerAscii(b.name); });
  return entries.empty() ? RAPI_ERROR_FILE_NOT_FOUND : 0;
}

std::uint32_t DeviceFs::CreateDirectory(const std::u16string& path) {
  ResolvedPath p;
  if (std::uint32_t error = Resolve(path, p)) return error;
  if (p.exists) return RAPI_ERROR_ALREADY_EXISTS;
  return ::mkdir(p.host.c_str(), 0755) == 0 ? 0 : RAPI_ERROR_ACCESS_DENIED;
}

std::uint32_t DeviceFs::RemoveDirectory(const std::u16string& path) {
  ResolvedPath p;
  if (std::uint32_t error = Resolve(path, p)) return error;
  if (!p.exists) return RAPI_ERROR_FILE_NOT_FOUND;
  if (!p.isDirectory || p.key.empty()) return RAPI_ERROR_ACCESS_DENIED;
  std::error_code ec;
  if (!fs::is_empty(p.host, ec)) return RAPI_ERROR_DIR_NOT_EMPTY;
  if (::rmdir(p.host.c_str()) != 0) return RAPI_ERROR_ACCESS_DENIED;
  ForgetAttributes(p);
  return 0;
}

bool DeviceFs::CreateSkeleton() {
  std::error_code ec;
  for (const char* folder : {"", "/Windows", "/Temp", "/My Documents", "/Program Files"})
    fs::create_directories(root_ + folder, ec);
  return !ec;
}

void DeviceFs::LoadAttributes() {
  attributes_.clear();
  std::ifstream in(stateFolder_ + "/" + kAttributesFile);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    try {
      attributes_[line.substr(tab + 1)] = static_cast<std::uint32_t>(std::stoul(line.substr(0, tab), nullptr, 16));
    } catch (const std::exception&) {
      // A damaged line is dropped: the file then shows as a plain file.
    }
  }
}

void DeviceFs::SaveAttributes() const {
  const std::string path = stateFolder_ + "/" + kAttributesFile, temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const auto& [key, value] : attributes_) {
      char word[16];
      std::snprintf(word, sizeof word, "%x", value);
      out << word << '\t' << key << '\n';
    }
  }
  std::rename(temp.c_str(), path.c_str());
}

}  // namespace handheld
