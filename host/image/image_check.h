// Checking a whole image file: the header read as the wizard reads it and
// the checksum summed over header bytes 0..17 and the whole payload, with no
// screens. The wizard checks an image this way before it sends it, and reads
// a backup back this way before it counts it as made; romwiz-image prints
// the same findings.
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

struct ImageCheck {
  bool opened = false;           // the file could be opened and read to its end
  bool headerRead = false;       // it holds a 32-byte header
  ImageHeaderRecord header;      // the fields as the wizard parses them
  std::uint16_t computed = 0;    // the sum over header bytes 0..17 and the payload
  bool storedValid = false;      // the checksum text is 1 to 4 hexadecimal digits
  std::uint16_t stored = 0;
  std::uint64_t payloadBytes = 0;
  std::vector<std::string> problems;  // empty when the image is sound

  bool Sound() const { return opened && problems.empty(); }
};

// Reads and checks the file at `path`. Problems named: a file that cannot be
// read, a header that does not parse (a field that is not plain text, an
// unknown language code, a version that is no number, a separator or
// checksum field out of place), a checksum that does not match the payload,
// and a payload that is not whole 256 KB blocks of at least 512 KB.
ImageCheck CheckImageFile(const char* path);

}  // namespace wizard
