#include "sim/soc/elf_image.h"

#include <fstream>
#include <iterator>

namespace soc {

namespace {

// ELF header fields (32-bit files).
constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kClass32 = 1;
constexpr uint8_t kLittleEndian = 1;
constexpr uint16_t kTypeExecutable = 2;
constexpr uint16_t kMachineArm = 40;
constexpr uint32_t kProgramLoad = 1;  // PT_LOAD
constexpr size_t kHeaderBytes = 52;
constexpr size_t kProgramHeaderBytes = 32;
constexpr size_t kSectionHeaderBytes = 40;
constexpr size_t kSymbolBytes = 16;
constexpr uint32_t kSectionSymbolTable = 2;  // SHT_SYMTAB

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

bool Fits(const std::vector<uint8_t>& file, uint64_t offset, uint64_t bytes) {
  return offset + bytes <= file.size();
}

// The NUL-terminated name at `at`, or empty when it runs off the file.
std::string NameAt(const std::vector<uint8_t>& file, size_t at) {
  std::string name;
  for (; at < file.size(); ++at) {
    if (file[at] == 0) return name;
    name.push_back(static_cast<char>(file[at]));
  }
  return {};
}

}  // namespace

bool FindElfSymbol(const std::vector<uint8_t>& file, const std::string& name, uint32_t& value) {
  if (!Fits(file, 0, kHeaderBytes)) return false;
  const uint32_t table = U32(file, 32);
  const uint16_t entrySize = U16(file, 46);
  const uint16_t count = U16(file, 48);
  if (entrySize < kSectionHeaderBytes || !Fits(file, table, uint64_t{entrySize} * count)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t section = table + size_t{i} * entrySize;
    if (U32(file, section + 4) != kSectionSymbolTable) continue;
    const uint32_t link = U32(file, section + 24);  // its string table's section
    if (link >= count) return false;
    const uint32_t strings = U32(file, table + size_t{link} * entrySize + 16);
    const uint32_t symbols = U32(file, section + 16), bytes = U32(file, section + 20);
    if (!Fits(file, symbols, bytes)) return false;
    for (uint64_t at = symbols; at + kSymbolBytes <= uint64_t{symbols} + bytes; at += kSymbolBytes) {
      if (NameAt(file, uint64_t{strings} + U32(file, at)) != name) continue;
      value = U32(file, at + 4);
      return true;
    }
  }
  return false;
}

std::string ParseElfImage(const std::vector<uint8_t>& file, ElfImage& image) {
  image = ElfImage{};
  if (!Fits(file, 0, kHeaderBytes) || !std::equal(kElfMagic, kElfMagic + 4, file.begin()))
    return "not an ELF file";
  if (file[4] != kClass32 || file[5] != kLittleEndian) return "not a 32-bit little-endian ELF file";
  if (U16(file, 16) != kTypeExecutable || U16(file, 18) != kMachineArm) return "not an ARM executable";
  image.entry = U32(file, 24);
  const uint32_t table = U32(file, 28);
  const uint16_t entrySize = U16(file, 42);
  const uint16_t count = U16(file, 44);
  if (entrySize < kProgramHeaderBytes || !Fits(file, table, uint64_t{entrySize} * count))
    return "damaged program header table";
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = table + size_t{i} * entrySize;
    if (U32(file, at) != kProgramLoad) continue;
    const uint32_t offset = U32(file, at + 4), address = U32(file, at + 8);
    const uint32_t fileBytes = U32(file, at + 16), memoryBytes = U32(file, at + 20);
    if (fileBytes > memoryBytes || !Fits(file, offset, fileBytes)) return "damaged segment";
    image.segments.push_back({address, memoryBytes,
                              std::vector<uint8_t>(file.begin() + offset, file.begin() + offset + fileBytes)});
  }
  if (image.segments.empty()) return "no loadable segment";
  uint32_t limit = 0, top = 0;
  if (FindElfSymbol(file, "__stack_limit", limit) && FindElfSymbol(file, "__stack_top", top) && limit < top) {
    image.stackLimit = limit;
    image.stackTop = top;
    uint32_t guard = 0;
    if (FindElfSymbol(file, "__stack_guard", guard) && guard < limit) image.stackGuard = guard;
  }
  return {};
}

std::string LoadElfImage(const std::string& path, ElfImage& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path;
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (std::string error = ParseElfImage(file, image); !error.empty()) return path + ": " + error;
  return {};
}

}  // namespace soc
