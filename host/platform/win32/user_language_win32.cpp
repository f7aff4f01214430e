// The user's language on Windows: ROMWIZ_LANGUAGE, else the user's
// interface language (GetUserDefaultUILanguage, Windows 2000 and later).
#include <windows.h>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace platform {

unsigned UserLanguageId() {
  constexpr DWORD kLongestValue = 32;  // "0x0407" or "1031", with room to spare
  char text[kLongestValue] = {};
  DWORD length = GetEnvironmentVariableA("ROMWIZ_LANGUAGE", text, kLongestValue);
  unsigned chosen = 0;
  if (length > 0 && length < kLongestValue && wizard::ParseLanguageId(text, chosen)) return chosen;
  return GetUserDefaultUILanguage();
}

}  // namespace platform
