// The agent's string table: the notice texts per language (serial and USB,
// with the 30/4 minute and 60/8 minute variants).
#pragma once
#include <stdint.h>

struct AgentString {
  uint32_t id;
  uint16_t language;  // Windows language id the text is stored under
  const char16_t* text;
};

// The text stored under an id, or null.
const AgentString* FindAgentString(uint32_t id);

// Language name matches: serial and USB text ids.
struct NoticeTextIds {
  uint32_t serial;
  uint32_t usb;
};
constexpr NoticeTextIds kEnglishTexts{3101, 3102};
constexpr NoticeTextIds kEnglishLongTexts{3103, 3104};
constexpr NoticeTextIds kFrenchTexts{3201, 3202};
constexpr NoticeTextIds kGermanTexts{3301, 3302};
constexpr NoticeTextIds kItalianTexts{3401, 3402};
constexpr NoticeTextIds kSpanishTexts{3501, 3502};
