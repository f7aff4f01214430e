// The seven string-table blocks as the loaders read them: every id the
// catalogue asks for is there, each text fits its slot both as the Linux
// loader counts it (UTF-8 bytes) and as LoadStringA on Windows does (bytes
// in the block's ANSI code page, converted here with iconv), no block holds
// a stray id, and a catalogue loaded in any language has no blank slot.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace {

using namespace wizard;

struct Block {
  const char* name;
  int base;
  unsigned languageId;    // an identifier that selects the block
  const char* codePage;   // the ANSI code page Windows shows it in
};

constexpr Block kBlocks[] = {
    {"English", kEnglishBlock, 0x0409, "CP1252"},
    {"German", kGermanBlock, 0x0407, "CP1252"},
    {"French", kFrenchBlock, 0x040C, "CP1252"},
    {"Italian", kItalianBlock, 0x0410, "CP1252"},
    {"Spanish", kSpanishBlock, 0x0C0A, "CP1252"},
    {"Simplified Chinese", kSimplifiedChineseBlock, 0x0804, "CP936"},
    {"Traditional Chinese", kTraditionalChineseBlock, 0x0404, "CP950"},
};

// Slots whose texts exist in the English block only.
const std::set<int> kEnglishOnly = {11036, 11037, 11038, 11135, 11146, 11147, 11148,
                                    11149, 11150, 11155, 11156, 11159, 11160, 11166};
// In every block's table, but loaded by no slot.
constexpr int kUnloaded[] = {73, 105, 123};

constexpr int kLargeBuffer = 4096;

std::string Load(int id) {
  char buffer[kLargeBuffer];
  platform::LoadText(id, buffer, kLargeBuffer);
  return buffer;
}

// Bytes of `utf8` in `codePage`; -1 when a character has no place there
// (LoadStringA would show "?").
long CodePageLength(const std::string& utf8, const char* codePage) {
  iconv_t convert = iconv_open(codePage, "UTF-8");
  if (convert == reinterpret_cast<iconv_t>(-1)) return -2;
  std::vector<char> out(utf8.size() * 2 + 16);
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  std::size_t done = iconv(convert, &in, &inLeft, &outAt, &outLeft);
  iconv_close(convert);
  if (done == static_cast<std::size_t>(-1)) return -1;
  return static_cast<long>(out.size() - outLeft);
}

// The digits of a text in order ("ERROR 110", "about 60 minutes", step
// numbers): a translation must keep every one of them.
std::vector<std::string> Numbers(const std::string& text) {
  std::vector<std::string> numbers;
  std::string run;
  for (char c : text + ' ') {
    if (c >= '0' && c <= '9') { run += c; continue; }
    if (!run.empty()) numbers.push_back(run);
    run.clear();
  }
  return numbers;
}

TEST(StringBlocks, EverySlotIdIsPresentAndFitsAsBothLoadersCountIt) {
  for (const Block& block : kBlocks) {
    SCOPED_TRACE(block.name);
    for (const SlotSpec& slot : CatalogueSlots()) {
      int id = BlockStringId(slot.id, block.base);
      bool english = block.base == kEnglishBlock;
      EXPECT_EQ(id == 0, !english && kEnglishOnly.count(slot.id) == 1) << slot.id;
      if (id == 0) continue;
      std::string text = Load(id);
      ASSERT_FALSE(text.empty()) << "string " << id << " is missing";
      EXPECT_LE(text.size(), static_cast<std::size_t>(slot.capacity - 1))
          << "string " << id << " is " << text.size() << " UTF-8 bytes, slot " << slot.id
          << " holds " << slot.capacity - 1;
      long windowsBytes = CodePageLength(text, block.codePage);
      ASSERT_NE(windowsBytes, -2) << "no converter for " << block.codePage;
      EXPECT_GE(windowsBytes, 0) << "string " << id << " has characters " << block.codePage << " lacks";
      EXPECT_LE(windowsBytes, slot.capacity - 1)
          << "string " << id << " is " << windowsBytes << " bytes in " << block.codePage;
      EXPECT_EQ(Numbers(text), Numbers(Load(slot.id))) << "string " << id << ": " << text;
    }
    for (int offset : kUnloaded) EXPECT_FALSE(Load(block.base + offset).empty()) << offset;
  }
}

TEST(StringBlocks, NoBlockHoldsAnIdTheCatalogueDoesNotAskFor) {
  for (const Block& block : kBlocks) {
    SCOPED_TRACE(block.name);
    std::set<int> expected;
    for (const SlotSpec& slot : CatalogueSlots())
      if (int id = BlockStringId(slot.id, block.base)) expected.insert(id);
    for (int offset : kUnloaded) expected.insert(block.base + offset);
    std::set<int> present;
    for (int id = block.base; id < block.base + 1000; ++id)
      if (!Load(id).empty()) present.insert(id);
    EXPECT_EQ(present, expected);
  }
  EXPECT_TRUE(Load(16012).empty());  // no Japanese block
}

TEST(StringBlocks, EveryLanguageFillsEverySlotAndEnglishOnlySlotsShowEnglish) {
  for (const Block& block : kBlocks) {
    SCOPED_TRACE(block.name);
    LoadTextCatalogueFor(block.languageId, platform::LoadText);
    for (const SlotSpec& slot : CatalogueSlots()) {
      std::string shown = Slot(slot.id);
      EXPECT_FALSE(shown.empty()) << slot.id;
      if (kEnglishOnly.count(slot.id)) EXPECT_EQ(shown, Load(slot.id)) << slot.id;
      else EXPECT_EQ(shown, Load(BlockStringId(slot.id, block.base))) << slot.id;
    }
    // The title keeps its leading blank in every language.
    EXPECT_EQ(Slot(11035)[0], ' ');
  }
  LoadTextCatalogueFor(0x0407, platform::LoadText);
  EXPECT_STREQ(Slot(11012), "Weiter");
  EXPECT_STREQ(LanguageDisplayName("german"), "Deutsch");
  EXPECT_STREQ(Slot(11018), "Sichern");
  EXPECT_STREQ(Slot(11166), " Warning:");  // the banner of 166 stays English
  LoadTextCatalogueFor(0x0804, platform::LoadText);
  EXPECT_STREQ(Slot(11012), "\xE4\xB8\x8B\xE4\xB8\x80\xE6\xAD\xA5");  // 下一步
  EXPECT_STREQ(LanguageDisplayName("SChinese"), "\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87");
  LoadTextCatalogueFor(0, platform::LoadText);
}

}  // namespace
