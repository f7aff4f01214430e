// The Linux registry store (a REGEDIT4 text file) read from arbitrary bytes.
// The input is written as the store file; then every key it names is opened
// and its values enumerated and queried, one value is set (which rewrites the
// file) and a scratch key is created and deleted again.
//
// Checks besides the sanitizers:
//   - enumerating a key and querying each value by name give the same type
//     and bytes, and a too small buffer is refused with the size needed;
//   - rewriting the file keeps every value of every key as it was read (the
//     writer's output reads back to what the reader understood);
//   - a file that is not a REGEDIT4 file is refused and never overwritten.
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/pc_registry.h"

namespace {

constexpr std::size_t kMostKeys = 16;            // keys looked at per input
constexpr std::uint32_t kMostValues = 256;       // values enumerated per key
constexpr std::uint32_t kNameCapacity = 16384;   // as regedit allows
constexpr const char* kScratchKey = "FuzzScratchKey";
constexpr const char* kMarkerName = "FuzzMarkerValue";
constexpr long kBadDatabase = 1009;

[[noreturn]] void Fail(const std::string& what, const std::string& key) {
  std::fprintf(stderr, "registry store: %s (key %s)\n", what.c_str(), key.c_str());
  std::abort();
}

std::string StoreFile() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/registry-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot make a scratch folder", pattern);
    setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
    ::mkdir((pattern + "/romwiz").c_str(), 0755);
    static const std::string* scratch = new std::string(pattern);  // still there at exit
    std::atexit([] { std::system(("rm -rf '" + *scratch + "'").c_str()); });
    return pattern + "/romwiz/registry.reg";
  }();
  return path;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct KeyName {
  pcreg::Root root;
  std::string path;  // below the root
  bool operator<(const KeyName& o) const { return root != o.root ? root < o.root : path < o.path; }
};

// The keys the file's section lines name (roughly: the harness only needs
// names to ask for; the store decides what they mean), and the two the
// wizard uses.
std::vector<KeyName> NamedKeys(const std::string& text) {
  std::vector<KeyName> keys = {{pcreg::Root::CurrentUser, "Software\\Veltrom"},
                               {pcreg::Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services"}};
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line) && keys.size() < kMostKeys) {
    if (line.empty() || line[0] != '[') continue;
    std::string inside = line.substr(1, line.rfind(']') - 1);
    std::size_t slash = inside.find('\\');
    std::string root = inside.substr(0, slash);
    for (char& c : root) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string rest = slash == std::string::npos ? "" : inside.substr(slash + 1);
    if (root == "HKCU" || root == "HKEY_CURRENT_USER") keys.push_back({pcreg::Root::CurrentUser, rest});
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") keys.push_back({pcreg::Root::LocalMachine, rest});
  }
  return keys;
}

struct Value {
  std::uint32_t type;
  std::string data;
  bool operator==(const Value& o) const { return type == o.type && data == o.data; }
};
using Values = std::map<std::string, Value>;  // by name as enumerated

// Enumerates one key and cross-checks each value with a query by its name.
bool ReadKey(const KeyName& name, Values& values) {
  pcreg::Key* key = nullptr;
  if (pcreg::OpenKey(name.root, name.path.c_str(), false, key) != pcreg::kSuccess) return false;
  std::vector<char> nameBuffer(kNameCapacity);
  for (std::uint32_t index = 0; index < kMostValues; ++index) {
    std::uint32_t type = 0, size = 0;
    long result = pcreg::EnumValue(key, index, nameBuffer.data(), kNameCapacity, type, nullptr, size);
    if (result == pcreg::kNoMoreItems) break;
    if (result != pcreg::kSuccess) Fail("enumeration fails", name.path);
    std::string valueName = nameBuffer.data();
    std::string data(size, '\0');
    std::uint32_t got = size;
    if (pcreg::EnumValue(key, index, nameBuffer.data(), kNameCapacity, type, data.data(), got) != pcreg::kSuccess ||
        got != size)
      Fail("enumeration with the size it asked for fails", name.path);
    // A name with a NUL inside (it does not fit a buffer of its visible
    // length) cannot be asked for by name.
    std::uint32_t probeType = 0, probeSize = 0;
    bool wholeName = pcreg::EnumValue(key, index, nameBuffer.data(), static_cast<std::uint32_t>(valueName.size() + 1),
                                      probeType, nullptr, probeSize) == pcreg::kSuccess;
    if (wholeName) {
      std::uint32_t queriedType = 0, queriedSize = size;
      std::string queried(size, '\0');
      if (pcreg::QueryValue(key, valueName.c_str(), queriedType, queried.data(), queriedSize) != pcreg::kSuccess ||
          queriedType != type || queried != data)
        Fail("query and enumeration disagree on " + valueName, name.path);
      std::uint32_t small = size - 1;
      if (size > 0 && (pcreg::QueryValue(key, valueName.c_str(), queriedType, queried.data(), small) != pcreg::kMoreData ||
                       small != size))
        Fail("a too small buffer is not refused with the size needed", name.path);
    }
    values[valueName + '#' + std::to_string(index)] = Value{type, data};
  }
  pcreg::CloseKey(key);
  return true;
}

std::map<KeyName, Values> ReadAll(const std::vector<KeyName>& keys) {
  std::map<KeyName, Values> all;
  for (const KeyName& key : keys) {
    Values values;
    if (ReadKey(key, values)) all[key] = values;
  }
  return all;
}

void CheckKept(const std::map<KeyName, Values>& before, const std::map<KeyName, Values>& after, const char* step) {
  for (const auto& [key, values] : before) {
    if (strcasecmp(key.path.c_str(), kScratchKey) == 0) continue;
    auto it = after.find(key);
    if (it == after.end()) Fail(std::string("a key is lost by ") + step, key.path);
    for (const auto& [name, value] : values) {
      auto kept = it->second.find(name);
      if (kept == it->second.end() || !(kept->second == value))
        Fail(std::string("value ") + name + " changes by " + step, key.path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = StoreFile();
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  std::vector<KeyName> keys = NamedKeys(text);
  std::map<KeyName, Values> before = ReadAll(keys);

  pcreg::Key* scratch = nullptr;
  long created = pcreg::CreateKey(pcreg::Root::CurrentUser, kScratchKey, scratch);
  if (created == kBadDatabase) {
    if (ReadWhole(path) != text) Fail("a file that is not a registry file was overwritten", "");
    return 0;
  }
  if (created != pcreg::kSuccess) Fail("cannot create a key", kScratchKey);
  const char marker[] = "marker";
  if (pcreg::SetValue(scratch, kMarkerName, pcreg::kTypeString, marker, sizeof marker) != pcreg::kSuccess)
    Fail("cannot set a value", kScratchKey);
  pcreg::CloseKey(scratch);
  CheckKept(before, ReadAll(keys), "a rewrite");

  pcreg::Key* root = nullptr;
  if (pcreg::OpenKey(pcreg::Root::CurrentUser, "", true, root) != pcreg::kSuccess) Fail("cannot open the root", "");
  pcreg::DeleteSubKey(root, kScratchKey);  // refused when the file gave it sub-keys
  pcreg::CloseKey(root);
  CheckKept(before, ReadAll(keys), "a deletion");
  return 0;
}
