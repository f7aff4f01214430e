// The string tables compiled in from resources/strings_*.def (UTF-8), read
// with LoadStringA semantics: all seven language blocks, each under its own
// ids, as in the Windows program's resources.
#include <cstring>

#include "platform/text_resources.h"

namespace platform {
namespace {

struct Text {
  int id;
  const char* text;
};

constexpr Text kTexts[] = {
#define ROMWIZ_TEXT(id, text) {id, text},
#include "strings_en.def"
#include "strings_de.def"
#include "strings_fr.def"
#include "strings_it.def"
#include "strings_es.def"
#include "strings_zh_cn.def"
#include "strings_zh_tw.def"
#undef ROMWIZ_TEXT
};

const char* Find(int id) {
  for (const Text& entry : kTexts)
    if (entry.id == id) return entry.text;
  return nullptr;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

int LoadText(int id, char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  const char* text = Find(id);
  std::size_t length = text == nullptr ? 0 : std::strlen(text);
  std::size_t room = static_cast<std::size_t>(capacity) - 1;
  if (length > room) {
    // Cut where the buffer ends, but before a character that would not fit
    // whole: a UTF-8 text never ends in half a character.
    length = room;
    while (length > 0 && IsContinuationByte(text[length])) --length;
  }
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

}  // namespace platform
