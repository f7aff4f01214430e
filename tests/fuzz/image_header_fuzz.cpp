// The image header parser on arbitrary bytes. Besides the sanitizers, each
// input is checked against what the header format promises:
//   - every parsed field is terminated inside its record field;
//   - the two readers of a checksum text (the image file's and the
//     identification's) accept the same texts and read the same value;
//   - the version number is what the C library's decimal conversion gives;
//   - a header written for a model, code and version reads back to them, and
//     its checksum text matches the sum it was written for.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "checks/identify.h"
#include "image/image_file.h"

namespace {

constexpr std::size_t kLongestText = 64;  // texts given to the number and checksum readers

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "image header: %s: [%s]\n", what, detail.c_str());
  std::abort();
}

template <std::size_t N>
void CheckTerminated(const char (&field)[N], const char* name) {
  if (field[N - 1] != 0) Fail("field not terminated", name);
}

// The header's own bytes, as the wizard reads them from a file.
void CheckParsedHeader(const std::uint8_t* data) {
  std::uint8_t header[wizard::kImageHeaderSize];
  std::memcpy(header, data, sizeof header);
  wizard::ImageHeaderRecord record;
  wizard::ParseImageHeader(header, record);
  CheckTerminated(record.ImageModelID, "model");
  CheckTerminated(record.ImageLang, "language code");
  CheckTerminated(record.ImageVersion, "version");
  CheckTerminated(record.ImageChecksumText, "checksum text");
  CheckTerminated(record.ImageLanguage, "language");
  if (record.ImageChecksumText[0] != static_cast<char>(data[wizard::kChecksumOffset]))
    Fail("the first checksum character is not taken", record.ImageChecksumText);
}

// Differential: both readers of a checksum text agree on every text.
void CheckChecksumReaders(const char* text) {
  std::uint16_t fileValue = 0, identifyValue = 0;
  bool fileOk = wizard::ParseChecksumText(text, fileValue);
  bool identifyOk = wizard::ParseHexWord(text, identifyValue);
  if (fileOk != identifyOk || (fileOk && fileValue != identifyValue)) Fail("checksum readers disagree", text);
  if (fileOk && !wizard::ChecksumMatches(text, fileValue)) Fail("a read checksum does not match itself", text);
  // A text that reads is the written form of its value, up to case and
  // leading zeros.
  if (fileOk) {
    std::uint16_t again = 0;
    if (!wizard::ParseChecksumText(wizard::ChecksumText(fileValue).c_str(), again) || again != fileValue)
      Fail("checksum text does not read back", text);
  }
}

bool IsHexFloat(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  if (*text == '+' || *text == '-') ++text;
  return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Differential against strtod in the C locale. Hexadecimal numbers are left
// out: the version is read as a decimal number.
void CheckVersionNumber(const char* text) {
  if (IsHexFloat(text)) return;
  float ours = wizard::VersionNumber(text);
  float theirs = static_cast<float>(std::strtod(text, nullptr));
  bool same = (std::isnan(ours) && std::isnan(theirs)) || ours == theirs;
  if (!same || std::signbit(ours) != std::signbit(theirs)) Fail("version number differs from strtod", text);
}

// Writes a header for texts cut from the input and reads it back.
void CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kNeeded = wizard::kModelLength + wizard::kLangLength + wizard::kVersionLength + 2;
  if (size < kNeeded) return;
  auto text = [&](std::size_t at, std::size_t length) {
    std::string t(reinterpret_cast<const char*>(data) + at, length);
    return t.substr(0, t.find('\0'));
  };
  std::string model = text(0, wizard::kModelLength);
  std::string lang = text(wizard::kModelLength, wizard::kLangLength);
  std::string version = text(wizard::kModelLength + wizard::kLangLength, wizard::kVersionLength);
  std::uint16_t payloadSum = static_cast<std::uint16_t>(data[kNeeded - 2] | (data[kNeeded - 1] << 8));

  std::string header = wizard::FormatImageHeader(model.c_str(), lang.c_str(), version.c_str(), payloadSum);
  if (header.size() != wizard::kImageHeaderSize) Fail("written header is not 32 bytes", header);
  std::uint8_t bytes[wizard::kImageHeaderSize];
  std::memcpy(bytes, header.data(), sizeof bytes);
  wizard::ImageHeaderRecord record;
  wizard::ParseImageHeader(bytes, record);
  // A text shorter than its field is followed by "-" up to the field's end.
  auto padded = [](std::string t, std::size_t width) { return t + std::string(width - t.size(), '-'); };
  if (record.ImageModelID != padded(model, wizard::kModelLength)) Fail("model does not read back", header);
  if (record.ImageLang != padded(lang, wizard::kLangLength)) Fail("language code does not read back", header);
  if (record.ImageVersion != padded(version, wizard::kVersionLength)) Fail("version does not read back", header);
  std::uint16_t sum = wizard::AddToChecksum(payloadSum, bytes, wizard::kSummedHeaderBytes);
  if (!wizard::ChecksumMatches(record.ImageChecksumText, sum)) Fail("written checksum does not match", header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= wizard::kImageHeaderSize) CheckParsedHeader(data);

  char text[kLongestText + 1] = {};
  std::memcpy(text, data, size < kLongestText ? size : kLongestText);
  CheckChecksumReaders(text);
  CheckVersionNumber(text);
  char field[wizard::kVersionLength + 1] = {};  // the version as the header holds it
  std::memcpy(field, text, wizard::kVersionLength);
  CheckVersionNumber(field);
  if (const char* name = wizard::LanguageForCode(text)) {
    if (std::strlen(name) >= sizeof wizard::ImageHeaderRecord{}.ImageLanguage) Fail("language name too long", name);
  }

  CheckRoundTrip(data, size);
  return 0;
}
