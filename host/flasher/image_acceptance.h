// The checks an image passes before romwiz-flash sends a byte of it: the
// wizard's own (header, checksum, payload of whole 256 KB blocks of at least
// 512 KB) and, unless --force, the model and language the user named, which
// must equal the image's as the wizard compares them (without letter case).
#pragma once
#include <cstdint>
#include <string>

#include "flasher/command_line.h"

namespace flasher {

struct ImageVerdict {
  bool accepted = false;
  std::string report;          // why it was refused, lines ending in "\n"
  std::uint64_t fileSize = 0;  // header and payload
  std::string model, language, version;  // the image's, for the notes
};

ImageVerdict AcceptImage(const FlashOptions& options);

}  // namespace flasher
