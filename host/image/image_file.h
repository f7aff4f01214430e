// ROM image files (.nbf): a 32-byte text header, then the flash contents from
// address 0. Header layout (byte offsets):
//   0..8   model          9 ASCII characters
//   9      "-"
//   10..12 language code  3 letters ("ENG", "JPN", ...)
//   13     "-"
//   14..17 version        4 characters such as 1.41
//   18     "-"
//   19..   checksum       1 to 4 hexadecimal digits, most significant first,
//                         no leading zeros; then "-" up to offset 31
// The checksum is the 16-bit sum of header bytes 0..17 and every payload byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/pc_files.h"
#include "wizard/image_header_record.h"

namespace wizard {

// Payloads shorter than the boot block and the loader block are refused:
// before an upgrade and before anything is sent.
constexpr std::uint32_t kMinimumPayload = 0x80000;


// Parses the header of `path` into ImageHeader. Returns 1 on success. When
// the file cannot be opened or holds fewer than 32 bytes, it collapses the
// progress screen if one is open, shows "ERROR 104: CANNOT OPEN ROM IMAGE
// FILE", ends the wizard and returns 0.
int ReadImageHeader(const char* path);

// The file's size in bytes (low 32 bits). On failure: closes the remote API
// connection, shows "ERROR 104", ends the wizard and returns 0.
std::uint32_t GetImageFileSize(const char* path);

// Parses a 32-byte header held in memory into `record` (no screens).
// `ImageLanguage` is only replaced when the code is in the language table.
void ParseImageHeader(const std::uint8_t (&header)[kImageHeaderSize], ImageHeaderRecord& record);

// The version text read as a decimal number with the C locale's rules
// (leading blanks skipped, stops at the first character that cannot continue
// the number, 0 when nothing can be read), as a 32-bit float.
float VersionNumber(const char* text);

// Language table: the folder name for a three-letter code (case-insensitive);
// null for a code that is not in the table.
const char* LanguageForCode(const char* code);

// --- checksum ---------------------------------------------------------------
// Adds `count` unsigned bytes to a 16-bit running sum.
std::uint16_t AddToChecksum(std::uint16_t sum, const void* data, std::size_t count);
// Lower-case hexadecimal without leading zeros ("0" for a zero sum).
std::string ChecksumText(std::uint16_t sum);
// Reads a checksum text of 1 to 4 hexadecimal digits (either case). False for
// an empty text, a longer one or any other character: such a header is
// treated as a checksum mismatch, never guessed at.
bool ParseChecksumText(const char* text, std::uint16_t& value);
// True when `text` is a valid checksum text whose value equals `sum`.
bool ChecksumMatches(const char* text, std::uint16_t sum);

// --- writing (backups) --------------------------------------------------------
// The 32-byte header for a payload whose own sum is `payloadSum`: the model,
// code and version of the handheld at their fixed offsets (a shorter text
// NUL-padded to its field's width, a longer one cut), the checksum (over
// header bytes 0..17 as written and the payload) and "-" padding.
std::string FormatImageHeader(const char* model, const char* lang, const char* version,
                              std::uint16_t payloadSum);
// Seeks to offset 0 of `file` and writes FormatImageHeader's text. Returns the
// header text written, empty when the seek or the write failed.
std::string WriteImageHeader(pc::File* file, const char* model, const char* lang,
                             const char* version, std::uint16_t payloadSum);

// A header no check accepts, for a backup whose file did not read back as
// written: the handheld's model, code and version as usual, but the checksum
// field says "void" (no hexadecimal number), so the reader, romwiz-image and
// the wizard's image check all refuse the file while its data stays.
constexpr const char* kVoidChecksumText = "void";
std::string FormatVoidImageHeader(const char* model, const char* lang, const char* version);
// Seeks to offset 0 of `file` and writes FormatVoidImageHeader's text.
bool WriteVoidImageHeader(pc::File* file, const char* model, const char* lang, const char* version);

}  // namespace wizard

// Callers that name the image file's parts under `image::` reach the same
// declarations.
namespace image = wizard;
