#include "image/image_check.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace wizard {
namespace {

constexpr std::size_t kReadChunkBytes = 262144;
constexpr std::size_t kSeparatorOffsets[] = {kModelOffset + kModelLength, kLangOffset + kLangLength,
                                             kVersionOffset + kVersionLength};

bool Printable(std::uint8_t c) { return c > ' ' && c < 0x7F; }

// A field of printable characters, NUL-padded at its end at most (the writer
// pads a short model, code or version with NUL).
bool PlainField(const std::uint8_t* bytes, std::size_t length) {
  std::size_t used = 0;
  while (used < length && bytes[used] != 0) {
    if (!Printable(bytes[used])) return false;
    ++used;
  }
  if (used == 0) return false;
  for (std::size_t i = used; i < length; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// The checksum field: 1 to 4 characters, then "-" up to offset 31.
bool ChecksumFieldInPlace(const std::uint8_t (&header)[kImageHeaderSize], const char* text) {
  std::size_t digits = std::strlen(text);
  for (std::size_t i = kChecksumOffset + digits; i < kImageHeaderSize; ++i)
    if (header[i] != kHeaderSeparator) return false;
  return true;
}

// What the rule does not refuse but a careful reader wants to know.
void NoteHeader(const std::uint8_t (&header)[kImageHeaderSize], ImageCheck& check) {
  auto note = [&](const std::string& text) { check.notes.push_back(text); };
  if (!PlainField(header + kModelOffset, kModelLength)) note("the model field is not plain text");
  if (LanguageForCode(check.header.ImageLang) == nullptr)
    note(std::string("the language code \"") + check.header.ImageLang + "\" is not known");
  if (!PlainField(header + kVersionOffset, kVersionLength) || !(check.header.ImageVersionNumber > 0.0f))
    note("the version field is not a version number");
  for (std::size_t offset : kSeparatorOffsets)
    if (header[offset] != kHeaderSeparator) {
      note("the header has no \"-\" at offset " + std::to_string(offset));
      break;
    }
  if (check.storedValid && !ChecksumFieldInPlace(header, check.header.ImageChecksumText))
    note("the checksum field is not followed by \"-\" up to offset 31");
  if (check.payloadBytes % kImageBlockBytes != 0)
    note("the payload of " + std::to_string(check.payloadBytes) + " bytes is not a whole number of " +
         std::to_string(kImageBlockBytes) + "-byte blocks");
}

// Why the rule refuses the image, one line per reason.
void NameProblems(ImageCheck& check) {
  if (!check.storedValid) {
    check.problems.push_back("the checksum field holds no hexadecimal number");
  } else if (check.stored != check.computed) {
    char text[96];
    std::snprintf(text, sizeof text, "the stored checksum %s does not match the computed %s",
                  ChecksumText(check.stored).c_str(), ChecksumText(check.computed).c_str());
    check.problems.push_back(text);
  }
  if (check.payloadBytes < kMinimumPayload)
    check.problems.push_back("the payload of " + std::to_string(check.payloadBytes) + " bytes is less than " +
                             std::to_string(kMinimumPayload) + " (the boot block and the loader block)");
}

enum class ReadEnd { Whole, ShortHeader, Failed };

// Reads the header into `header` and sums the file as SumImage does.
ReadEnd ReadAndSum(pc::File* image, std::uint8_t (&header)[kImageHeaderSize], std::uint16_t& sum,
                   std::uint64_t& payloadBytes) {
  payloadBytes = 0;
  std::size_t got = 0;
  while (got < kImageHeaderSize) {
    long read = pc::ReadFile(image, header + got, kImageHeaderSize - got);
    if (read < 0) return ReadEnd::Failed;
    if (read == 0) return ReadEnd::ShortHeader;
    got += static_cast<std::size_t>(read);
  }
  sum = AddToChecksum(0, header, kSummedHeaderBytes);
  std::vector<std::uint8_t> buffer(kReadChunkBytes);
  for (;;) {
    long read = pc::ReadFile(image, buffer.data(), buffer.size());
    if (read < 0) return ReadEnd::Failed;
    if (read == 0) return ReadEnd::Whole;
    sum = AddToChecksum(sum, buffer.data(), static_cast<std::size_t>(read));
    payloadBytes += static_cast<std::uint64_t>(read);
  }
}

}  // namespace

bool SumImage(pc::File* image, std::uint16_t& sum, std::uint64_t& payloadBytes) {
  std::uint8_t header[kImageHeaderSize];
  return ReadAndSum(image, header, sum, payloadBytes) == ReadEnd::Whole;
}

bool ImageAccepted(const ImageHeaderRecord& header, std::uint16_t computed, std::uint64_t payloadBytes) {
  std::uint16_t stored = 0;
  return ParseChecksumText(header.ImageChecksumText, stored) && stored == computed &&
         payloadBytes >= kMinimumPayload;
}

bool ImageChecksumHolds(pc::File* image, std::uint64_t& payloadBytes) {
  std::uint8_t header[kImageHeaderSize] = {};
  std::uint16_t sum = 0;
  payloadBytes = 0;
  if (!pc::SeekFile(image, 0) || ReadAndSum(image, header, sum, payloadBytes) != ReadEnd::Whole) return false;
  ImageHeaderRecord record;
  ParseImageHeader(header, record);
  return ImageAccepted(record, sum, payloadBytes);
}

bool ImageFileChecksumHolds(const char* path) {
  pc::File* file = pc::OpenFile(path, pc::OpenMode::ReadShared);
  if (file == nullptr) return false;
  std::uint64_t payloadBytes = 0;
  bool holds = ImageChecksumHolds(file, payloadBytes);
  pc::CloseFile(file);
  return holds;
}

ImageCheck CheckImageFile(const char* path) {
  ImageCheck check;
  pc::File* file = pc::OpenFile(path, pc::OpenMode::ReadShared);
  if (file == nullptr) {
    check.problems.push_back("the file cannot be opened");
    return check;
  }
  std::uint8_t header[kImageHeaderSize] = {};
  ReadEnd end = ReadAndSum(file, header, check.computed, check.payloadBytes);
  pc::CloseFile(file);
  check.opened = end == ReadEnd::Whole;
  check.headerRead = end != ReadEnd::ShortHeader;
  if (end == ReadEnd::ShortHeader) check.problems.push_back("the file is shorter than its 32-byte header");
  if (end == ReadEnd::Failed) check.problems.push_back("the file cannot be read to its end");
  if (!check.opened) return check;
  ParseImageHeader(header, check.header);
  check.storedValid = ParseChecksumText(check.header.ImageChecksumText, check.stored);
  check.accepted = ImageAccepted(check.header, check.computed, check.payloadBytes);
  NameProblems(check);
  NoteHeader(header, check);
  return check;
}

}  // namespace wizard
