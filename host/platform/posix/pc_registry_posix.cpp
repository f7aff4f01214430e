// The PC registry on Linux: one store for HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE, kept as a REGEDIT4 text file at
// $XDG_CONFIG_HOME/romwiz/registry.reg (~/.config when the variable is unset),
// the format Windows users know from regedit:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Veltrom]
//   "Flash"=dword:00000001
//   "FlashFile"="/home/me/rom/English/lumo.nbf"
//   "ModelID"=hex(1):4c,55,4d,4f,...
//   @="default value"
//
// Strings that are stored as text plus one NUL are written "..." with \\ and
// \" escapes; strings stored without their NUL, with padding or with control
// characters are written hex(1): so that their exact bytes and size survive.
// Key and value names are compared case-insensitively and keep their case.
//
// The file is read again by every call, so users and scripts can edit it
// between runs (and while the wizard waits). Every change rewrites it through
// a temporary file in the same folder, flushed to disk and renamed over the
// old one: a crash leaves either the old or the new file, never half of one.
// Lines the reader does not understand are ignored and are not written back.
#include "platform/pc_registry.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace pcreg {

struct Key {
  std::string path;  // full path with its root, e.g. HKEY_CURRENT_USER\Software
  bool write;
};

namespace {

constexpr long kAccessDenied = 5;      // ERROR_ACCESS_DENIED
constexpr long kInvalidParameter = 87; // ERROR_INVALID_PARAMETER
constexpr long kBadDatabase = 1009;    // ERROR_BADDB: the store file cannot be read
constexpr long kWriteFault = 29;       // ERROR_WRITE_FAULT: the store file cannot be written
constexpr long kKeyDeleted = 1018;     // ERROR_KEY_DELETED

constexpr const char* kHeader = "REGEDIT4";
constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";
constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
constexpr std::uint32_t kTypeBinary = 3;  // REG_BINARY, written "hex:"
constexpr std::size_t kHexBytesPerLine = 20;

struct Value {
  std::string name;
  std::uint32_t type = kTypeString;
  std::string data;  // the bytes as stored
};

struct Section {
  std::string path;
  std::vector<Value> values;
};

struct Store {
  std::vector<Section> sections;  // in file order
};

std::mutex storeMutex;  // one reader or writer of the file at a time in this process

// --- names ------------------------------------------------------------------

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool IsBelow(const std::string& path, const std::string& ancestor) {
  return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
         SameName(path.substr(0, ancestor.size()), ancestor);
}

// Joins a root and a relative path; repeated and trailing backslashes dropped.
std::string FullPath(const std::string& base, const char* relative) {
  std::string path = base;
  std::string part;
  for (const char* c = relative ? relative : ""; ; ++c) {
    if (*c == '\\' || *c == 0) {
      if (!part.empty()) path += "\\" + part;
      part.clear();
      if (*c == 0) break;
    } else {
      part += *c;
    }
  }
  return path;
}

std::string RootName(Root root) { return root == Root::CurrentUser ? kCurrentUser : kLocalMachine; }

// regedit's short forms are accepted in a hand-edited file.
std::string CanonicalRoot(const std::string& path) {
  std::size_t end = path.find('\\');
  std::string root = path.substr(0, end);
  std::string rest = end == std::string::npos ? "" : path.substr(end);
  if (SameName(root, "HKCU") || SameName(root, kCurrentUser)) return kCurrentUser + rest;
  if (SameName(root, "HKLM") || SameName(root, kLocalMachine)) return kLocalMachine + rest;
  return {};
}

// --- the file ---------------------------------------------------------------

std::string StorePath() {
  std::string base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      struct passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/romwiz/registry.reg";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at text[pos] == '"'; pos ends after the quote.
bool ParseQuoted(const std::string& text, std::size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size()) c = text[++pos];
    out += c;
  }
  return false;  // no closing quote
}

bool ParseHexBytes(const std::string& text, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ',')) ++pos;
    if (pos >= text.size()) break;
    if (pos + 1 >= text.size()) return false;
    int high = HexValue(text[pos]), low = HexValue(text[pos + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    pos += 2;
  }
  return true;
}

// Parses the data part of a value line (after "=").
bool ParseData(const std::string& text, Value& value) {
  std::size_t pos = 0;
  if (!text.empty() && text[0] == '"') {
    std::string content;
    if (!ParseQuoted(text, pos, content)) return false;
    value.type = kTypeString;
    value.data = content + '\0';
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = text.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t number = 0;
    for (char c : digits) {
      int digit = HexValue(c);
      if (digit < 0) return false;
      number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    value.type = kTypeDword;
    value.data.assign(reinterpret_cast<const char*>(&number), sizeof number);  // little-endian host
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    value.type = kTypeBinary;
    return ParseHexBytes(text.substr(4), value.data);
  }
  if (text.compare(0, 4, "hex(") == 0) {
    std::size_t close = text.find("):", 4);
    if (close == std::string::npos || close == 4) return false;
    std::uint32_t type = 0;
    for (std::size_t i = 4; i < close; ++i) {
      int digit = HexValue(text[i]);
      if (digit < 0) return false;
      type = type * 16 + static_cast<std::uint32_t>(digit);
    }
    value.type = type;
    return ParseHexBytes(text.substr(close + 2), value.data);
  }
  return false;
}

// Joins regedit's continued lines (a trailing backslash) and drops CRs.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  bool continued = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (continued) {
      std::size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? "" : line.substr(first);
      current += line;
    } else {
      current = line;
    }
    continued = !current.empty() && current.back() == '\\' && current.find("=hex") != std::string::npos;
    if (continued) {
      current.pop_back();
    } else {
      lines.push_back(current);
    }
    start = end + 1;
  }
  if (continued) lines.push_back(current);
  return lines;
}

Section* FindSection(Store& store, const std::string& path) {
  for (Section& section : store.sections)
    if (SameName(section.path, path)) return &section;
  return nullptr;
}

void ParseValueLine(const std::string& line, Section& section) {
  Value value;
  std::size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, pos, value.name)) {
    return;
  }
  if (pos >= line.size() || line[pos] != '=') return;
  if (!ParseData(line.substr(pos + 1), value)) return;  // also "-" (a removal in an import file)
  for (Value& existing : section.values) {
    if (SameName(existing.name, value.name)) {
      existing = value;  // a later line wins, as in an import
      return;
    }
  }
  section.values.push_back(value);
}

// Reads the store. A missing file is an empty store; a file that is there but
// is not a REGEDIT4 file is an error, so that it is never overwritten.
long LoadStore(Store& store) {
  store.sections.clear();
  std::FILE* file = std::fopen(StorePath().c_str(), "rb");
  if (!file) return errno == ENOENT ? kSuccess : kBadDatabase;
  std::string text;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) return kBadDatabase;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // an editor's byte-order mark

  std::vector<std::string> lines = LogicalLines(text);
  std::size_t index = 0;
  while (index < lines.size() && lines[index].find_first_not_of(" \t") == std::string::npos) ++index;
  if (index >= lines.size()) return kSuccess;  // an empty file
  if (lines[index] != kHeader) return kBadDatabase;

  Section* current = nullptr;
  for (++index; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      std::size_t close = line.rfind(']');
      if (close == std::string::npos || line.compare(1, 1, "-") == 0) continue;
      std::string joined = FullPath("", line.substr(1, close - 1).c_str());  // "\ROOT\..."
      if (joined.empty()) continue;
      std::string path = CanonicalRoot(joined.substr(1));
      if (path.empty()) continue;
      current = FindSection(store, path);
      if (!current) {
        store.sections.push_back(Section{path, {}});
        current = &store.sections.back();
      }
      continue;
    }
    if (current) ParseValueLine(line, *current);
  }
  return kSuccess;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A string goes in quotes only when quoting gives back exactly its bytes.
bool QuotableString(const Value& value) {
  if (value.type != kTypeString || value.data.empty() || value.data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value.data[i]);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string HexLine(const std::string& prefix, const std::string& data) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = prefix;
  for (std::size_t i = 0; i < data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (i > 0) out += (i % kHexBytesPerLine == 0) ? ",\\\n  " : ",";
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string FormatValue(const Value& value) {
  std::string line = value.name.empty() ? "@=" : "\"" + Escaped(value.name) + "\"=";
  if (QuotableString(value))
    return line + "\"" + Escaped(value.data.substr(0, value.data.size() - 1)) + "\"";
  if (value.type == kTypeDword && value.data.size() == sizeof(std::uint32_t)) {
    std::uint32_t number;
    std::memcpy(&number, value.data.data(), sizeof number);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(number));
    return line + digits;
  }
  if (value.type == kTypeBinary) return HexLine(line + "hex:", value.data);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  return HexLine(line + prefix, value.data);
}

std::string FormatStore(const Store& store) {
  std::string text = std::string(kHeader) + "\n";
  for (const Section& section : store.sections) {
    text += "\n[" + section.path + "]\n";
    for (const Value& value : section.values) text += FormatValue(value) + "\n";
  }
  return text;
}

bool MakeFolders(const std::string& folder) {
  std::size_t pos = 0;
  while ((pos = folder.find('/', pos + 1)) != std::string::npos) {
    std::string part = folder.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Temporary file, flush, rename: the store file is replaced whole or not at all.
long SaveStore(const Store& store) {
  std::string path = StorePath();
  std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeFolders(folder)) return kWriteFault;
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return kWriteFault;
  ::fchmod(fd, 0644);
  bool ok = WriteAll(fd, FormatStore(store)) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return kWriteFault;
  }
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);  // makes the rename itself durable
    ::close(dir);
  }
  return kSuccess;
}

// A key exists when it has a section, when a key below it has one, or when
// it is a root.
bool KeyExists(const Store& store, const std::string& path) {
  if (path == kCurrentUser || path == kLocalMachine) return true;
  for (const Section& section : store.sections)
    if (SameName(section.path, path) || IsBelow(section.path, path)) return true;
  return false;
}

const Value* FindValue(const Store& store, const std::string& keyPath, const char* name) {
  std::string wanted = name ? name : "";
  for (const Section& section : store.sections) {
    if (!SameName(section.path, keyPath)) continue;
    for (const Value& value : section.values)
      if (SameName(value.name, wanted)) return &value;
  }
  return nullptr;
}

// Copies `data` to a caller's buffer with the registry's size rules.
long CopyOut(const std::string& data, void* buffer, std::uint32_t& size) {
  std::uint32_t capacity = size;
  size = static_cast<std::uint32_t>(data.size());
  if (!buffer) return kSuccess;  // a size query
  if (data.size() > capacity) return kMoreData;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return kSuccess;
}

}  // namespace

long OpenKey(Root root, const char* path, bool write, Key*& key) {
  key = nullptr;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  std::string full = FullPath(RootName(root), path);
  if (!KeyExists(store, full)) return kFileNotFound;
  key = new Key{full, write};
  return kSuccess;
}

long CreateKey(Root root, const char* path, Key*& key) {
  key = nullptr;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  std::string full = FullPath(RootName(root), path);
  if (!FindSection(store, full)) {
    store.sections.push_back(Section{full, {}});
    if (long result = SaveStore(store); result != kSuccess) return result;
  }
  key = new Key{full, true};
  return kSuccess;
}

void CloseKey(Key* key) { delete key; }

long QueryValue(Key* key, const char* name, std::uint32_t& type, void* data, std::uint32_t& size) {
  if (!key) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  if (!KeyExists(store, key->path)) return kKeyDeleted;
  const Value* value = FindValue(store, key->path, name);
  if (!value) return kFileNotFound;
  type = value->type;
  return CopyOut(value->data, data, size);
}

long SetValue(Key* key, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
  if (!key) return kInvalidParameter;
  if (!key->write) return kAccessDenied;
  if (!data && size > 0) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  if (!KeyExists(store, key->path)) return kKeyDeleted;
  Section* section = FindSection(store, key->path);
  if (!section) {
    store.sections.push_back(Section{key->path, {}});
    section = &store.sections.back();
  }
  Value value{name ? name : "", type, std::string(static_cast<const char*>(data), size)};
  bool replaced = false;
  for (Value& existing : section->values) {
    if (SameName(existing.name, value.name)) {
      existing.type = value.type;  // keeps the name's case and its place
      existing.data = value.data;
      replaced = true;
    }
  }
  if (!replaced) section->values.push_back(value);
  return SaveStore(store);
}

long EnumValue(Key* key, std::uint32_t index, char* name, std::uint32_t nameCapacity,
               std::uint32_t& type, void* data, std::uint32_t& size) {
  if (!key || !name) return kInvalidParameter;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  if (!KeyExists(store, key->path)) return kKeyDeleted;
  Section* section = FindSection(store, key->path);
  if (!section || index >= section->values.size()) return kNoMoreItems;
  const Value& value = section->values[index];
  if (value.name.size() + 1 > nameCapacity) return kMoreData;
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  type = value.type;
  return CopyOut(value.data, data, size);
}

long DeleteSubKey(Key* parent, const char* name) {
  if (!parent || !name || !*name) return kInvalidParameter;
  if (!parent->write) return kAccessDenied;
  std::lock_guard<std::mutex> lock(storeMutex);
  Store store;
  if (long result = LoadStore(store); result != kSuccess) return result;
  std::string full = FullPath(parent->path, name);
  if (!KeyExists(store, full)) return kFileNotFound;
  for (const Section& section : store.sections)
    if (IsBelow(section.path, full)) return kAccessDenied;  // it has sub-keys of its own
  std::vector<Section> kept;
  for (Section& section : store.sections)
    if (!SameName(section.path, full)) kept.push_back(std::move(section));
  store.sections = std::move(kept);
  return SaveStore(store);
}

}  // namespace pcreg
