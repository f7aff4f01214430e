#include "image/image_file.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <cstring>

#include "base/bounded_text.h"
#include "platform/remote_api.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {

namespace {

constexpr int kCannotOpenImageScreen = 141;  // "ERROR 104: CANNOT OPEN ROM IMAGE FILE"

struct LanguageEntry {
  const char* code;
  const char* name;
};
constexpr LanguageEntry kLanguages[] = {
    {"ENG", "English"}, {"JPN", "Japanese"}, {"FRE", "French"},   {"GER", "German"},
    {"ITA", "Italian"}, {"SPA", "Spanish"},  {"CHT", "TChinese"}, {"CHS", "SChinese"},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Replaces a field's text whole with `length` header bytes.
template <std::size_t N>
void SetField(char (&field)[N], const std::uint8_t* bytes, std::size_t length) {
  static_assert(N > 0);
  if (length > N - 1) length = N - 1;
  std::memset(field, 0, N);
  std::memcpy(field, bytes, length);
}

// The error path shared by the reader and the size query.
void CannotOpenImage() {
  if (screens::ScreenSession* progress = ProgressScreen.load()) progress->Collapse();
  screens::ShowScreen(kCannotOpenImageScreen);
  EndWizard();
}

// Reads exactly `count` bytes unless the file ends or fails first.
std::size_t ReadFully(pc::File* file, std::uint8_t* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    long got = pc::ReadFile(file, buffer + done, count - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void ClearParsedFields(ImageHeaderRecord& record) {
  std::memset(record.ImageModelID, 0, sizeof record.ImageModelID);
  std::memset(record.ImageLang, 0, sizeof record.ImageLang);
  std::memset(record.ImageVersion, 0, sizeof record.ImageVersion);
  std::memset(record.ImageChecksumText, 0, sizeof record.ImageChecksumText);
  record.ImageVersionNumber = 0.0f;
}

}  // namespace

const char* LanguageForCode(const char* code) {
  for (const LanguageEntry& entry : kLanguages)
    if (EqualNoCase(code, entry.code)) return entry.name;
  return nullptr;
}

float VersionNumber(const char* text) {
  while (IsBlank(*text)) ++text;
  // from_chars reads like strtod in the C locale but takes no "+" sign.
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = (*text == '-');
    ++text;
  }
  // One sign only: from_chars would take a second "-" ("--1.4" is no number).
  if (*text == '+' || *text == '-') return 0.0f;
  double value = 0.0;
  auto result = std::from_chars(text, text + std::strlen(text), value);
  if (result.ec == std::errc::invalid_argument) return 0.0f;
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves `value` alone here; strtod gives infinity for a too
    // large exponent and zero for a too small one.
    const char* exponent = std::find_if(text, result.ptr, [](char c) { return c == 'e' || c == 'E'; });
    bool tiny = exponent != result.ptr && exponent[1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return static_cast<float>(negative ? -value : value);
}

void ParseImageHeader(const std::uint8_t (&header)[kImageHeaderSize], ImageHeaderRecord& record) {
  std::uint8_t work[kImageHeaderSize];
  std::memcpy(work, header, kImageHeaderSize);
  work[kImageHeaderSize - 1] = 0;  // the reader never looks past offset 30

  SetField(record.ImageModelID, work + kModelOffset, kModelLength);
  SetField(record.ImageLang, work + kLangOffset, kLangLength);
  SetField(record.ImageVersion, work + kVersionOffset, kVersionLength);
  record.ImageVersionNumber = VersionNumber(record.ImageVersion);

  // The first checksum character is always taken; the text ends after the
  // fourth or before a "-". The field is cleared first so that a shorter text
  // leaves no digit of an earlier parse behind.
  std::memset(record.ImageChecksumText, 0, sizeof record.ImageChecksumText);
  std::size_t n = 0;
  do {
    record.ImageChecksumText[n] = static_cast<char>(work[kChecksumOffset + n]);
    ++n;
  } while (n < kMaxChecksumDigits && work[kChecksumOffset + n] != kHeaderSeparator);

  if (const char* name = LanguageForCode(record.ImageLang))
    CopyTextTruncated(record.ImageLanguage, sizeof record.ImageLanguage, name);
}

int ReadImageHeader(const char* path) {
  pc::File* file = pc::OpenFile(path, pc::OpenMode::ReadShared);
  if (!file) {
    CannotOpenImage();
    return 0;
  }
  std::uint8_t header[kImageHeaderSize] = {};
  std::size_t got = ReadFully(file, header, kImageHeaderSize);
  pc::CloseFile(file);
  // A file shorter than its header is not an image: it is refused like a file
  // that cannot be opened, and the fields are emptied so that nothing of an
  // earlier parse (or of an unread buffer) can pass for this file's header.
  if (got < kImageHeaderSize) {
    ClearParsedFields(ImageHeader);
    CannotOpenImage();
    return 0;
  }
  ParseImageHeader(header, ImageHeader);
  return 1;
}

std::uint32_t GetImageFileSize(const char* path) {
  pc::File* file = pc::OpenFile(path, pc::OpenMode::ReadShared);
  std::uint64_t size = 0;
  bool ok = file && pc::FileSize(file, size);
  pc::CloseFile(file);
  if (!ok) {
    rapi::CeRapiUninit();
    screens::ShowScreen(kCannotOpenImageScreen);
    EndWizard();
    return 0;
  }
  return static_cast<std::uint32_t>(size);  // the low 32 bits, as the size query gives
}

std::uint16_t AddToChecksum(std::uint16_t sum, const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t total = sum;
  for (std::size_t i = 0; i < count; ++i) total += bytes[i];
  return static_cast<std::uint16_t>(total);
}

std::string ChecksumText(std::uint16_t sum) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[sum & 0xF]);
    sum = static_cast<std::uint16_t>(sum >> 4);
  } while (sum != 0);
  return text;
}

bool ParseChecksumText(const char* text, std::uint16_t& value) {
  // A header whose checksum field holds anything but hexadecimal digits is
  // rejected (reported as a checksum mismatch) rather than read with guessed
  // digit values: a damaged header must never let an image through.
  std::size_t length = BoundedLength(text, kMaxChecksumDigits + 1);
  if (length == 0 || length > kMaxChecksumDigits) return false;
  std::uint16_t result = 0;
  for (std::size_t i = 0; i < length; ++i) {
    int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    result = static_cast<std::uint16_t>((result << 4) | digit);
  }
  value = result;
  return true;
}

bool ChecksumMatches(const char* text, std::uint16_t sum) {
  std::uint16_t value = 0;
  return ParseChecksumText(text, value) && value == sum;
}

std::string FormatImageHeader(const char* model, const char* lang, const char* version,
                              std::uint16_t payloadSum) {
  // Each text is placed at its fixed offset, so that a model, code or version
  // of an unusual length can neither push the header past offset 31 (which
  // would overwrite the payload) nor shift the fields the reader takes from
  // fixed offsets: a shorter text is padded with NUL, which the reader takes
  // as its end, and a longer one is cut at its field's width. The checksum
  // covers header bytes 0..17 as written, the bytes the reader sums. With the
  // usual lengths of 9, 3 and 4 this is exactly "model-code-version-sum---".
  std::string header(kImageHeaderSize, kHeaderSeparator);
  auto place = [&](std::size_t offset, std::size_t width, const char* text) {
    std::size_t length = BoundedLength(text, width);
    header.replace(offset, width, std::string(width, '\0'));
    header.replace(offset, length, text, length);
  };
  place(kModelOffset, kModelLength, model);
  place(kLangOffset, kLangLength, lang);
  place(kVersionOffset, kVersionLength, version);
  std::uint16_t sum = AddToChecksum(payloadSum, header.data(), kSummedHeaderBytes);
  std::string digits = ChecksumText(sum);
  header.replace(kChecksumOffset, digits.size(), digits);
  return header;
}

std::string WriteImageHeader(pc::File* file, const char* model, const char* lang,
                             const char* version, std::uint16_t payloadSum) {
  std::string header = FormatImageHeader(model, lang, version, payloadSum);
  if (!pc::SeekFile(file, 0) || !pc::WriteFile(file, header.data(), header.size())) return {};
  return header;
}

std::string FormatVoidImageHeader(const char* model, const char* lang, const char* version) {
  std::string header = FormatImageHeader(model, lang, version, 0);
  header.replace(kChecksumOffset, kImageHeaderSize - kChecksumOffset, kImageHeaderSize - kChecksumOffset,
                 kHeaderSeparator);
  header.replace(kChecksumOffset, std::strlen(kVoidChecksumText), kVoidChecksumText);
  return header;
}

bool WriteVoidImageHeader(pc::File* file, const char* model, const char* lang, const char* version) {
  std::string header = FormatVoidImageHeader(model, lang, version);
  return pc::SeekFile(file, 0) && pc::WriteFile(file, header.data(), header.size());
}

}  // namespace wizard
