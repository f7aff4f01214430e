// Language blocks of the string tables, display names and duration groups.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace {

using namespace wizard;

TEST(LanguageBlockFor, ListedIdentifiersSelectTheirBlocksAndEverythingElseEnglish) {
  const std::map<unsigned, int> listed = {
      {0x0407, kGermanBlock},  {0x0807, kGermanBlock},  {0x0C07, kGermanBlock},
      {0x1007, kGermanBlock},  {0x1407, kGermanBlock},  {0x040C, kFrenchBlock},
      {0x080C, kFrenchBlock},  {0x0C0C, kFrenchBlock},  {0x100C, kFrenchBlock},
      {0x140C, kFrenchBlock},  {0x180C, kFrenchBlock},  {0x0410, kItalianBlock},
      {0x0810, kItalianBlock}, {0x0404, kTraditionalChineseBlock},
      {0x1004, kTraditionalChineseBlock}, {0x1404, kTraditionalChineseBlock},
      {0x0804, kSimplifiedChineseBlock},  {0x0C04, kSimplifiedChineseBlock}};
  for (auto [id, block] : listed) EXPECT_EQ(LanguageBlockFor(id), block) << std::hex << id;
  // 0 is what the loader is always given; the others are near misses.
  for (unsigned id : {0x0000u, 0x0409u, 0x0809u, 0x0411u, 0x1807u, 0x1C0Cu, 0x0C10u, 0x0007u,
                      0x000Au, 0x540Au, 0x0412u, 0x1804u})
    EXPECT_EQ(LanguageBlockFor(id), kEnglishBlock) << std::hex << id;
}

TEST(LanguageBlockFor, EverySpanishSubLanguageUpTo500A) {
  int count = 0;
  for (unsigned id = 0x040A; id <= 0x500A; id += 0x0400, ++count)
    EXPECT_EQ(LanguageBlockFor(id), kSpanishBlock) << std::hex << id;
  EXPECT_EQ(count, 20);
  EXPECT_EQ(LanguageBlockFor(0x0C0A), kSpanishBlock);  // modern sort, the table's own language
}

TEST(BlockStringId, MovesIdsByBlockWithTheThreeExceptions) {
  EXPECT_EQ(BlockStringId(11012, kEnglishBlock), 11012);
  EXPECT_EQ(BlockStringId(11012, kGermanBlock), 12012);
  EXPECT_EQ(BlockStringId(11134, kTraditionalChineseBlock), 18134);
  EXPECT_EQ(BlockStringId(11018, kGermanBlock), 12032);  // "Backup"
  EXPECT_EQ(BlockStringId(11018, kSpanishBlock), 15032);
  EXPECT_EQ(BlockStringId(11018, kEnglishBlock), 11018);
  EXPECT_EQ(BlockStringId(11019, kFrenchBlock), 13138);  // "Normal reset"
  EXPECT_EQ(BlockStringId(11138, kItalianBlock), 14139);  // language names
  EXPECT_EQ(BlockStringId(11145, kSimplifiedChineseBlock), 17146);
  EXPECT_EQ(BlockStringId(11073, kEnglishBlock), 0);       // not a slot
}

TEST(BlockStringId, EnglishOnlySlotsHaveNoTextInOtherBlocks) {
  for (int id : {11036, 11037, 11038, 11135, 11146, 11147, 11148, 11149, 11150, 11155, 11156,
                 11159, 11160, 11166}) {
    EXPECT_EQ(BlockStringId(id, kEnglishBlock), id);
    EXPECT_EQ(BlockStringId(id, kGermanBlock), 0) << id;
    EXPECT_EQ(BlockStringId(id, kTraditionalChineseBlock), 0) << id;
  }
  // Every other slot lands inside its block's range 010..146.
  for (const SlotSpec& slot : CatalogueSlots()) {
    int id = BlockStringId(slot.id, kFrenchBlock);
    if (id != 0) {
      EXPECT_GE(id, 13010) << slot.id;
      EXPECT_LE(id, 13146) << slot.id;
    }
  }
}

std::map<int, int> asked;  // string id -> capacity
// Answers "de<id>" for the German block and "en<id>" for the English one;
// string 12012 is missing, as a string of an incomplete block would be.
int GermanLoader(int id, char* buffer, int capacity) {
  asked[id] = capacity;
  std::string text = id == 12012 ? "" : (id >= kGermanBlock ? "de" : "en") + std::to_string(id);
  std::snprintf(buffer, static_cast<std::size_t>(capacity), "%s", text.c_str());
  return static_cast<int>(text.size());
}

TEST(LoadTextCatalogueFor, GermanFillsFromItsBlockAndTheEnglishBlockStandsInForTheRest) {
  asked.clear();
  LoadTextCatalogueFor(0x0407, GermanLoader);
  EXPECT_STREQ(Slot(11018), "de12032");
  EXPECT_STREQ(Slot(11140), "de12141");
  EXPECT_STREQ(Slot(11035), "de12035");
  // English-only slots are never blank: the red note of 158, the texts of 161.
  for (int id : {11160, 11037, 11038, 11135, 11166}) {
    EXPECT_EQ(Slot(id), "en" + std::to_string(id));
    EXPECT_EQ(asked.count(id + 1000), 0u) << id;  // and their German ids are not asked for
    EXPECT_EQ(asked[id], SlotCapacity(id));
  }
  EXPECT_STREQ(Slot(11012), "en11012");  // missing from the block
  EXPECT_EQ(asked.size(), 116u + 15u);  // the German ids, then 14 + 1 English stand-ins
  // The English block is read alone.
  asked.clear();
  LoadTextCatalogueFor(0, GermanLoader);
  EXPECT_EQ(asked.size(), 130u);
  EXPECT_STREQ(Slot(11012), "en11012");
  LoadTextCatalogueFor(0, platform::LoadText);
}

TEST(LanguageDisplayName, FolderNamesMapToTheirSlotsWhateverTheirCase) {
  LoadTextCatalogueFor(0, platform::LoadText);
  const std::map<std::string, std::string> names = {
      {"French", "French"},     {"FRENCH", "French"},
      {"german", "German"},     {"Italian", "Italian"},
      {"spanish", "Spanish"},   {"Japanese", "Japanese"},
      {"jAPANESE", "Japanese"}, {"TChinese", "Traditional Chinese"},
      {"schinese", "Simplified Chinese"}, {"English", "English"},
      {"", "English"},          {"Korean", "English"},
      {"Frenchy", "English"},   {"Chinese", "English"}};
  for (const auto& [folder, shown] : names) EXPECT_EQ(LanguageDisplayName(folder.c_str()), shown) << folder;
  EXPECT_STREQ(LanguageDisplayName(nullptr), "English");
  EXPECT_EQ(LanguageNameSlot("SChinese"), 11144);
}

TEST(ShortDurationGroup, TheFiveEuropeanLanguagesOnly) {
  for (const char* language : {"English", "french", "GERMAN", "Italian", "spanish"})
    EXPECT_TRUE(IsShortDurationLanguage(language)) << language;
  for (const char* language : {"Japanese", "TChinese", "SChinese", "", "Englis", "Korean"})
    EXPECT_FALSE(IsShortDurationLanguage(language)) << language;
  EXPECT_FALSE(IsShortDurationLanguage(nullptr));
}

TEST(ChooseDurationSlot, ByLanguageGroupAndConnection) {
  EXPECT_EQ(ChooseDurationSlot(kBackupOfferTexts, "English", true), 11030);
  EXPECT_EQ(ChooseDurationSlot(kBackupOfferTexts, "English", false), 11061);
  EXPECT_EQ(ChooseDurationSlot(kBackupOfferTexts, "Japanese", true), 11092);
  EXPECT_EQ(ChooseDurationSlot(kBackupOfferTexts, "TChinese", false), 11093);
  EXPECT_EQ(ChooseDurationSlot(kReadyTexts, "german", true), 11062);
  EXPECT_EQ(ChooseDurationSlot(kDownloadTexts, "french", true), 11113);
  EXPECT_EQ(ChooseDurationSlot(kDownloadTexts, "french", false), 11112);
  EXPECT_EQ(ChooseDurationSlot(kDownloadTexts, "SChinese", true), 11096);
  EXPECT_EQ(ChooseDurationSlot(kBackupProgressTexts, "SChinese", false), 11091);
}

}  // namespace
