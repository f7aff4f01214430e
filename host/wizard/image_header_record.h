// The parsed header of the image in use, and the header's fixed layout. The
// screens show these fields, so the record lives with the wizard's state;
// the image file (image/image_file.h) reads and writes it.
#pragma once
#include <cstddef>

namespace wizard {

constexpr std::size_t kImageHeaderSize = 32;
constexpr std::size_t kModelOffset = 0, kModelLength = 9;
constexpr std::size_t kLangOffset = 10, kLangLength = 3;
constexpr std::size_t kVersionOffset = 14, kVersionLength = 4;
constexpr std::size_t kChecksumOffset = 19, kMaxChecksumDigits = 4;
// Header bytes 0..17 (model, separator, code, separator, version) are summed.
constexpr std::size_t kSummedHeaderBytes = 18;
constexpr char kHeaderSeparator = '-';

// The parsed header of the image in use; one record, overwritten by each parse.
struct ImageHeaderRecord {
  char ImageModelID[kModelLength + 1] = {};
  char ImageLang[kLangLength + 1] = {};
  char ImageVersion[kVersionLength + 1] = {};
  float ImageVersionNumber = 0.0f;
  char ImageChecksumText[kMaxChecksumDigits + 1] = {};
  char ImageLanguage[16] = {};  // language folder name; kept when the code is unknown
};

extern ImageHeaderRecord ImageHeader;
void ResetImageHeader();  // tests

}  // namespace wizard
