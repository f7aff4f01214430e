// The string tables as the resource compiler built them into the program:
// every text of strings_*.def arrives as the same UTF-16 text (so the UTF-8
// sources were read as UTF-8), fits its slot in the ANSI code page a user of
// that language has, and a German catalogue loads German texts with the
// English-only slots filled in English.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace {

struct Source {
  int id;
  const char* utf8;
};

constexpr Source kSources[] = {
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

std::wstring Wide(const char* utf8) {
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &text[0], length);
  text.resize(text.size() - 1);
  return text;
}

std::wstring Compiled(int id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out the resource's own text.
  int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                           reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 && text != nullptr ? std::wstring(text, static_cast<std::size_t>(length)) : L"";
}

// The English slot a block's string fills, and the code page of its block.
int SlotOf(int id) {
  int block = id / 1000 * 1000;
  for (const wizard::SlotSpec& slot : wizard::CatalogueSlots())
    if (wizard::BlockStringId(slot.id, block) == id) return slot.id;
  return 0;
}
UINT CodePageOf(int id) {
  int block = id / 1000 * 1000;
  if (block == wizard::kSimplifiedChineseBlock) return 936;
  if (block == wizard::kTraditionalChineseBlock) return 950;
  return 1252;
}

TEST(StringTables, EveryTextIsCompiledAsWrittenAndFitsItsSlotInItsCodePage) {
  int checked = 0;
  for (const Source& source : kSources) {
    std::wstring compiled = Compiled(source.id);
    EXPECT_EQ(compiled, Wide(source.utf8)) << "string " << source.id;
    int slot = SlotOf(source.id);
    if (slot == 0) continue;  // in the table, loaded by no slot
    BOOL lost = FALSE;
    UINT codePage = CodePageOf(source.id);
    int bytes = WideCharToMultiByte(codePage, 0, compiled.c_str(), static_cast<int>(compiled.size()),
                                    nullptr, 0, nullptr, &lost);
    EXPECT_FALSE(lost) << "string " << source.id << " has characters code page " << codePage << " lacks";
    EXPECT_LE(bytes, wizard::SlotCapacity(slot) - 1) << "string " << source.id;
    ++checked;
  }
  EXPECT_EQ(checked, 130 + 6 * (130 - 14));
}

TEST(StringTables, AGermanCatalogueShowsGermanAndTheEnglishOnlyTextsInEnglish) {
  wizard::LoadTextCatalogueFor(0x0407, platform::LoadText);
  EXPECT_STREQ(wizard::Slot(11012), "Weiter");
  EXPECT_STREQ(wizard::Slot(11160),
               "Important: Please be sure to select the correct connection type. Making an "
               "incorrect selection may damage your Lumo Pocket PC.");
  EXPECT_STREQ(wizard::Slot(11035), " Microsoft Pocket PC 2002 Aktualisierungsprogramm - v 1.08");
  wizard::LoadTextCatalogueFor(0, platform::LoadText);
}

}  // namespace
