// Checking a whole image file: the header read as the wizard reads it and
// the checksum summed over header bytes 0..17 and the whole payload, with no
// screens. One rule decides whether an image is accepted (ImageAccepted):
// the wizard applies it before an upgrade and a restore send anything, the
// backup applies it to the file it wrote before it counts the backup as made,
// and romwiz-image verify applies it too, naming what it finds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/pc_files.h"
#include "image/image_file.h"

namespace wizard {

// The payload the transfer expects: whole 256 KB blocks, at least
// kMinimumPayload bytes (the boot block and the loader block).
constexpr std::uint32_t kImageBlockBytes = 0x40000;

// The checksum of an open image read from its start: header bytes 0..17,
// then every byte after the 32-byte header. False when the file holds fewer
// than 32 bytes or cannot be read to its end.
bool SumImage(pc::File* image, std::uint16_t& sum, std::uint64_t& payloadBytes);

// The rule: the stored checksum text is 1 to 4 hexadecimal digits equal to
// `computed` (header bytes 0..17 and the payload), and the payload holds at
// least the boot block and the loader block.
bool ImageAccepted(const ImageHeaderRecord& header, std::uint16_t computed, std::uint64_t payloadBytes);

// Reads `image` from its start and applies the rule; `payloadBytes` is set
// to the payload's size. False also when the file cannot be read to its end
// or holds no whole header.
bool ImageChecksumHolds(pc::File* image, std::uint64_t& payloadBytes);
// The same for the file at `path` (false when it cannot be opened).
bool ImageFileChecksumHolds(const char* path);

struct ImageCheck {
  bool opened = false;           // the file could be opened and read to its end
  bool headerRead = false;       // it holds a 32-byte header
  ImageHeaderRecord header;      // the fields as the wizard parses them
  std::uint16_t computed = 0;    // the sum over header bytes 0..17 and the payload
  bool storedValid = false;      // the checksum text is 1 to 4 hexadecimal digits
  std::uint16_t stored = 0;
  std::uint64_t payloadBytes = 0;
  bool accepted = false;         // ImageAccepted holds
  std::vector<std::string> problems;  // why it is not accepted; empty when it is
  std::vector<std::string> notes;     // oddities the rule does not refuse

  bool Sound() const { return opened && accepted; }
};

// Reads and checks the file at `path`. Problems (the rule): a file that
// cannot be read, a header shorter than 32 bytes, a checksum field that holds
// no hexadecimal number or one that does not match, a payload below 512 KB.
// Notes: a model or version field that is not plain text, an unknown
// language code, a version that is no number, a separator or checksum field
// out of place, a payload that is not whole 256 KB blocks.
ImageCheck CheckImageFile(const char* path);

}  // namespace wizard
