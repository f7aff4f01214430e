#include "rom_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace handheld {
namespace {

struct LanguageName {
  const char* code;
  const char* folder;
};
constexpr LanguageName kLanguages[] = {
    {"ENG", "English"}, {"JPN", "Japanese"}, {"FRE", "French"},   {"GER", "German"},
    {"ITA", "Italian"}, {"SPA", "Spanish"},  {"CHT", "TChinese"}, {"CHS", "SChinese"},
};

// Identity block field offsets and widths (see the header).
constexpr std::size_t kMagicAt = 0, kModelAt = 8, kVersionAt = 24, kLanguageAt = 40;
constexpr std::size_t kModelWidth = 16, kVersionWidth = 16, kLanguageWidth = 4;
constexpr std::size_t kHeaderSummedBytes = 18;  // model, "-", code, "-", version

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void PutField(std::uint8_t* at, std::size_t width, const std::string& text) {
  std::memset(at, 0, width);
  std::memcpy(at, text.data(), std::min(text.size(), width - 1));
}

std::string GetField(const std::uint8_t* at, std::size_t width) {
  std::size_t n = 0;
  while (n < width && at[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(at), n);
}

// A small deterministic generator (xorshift32) seeded from the identity.
std::uint32_t Seed(const RomIdentity& identity) {
  std::uint32_t h = 2166136261u;
  for (const std::string* s : {&identity.modelId, &identity.version, &identity.language})
    for (unsigned char c : *s) h = (h ^ c) * 16777619u;
  return h ? h : 1;
}

void FillRandom(std::uint8_t* p, std::size_t n, std::uint32_t& state) {
  for (std::size_t i = 0; i < n; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    p[i] = static_cast<std::uint8_t>(state >> 24);
  }
}

}  // namespace

std::string ModelIdForModel(int model) {
  if (model == 5800) return "LUMO-5800";
  if (model == 5300) return "LUMO-5300";
  return {};
}

std::string LanguageFolderForCode(const std::string& code) {
  const std::string upper = Upper(code);
  for (const LanguageName& l : kLanguages)
    if (upper == l.code) return l.folder;
  return {};
}

std::string CheckIdentity(const RomIdentity& identity) {
  if (identity.modelId.empty() || identity.modelId.size() > 9) return "the model identifier must have 1 to 9 characters";
  if (identity.version.size() != 7) return "the version must have 7 characters, like 1.14.00";
  if (identity.language.size() != 3) return "the language code must have 3 letters, like ENG";
  // A model text may hold a blank inside ("LUMO 5800"), as a handheld's OEM
  // text may; the version and the code hold none.
  const std::string& model = identity.modelId;
  if (model.front() == ' ' || model.back() == ' ') return "the model identifier must not begin or end with a blank";
  for (unsigned char c : model)
    if (c < ' ' || c > '~') return "the model identifier must be printable ASCII";
  for (const std::string* s : {&identity.version, &identity.language})
    for (unsigned char c : *s)
      if (c <= ' ' || c > '~') return "the version and the language code must be printable ASCII without blanks";
  return {};
}

std::vector<std::uint8_t> MakeRomPayload(const RomIdentity& identity, std::uint32_t size) {
  if (size < kMinimumRomSize) size = kMinimumRomSize;
  size = (size + kBlockSize - 1) / kBlockSize * kBlockSize;
  std::vector<std::uint8_t> rom(size, 0xFF);
  std::uint32_t state = Seed(identity);
  FillRandom(rom.data(), kLoaderBlockOffset, state);  // boot block
  // The loader block stays erased (0xFF).
  FillRandom(rom.data() + kIdentityOffset, size - kIdentityOffset, state);
  std::uint8_t* block = rom.data() + kIdentityOffset;
  std::memset(block, 0, kIdentitySize);
  std::memcpy(block + kMagicAt, kIdentityMagic, 8);
  PutField(block + kModelAt, kModelWidth, identity.modelId);
  PutField(block + kVersionAt, kVersionWidth, identity.version);
  PutField(block + kLanguageAt, kLanguageWidth, identity.language);
  return rom;
}

bool ReadIdentity(const std::uint8_t* flash, std::size_t size, RomIdentity& identity) {
  if (size < kIdentityOffset + kIdentitySize) return false;
  const std::uint8_t* block = flash + kIdentityOffset;
  if (std::memcmp(block + kMagicAt, kIdentityMagic, 8) != 0) return false;
  identity.modelId = GetField(block + kModelAt, kModelWidth);
  identity.version = GetField(block + kVersionAt, kVersionWidth);
  identity.language = GetField(block + kLanguageAt, kLanguageWidth);
  return true;
}

bool ReadIdentityFromFile(const std::string& flashPath, RomIdentity& identity) {
  std::ifstream in(flashPath, std::ios::binary);
  if (!in) return false;
  in.seekg(kIdentityOffset);
  std::vector<std::uint8_t> block(kIdentityOffset + kIdentitySize, 0);
  if (!in.read(reinterpret_cast<char*>(block.data() + kIdentityOffset), kIdentitySize)) return false;
  return ReadIdentity(block.data(), block.size(), identity);
}

std::uint16_t ImageChecksum(const std::uint8_t* header18, const std::vector<std::uint8_t>& payload) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kHeaderSummedBytes; ++i) sum += header18[i];
  for (std::uint8_t b : payload) sum += b;
  return static_cast<std::uint16_t>(sum);
}

std::string MakeImageHeader(const RomIdentity& identity, const std::vector<std::uint8_t>& payload) {
  // The header fields have fixed widths: model 9, code 3, version 4.
  std::string model = identity.modelId;
  model.resize(9, ' ');
  std::string header = model + "-" + identity.language.substr(0, 3) + "-" + identity.version.substr(0, 4) + "-";
  char digits[8];
  std::snprintf(digits, sizeof digits, "%x",
                ImageChecksum(reinterpret_cast<const std::uint8_t*>(header.data()), payload));
  header += digits;
  header.resize(kImageHeaderSize, '-');
  return header;
}

bool WriteImageFile(const std::string& path, const RomIdentity& identity,
                    const std::vector<std::uint8_t>& payload) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  const std::string header = MakeImageHeader(identity, payload);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace handheld
