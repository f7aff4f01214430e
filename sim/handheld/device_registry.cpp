#include "device_registry.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "wire/rapi_protocol.h"

namespace handheld {
namespace {

constexpr const char* kHeader = "REGEDIT4";

struct RootName {
  std::uint32_t handle;
  const char* name;
};
constexpr RootName kRoots[] = {{kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
                               {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
                               {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
                               {kHkeyUsers, "HKEY_USERS"}};

bool SameName(const std::string& a, const std::string& b) { return LowerAscii(a) == LowerAscii(b); }

// True when `path` is `ancestor` or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& ancestor) {
  if (path.size() < ancestor.size() || !SameName(path.substr(0, ancestor.size()), ancestor)) return false;
  return path.size() == ancestor.size() || path[ancestor.size()] == '\\';
}

// UTF-16LE bytes of `text` with its NUL: a REG_SZ value.
std::vector<std::uint8_t> SzBytes(const std::string& utf8) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// The text of a REG_SZ value that holds exactly one NUL, at its end; false
// for anything else (which is then written byte for byte).
bool PlainText(const RegValue& v, std::u16string& text) {
  if (v.type != kRegSz || v.data.size() < 2 || v.data.size() % 2) return false;
  text.clear();
  for (std::size_t i = 0; i + 2 < v.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    text += c;
  }
  return v.data[v.data.size() - 2] == 0 && v.data.back() == 0;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string FormatValue(const RegValue& v) {
  std::string line = v.name.empty() ? "@" : Quote(v.name);
  line += "=";
  std::u16string text;
  char buffer[16];
  if (PlainText(v, text)) return line + Quote(Utf16ToUtf8(text));
  if (v.type == kRegDword && v.data.size() == 4) {
    std::snprintf(buffer, sizeof buffer, "dword:%08x", rapi_get_u32(v.data.data()));
    return line + buffer;
  }
  if (v.type == kRegBinary) {
    line += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", v.type);
    line += buffer;
  }
  for (std::size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", v.data[i]);
    line += buffer;
  }
  return line;
}

// Reads a quoted text at `pos` (just after its opening quote); false when
// it does not end.
bool ReadQuoted(const std::string& line, std::size_t& pos, std::string& out) {
  out.clear();
  for (; pos < line.size(); ++pos) {
    if (line[pos] == '\\' && pos + 1 < line.size()) {
      out += line[++pos];
    } else if (line[pos] == '"') {
      ++pos;
      return true;
    } else {
      out += line[pos];
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
  out.clear();
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    const std::size_t start = item.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    unsigned value = 0;
    if (std::sscanf(item.c_str() + start, "%2x", &value) != 1) return false;
    out.push_back(static_cast<std::uint8_t>(value));
  }
  return true;
}

// `"name"=data` or `@=data`; false for a line that is neither.
bool ParseValue(const std::string& line, RegValue& v) {
  std::size_t pos = 0;
  if (line[0] == '@') {
    v.name.clear();
    pos = 1;
  } else if (line[0] != '"' || !ReadQuoted(line, ++pos, v.name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  const std::string data = line.substr(pos + 1);
  if (!data.empty() && data[0] == '"') {
    std::size_t at = 1;
    std::string text;
    if (!ReadQuoted(data, at, text)) return false;
    v.type = kRegSz;
    v.data = SzBytes(text);
    return true;
  }
  unsigned number = 0;
  if (data.compare(0, 6, "dword:") == 0 && std::sscanf(data.c_str() + 6, "%x", &number) == 1) {
    v.type = kRegDword;
    v.data.assign(4, 0);
    rapi_put_u32(v.data.data(), number);
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    v.type = kRegBinary;
    return ParseHexBytes(data.substr(4), v.data);
  }
  unsigned type = 0;
  int used = 0;
  if (std::sscanf(data.c_str(), "hex(%x):%n", &type, &used) == 1 && used > 0) {
    v.type = type;
    return ParseHexBytes(data.substr(static_cast<std::size_t>(used)), v.data);
  }
  return false;
}

// The file's logical lines: CR removed, "\" continuations joined.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string raw, pending;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (!pending.empty()) {
      const std::size_t start = raw.find_first_not_of(" \t");
      raw = start == std::string::npos ? std::string() : raw.substr(start);
    }
    pending += raw;
    if (!pending.empty() && pending.back() == '\\' && pending.find('=') != std::string::npos &&
        pending.find("=\"") == std::string::npos) {
      pending.pop_back();  // a hex list continues on the next line
      continue;
    }
    lines.push_back(pending);
    pending.clear();
  }
  if (!pending.empty()) lines.push_back(pending);
  return lines;
}

const char* RootOf(std::uint32_t handle) {
  for (const RootName& r : kRoots)
    if (r.handle == handle) return r.name;
  return nullptr;
}

// The path of a predefined key or of a key handle of the session.
bool KeyPath(const Session& s, std::uint32_t key, std::string& path) {
  if (const char* root = RootOf(key)) {
    path = root;
    return true;
  }
  const auto it = s.objects.find(key);
  if (it == s.objects.end() || it->second.kind != Session::Object::RegistryKey) return false;
  path = it->second.key;
  return true;
}

// `parent` + "\" + `subKey`; the sub-key must not begin with a backslash nor
// hold an empty component.
std::uint32_t JoinKey(const Session& s, std::uint32_t parent, const std::u16string& subKey, std::string& path) {
  if (!KeyPath(s, parent, path)) return RAPI_ERROR_INVALID_HANDLE;
  if (subKey.empty()) return 0;
  const std::string sub = Utf16ToUtf8(subKey);
  if (sub.front() == '\\' || sub.back() == '\\' || sub.find("\\\\") != std::string::npos) return RAPI_ERROR_BAD_PATHNAME;
  path += "\\" + sub;
  return 0;
}

std::uint32_t NewKeyHandle(Session& s, const std::string& path) {
  Session::Object o;
  o.kind = Session::Object::RegistryKey;
  o.key = path;
  const std::uint32_t handle = s.nextHandle++;
  s.objects[handle] = o;
  return handle;
}

}  // namespace

bool DeviceRegistry::Load(const std::string& file) {
  keys_.clear();
  std::ifstream in(file, std::ios::binary);
  if (!in) return true;  // no file yet: an empty registry
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<std::string> lines = LogicalLines(text);
  if (lines.empty() || lines[0] != kHeader) return false;
  RegKey* current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') {
      const std::string path = line.substr(1, line.size() - 2);
      CreateKey(path);
      current = FindKey(path);
      continue;
    }
    RegValue v;
    if (current && ParseValue(line, v)) Set(current->path, v);
  }
  return true;
}

std::string DeviceRegistry::Format() const {
  std::string text = std::string(kHeader) + "\r\n\r\n";
  for (const RegKey& k : keys_) {
    text += "[" + k.path + "]\r\n";
    for (const RegValue& v : k.values) text += FormatValue(v) + "\r\n";
    text += "\r\n";
  }
  return text;
}

bool DeviceRegistry::Save(const std::string& file) const {
  const std::string temporary = file + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << Format();
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), file.c_str()) == 0;
}

RegKey* DeviceRegistry::FindKey(const std::string& path) {
  for (RegKey& k : keys_)
    if (SameName(k.path, path)) return &k;
  return nullptr;
}

const RegKey* DeviceRegistry::FindKey(const std::string& path) const {
  for (const RegKey& k : keys_)
    if (SameName(k.path, path)) return &k;
  return nullptr;
}

bool DeviceRegistry::HasKey(const std::string& path) const {
  for (const RootName& r : kRoots)
    if (SameName(path, r.name)) return true;
  for (const RegKey& k : keys_)
    if (IsAtOrBelow(k.path, path)) return true;
  return false;
}

bool DeviceRegistry::CreateKey(const std::string& path) {
  if (FindKey(path)) return false;
  const bool existed = HasKey(path);
  keys_.push_back(RegKey{path, {}});
  return !existed;
}

const RegValue* DeviceRegistry::Find(const std::string& path, const std::string& name) const {
  const RegKey* k = FindKey(path);
  if (!k) return nullptr;
  for (const RegValue& v : k->values)
    if (SameName(v.name, name)) return &v;
  return nullptr;
}

void DeviceRegistry::Set(const std::string& path, const RegValue& value) {
  CreateKey(path);
  RegKey* k = FindKey(path);
  for (RegValue& v : k->values) {
    if (SameName(v.name, value.name)) {
      v.type = value.type;
      v.data = value.data;
      return;
    }
  }
  k->values.push_back(value);
}

std::string DeviceRegistry::Text(const RegValue& value) {
  std::u16string text;
  return PlainText(value, text) ? Utf16ToUtf8(text) : std::string();
}

std::uint32_t DeviceRegistry::Dword(const RegValue& value) {
  return value.type == kRegDword && value.data.size() == 4 ? rapi_get_u32(value.data.data()) : 0;
}

std::string RegistryPath(const std::string& folder) { return folder + "/registry.reg"; }

std::uint32_t RegOpenKey(Handheld& h, Session& s, std::uint32_t parent, const std::u16string& subKey,
                         std::uint32_t& handle) {
  std::string path;
  if (std::uint32_t error = JoinKey(s, parent, subKey, path)) return error;
  DeviceRegistry registry;
  if (!registry.Load(RegistryPath(h.Folder()))) return RAPI_ERROR_GEN_FAILURE;
  if (!registry.HasKey(path)) return RAPI_ERROR_FILE_NOT_FOUND;
  handle = NewKeyHandle(s, path);
  return 0;
}

std::uint32_t RegCreateKey(Handheld& h, Session& s, std::uint32_t parent, const std::u16string& subKey,
                           std::uint32_t& handle, std::uint32_t& disposition) {
  std::string path;
  if (std::uint32_t error = JoinKey(s, parent, subKey, path)) return error;
  DeviceRegistry registry;
  if (!registry.Load(RegistryPath(h.Folder()))) return RAPI_ERROR_GEN_FAILURE;
  disposition = kRegOpenedExistingKey;
  if (!registry.HasKey(path)) {
    registry.CreateKey(path);
    if (!registry.Save(RegistryPath(h.Folder()))) return RAPI_ERROR_GEN_FAILURE;
    disposition = kRegCreatedNewKey;
  }
  handle = NewKeyHandle(s, path);
  return 0;
}

std::uint32_t RegQueryValue(Handheld& h, Session& s, std::uint32_t key, const std::u16string& name,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) {
  std::string path;
  if (!KeyPath(s, key, path)) return RAPI_ERROR_INVALID_HANDLE;
  DeviceRegistry registry;
  if (!registry.Load(RegistryPath(h.Folder()))) return RAPI_ERROR_GEN_FAILURE;
  const RegValue* v = registry.Find(path, Utf16ToUtf8(name));
  if (!v) return RAPI_ERROR_FILE_NOT_FOUND;
  type = v->type;
  data = v->data;
  return 0;
}

std::uint32_t RegSetValue(Handheld& h, Session& s, std::uint32_t key, const std::u16string& name,
                          std::uint32_t type, const std::vector<std::uint8_t>& data) {
  std::string path;
  if (!KeyPath(s, key, path)) return RAPI_ERROR_INVALID_HANDLE;
  DeviceRegistry registry;
  if (!registry.Load(RegistryPath(h.Folder()))) return RAPI_ERROR_GEN_FAILURE;
  registry.Set(path, RegValue{Utf16ToUtf8(name), type, data});
  return registry.Save(RegistryPath(h.Folder())) ? 0 : RAPI_ERROR_GEN_FAILURE;
}

std::uint32_t RegCloseKey(Session& s, std::uint32_t key) {
  if (RootOf(key)) return 0;  // predefined keys are never really opened
  const auto it = s.objects.find(key);
  if (it == s.objects.end() || it->second.kind != Session::Object::RegistryKey) return RAPI_ERROR_INVALID_HANDLE;
  s.objects.erase(it);
  return 0;
}

}  // namespace handheld
