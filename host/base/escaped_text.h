// Bytes from a file shown to a person: printable ASCII as it is, every other
// byte as \xNN, so that a damaged header cannot put control sequences or
// half characters on the user's terminal.
#pragma once
#include <cstddef>
#include <string>

namespace wizard {

// `text` up to its first NUL, or `limit` bytes at most, escaped.
inline std::string EscapedText(const char* text, std::size_t limit = static_cast<std::size_t>(-1)) {
  constexpr unsigned char kFirstPrintable = 0x20, kLastPrintable = 0x7e;
  static const char kHexDigits[] = "0123456789abcdef";
  std::string shown;
  for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte >= kFirstPrintable && byte <= kLastPrintable) {
      shown += static_cast<char>(byte);
    } else {
      shown += "\\x";
      shown += kHexDigits[byte >> 4];
      shown += kHexDigits[byte & 0x0f];
    }
  }
  return shown;
}

inline std::string EscapedText(const std::string& text) {
  std::string shown;
  // Embedded NULs are bytes of the file too: show them instead of stopping.
  for (char c : text) shown += c == 0 ? std::string("\\x00") : EscapedText(&c, 1);
  return shown;
}

}  // namespace wizard
