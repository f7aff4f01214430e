// The ROM a simulated handheld carries, and the .nbf image files that hold one.
//
// Flash layout of a generated ROM (payload offset = flash address):
//   0x00000..0x3FFFF  boot block (filler, never rewritten by a download)
//   0x40000..0x7FFFF  loader block (erased: a factory ROM has no loader)
//   0x80000..         operating-system part; it starts with the identity block
//
// Identity block at kIdentityOffset (0x80000), 48 bytes:
//   0   8  magic "LUMOROM1"
//   8  16  model identifier, ASCII, NUL-padded (e.g. "LUMO-5800")
//   24 16  ROM version string, ASCII, NUL-padded (e.g. "1.14.00")
//   40  4  language code, ASCII, NUL-padded (e.g. "ENG")
//   44  4  reserved, zero
// The handheld reads its identity back from here (CreateAssetFile.exe), so a
// flashed image changes what it reports.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace handheld {

constexpr std::uint32_t kBlockSize = 0x40000;          // one 256 KB flash unit block
constexpr std::uint32_t kLoaderBlockOffset = 0x40000;  // where the download loader lives
constexpr std::uint32_t kIdentityOffset = 0x80000;     // first byte of the OS part
constexpr std::uint32_t kIdentitySize = 48;
constexpr std::uint32_t kMinimumRomSize = 2 * kBlockSize;
constexpr std::uint32_t kImageHeaderSize = 32;
constexpr char kIdentityMagic[9] = "LUMOROM1";

struct RomIdentity {
  std::string modelId;   // at most 9 characters
  std::string version;   // 7 characters, e.g. "1.14.00"
  std::string language;  // 3-letter code, e.g. "ENG"
};

// "LUMO-5800" for 5800, "LUMO-5300" for 5300; empty for other models.
std::string ModelIdForModel(int model);
// Language folder name for a code ("ENG" -> "English"); empty when unknown.
std::string LanguageFolderForCode(const std::string& code);
// Empty when the identity can be written into a ROM and an image header;
// otherwise what is wrong with it.
std::string CheckIdentity(const RomIdentity& identity);

// A ROM of `size` bytes (whole 256 KB blocks, at least 512 KB) carrying
// `identity`; the filler is derived from the identity so that different ROMs
// differ in content and checksum.
std::vector<std::uint8_t> MakeRomPayload(const RomIdentity& identity, std::uint32_t size);
// Reads the identity block of a flash image; false when the block is missing.
bool ReadIdentity(const std::uint8_t* flash, std::size_t size, RomIdentity& identity);
bool ReadIdentityFromFile(const std::string& flashPath, RomIdentity& identity);

// 16-bit image checksum: header bytes 0..17 plus every payload byte.
std::uint16_t ImageChecksum(const std::uint8_t* header18, const std::vector<std::uint8_t>& payload);
// The 32-byte .nbf header: model (9), "-", code (3), "-", version (4), "-",
// checksum in lower-case hex without leading zeros, "-" up to 32 bytes.
std::string MakeImageHeader(const RomIdentity& identity, const std::vector<std::uint8_t>& payload);
// Writes header + payload; false on an I/O error.
bool WriteImageFile(const std::string& path, const RomIdentity& identity,
                    const std::vector<std::uint8_t>& payload);

}  // namespace handheld
