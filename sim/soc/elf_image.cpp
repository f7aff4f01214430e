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

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

bool Fits(const std::vector<uint8_t>& file, uint64_t offset, uint64_t bytes) {
  return offset + bytes <= file.size();
}

}  // namespace

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
