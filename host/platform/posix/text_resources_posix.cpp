// The English string table compiled in from resources/strings_en.def, read
// with LoadStringA semantics.
#include <cstring>

#include "platform/text_resources.h"

namespace platform {
namespace {

struct Text {
  int id;
  const char* text;
};

constexpr Text kEnglishTexts[] = {
#define ROMWIZ_TEXT(id, text) {id, text},
#include "strings_en.def"
#undef ROMWIZ_TEXT
};

const char* Find(int id) {
  for (const Text& entry : kEnglishTexts)
    if (entry.id == id) return entry.text;
  return nullptr;
}

}  // namespace

int LoadText(int id, char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  const char* text = Find(id);
  std::size_t length = text == nullptr ? 0 : std::strlen(text);
  std::size_t room = static_cast<std::size_t>(capacity) - 1;
  if (length > room) length = room;  // cut where the buffer ends
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

}  // namespace platform
