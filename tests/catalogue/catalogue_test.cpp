// The slots, their capacities and the English texts they are filled with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace {

using wizard::Slot;
using wizard::SlotCapacity;

class Catalogue : public ::testing::Test {
 protected:
  // English, whatever the locale of the machine running the tests.
  void SetUp() override { wizard::LoadTextCatalogueFor(0, platform::LoadText); }
};

TEST(CatalogueSlots, HundredThirtySlotsInIdOrderWithTheirCapacities) {
  auto slots = wizard::CatalogueSlots();
  ASSERT_EQ(slots.size(), 130u);
  EXPECT_EQ(slots.front().id, 11010);
  EXPECT_EQ(slots.back().id, 11166);
  for (std::size_t i = 1; i < slots.size(); ++i) EXPECT_LT(slots[i - 1].id, slots[i].id);
  const std::map<int, int> telling = {
      {11010, 100}, {11012, 50},  {11036, 456}, {11040, 20},  {11048, 20},  {11069, 650},
      {11080, 900}, {11081, 400}, {11103, 20},  {11127, 360}, {11146, 50},  {11166, 20},
      {11057, 150}, {11102, 200}, {11155, 200}, {11160, 200}, {11138, 50},  {11145, 50}};
  for (auto [id, capacity] : telling) EXPECT_EQ(SlotCapacity(id), capacity) << id;
  // In the string table but never loaded, and gaps of the id range.
  for (int id : {11073, 11105, 11123, 11016, 11068, 11133, 11151, 11165, 11167})
    EXPECT_EQ(SlotCapacity(id), 0) << id;
  EXPECT_STREQ(Slot(11073), "");
}

TEST(EnglishTexts, EveryTextFitsItsSlotAndTheUnloadedOnesExist) {
  char buffer[2048];
  for (const auto& slot : wizard::CatalogueSlots()) {
    int length = platform::LoadText(slot.id, buffer, sizeof buffer);
    EXPECT_GT(length, 0) << slot.id;
    EXPECT_LE(length, slot.capacity - 1) << slot.id << " does not fit: " << buffer;
  }
  for (int id : {11073, 11105, 11123}) EXPECT_GT(platform::LoadText(id, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "The ROM Upgrade Utility cannot find the selected ROM image file.");
  EXPECT_EQ(platform::LoadText(11073, buffer, sizeof buffer), 31);
  EXPECT_STREQ(buffer, "Disk drive space is not enough!");
}

TEST(LoadText, CutsAtCapacityMinusOneLikeLoadStringA) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(platform::LoadText(11012, buffer, 5), 4);  // "Next" exactly fits 5
  EXPECT_STREQ(buffer, "Next");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(platform::LoadText(11012, buffer, 4), 3);  // one byte short
  EXPECT_STREQ(buffer, "Nex");
  EXPECT_EQ(buffer[4], '#');                           // nothing written past the capacity
  EXPECT_EQ(platform::LoadText(11012, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'x';
  EXPECT_EQ(platform::LoadText(11012, buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(platform::LoadText(11999, buffer, sizeof buffer), 0);  // missing: empty
  EXPECT_STREQ(buffer, "");
}

// A loader double: records what it was asked and answers with a text of the
// length the test wants for each id.
std::map<int, int> askedCapacity;
std::map<int, std::size_t> wantedLength;
int RecordingLoader(int id, char* buffer, int capacity) {
  askedCapacity[id] = capacity;
  std::size_t length = wantedLength.count(id) ? wantedLength[id] : 3;
  length = std::min(length, static_cast<std::size_t>(capacity - 1));  // LoadStringA's cut
  std::memset(buffer, 'x', length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

TEST(LoadTextCatalogueFor, AsksEachSlotWithItsCapacityAndKeepsExactFits) {
  askedCapacity.clear();
  wantedLength = {{11040, 19}, {11048, 20}, {11035, 99}};
  wizard::LoadTextCatalogueFor(0, RecordingLoader);
  ASSERT_EQ(askedCapacity.size(), 130u);
  for (const auto& slot : wizard::CatalogueSlots()) EXPECT_EQ(askedCapacity[slot.id], slot.capacity);
  EXPECT_EQ(std::strlen(Slot(11040)), 19u);  // capacity 20: exactly fits
  EXPECT_EQ(std::strlen(Slot(11048)), 19u);  // capacity 20: one too long, cut
  EXPECT_EQ(std::strlen(Slot(11035)), 99u);
  EXPECT_STREQ(Slot(11012), "xxx");
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
}

TEST_F(Catalogue, TitleKeepsItsLeadingBlank) {
  EXPECT_STREQ(Slot(11035), " Microsoft Pocket PC 2002 Upgrade Utility - v 1.08");
}

TEST_F(Catalogue, ErrorTitlesKeepTheirTwoBlanks) {
  EXPECT_STREQ(Slot(11028), "ERROR 113:  UPGRADE ERROR");
  EXPECT_STREQ(Slot(11079), "ERROR 114:  COMMUNICATION ERROR");
  EXPECT_STREQ(Slot(11088), "ERROR 109:  FAILURE TO BACK UP CURRENT ROM IMAGE");
  EXPECT_STREQ(Slot(11146), "ERROR 115: INVALID VERSION OF ACTIVESYNC");
  EXPECT_STREQ(Slot(11101), "WARNING 112: THE FILE YOU HAVE SELECTED ALREADY EXISTS");
}

TEST_F(Catalogue, QuotedTextsKeepTheirBlanksAndLineBreaks) {
  EXPECT_STREQ(Slot(11057), "Verifying the information on your  Lumo Pocket PC... Please wait...");
  EXPECT_STREQ(Slot(11134), "Click Next to proceed. ");
  EXPECT_STREQ(Slot(11166), " Warning:");
  EXPECT_STREQ(Slot(11147),
               " You need ActiveSync 3.5 or above to use the new ROM image. \n\n Install "
               "ActiveSync 3.5 or above and run this utility again.");
  EXPECT_STREQ(Slot(11128),
               " 4. If the picture of a parrot does not appear, repeat steps 2 and 3.\r\n 5. "
               "Reconnect your Lumo Pocket PC to a serial cradle/cable.\r\n 6. Rerun the ROM "
               "Upgrade Utility.");
  std::string backupError = Slot(11089);
  EXPECT_EQ(backupError.rfind("The ROM Upgrade Utility cannot back up the current ROM image.\r\n\r\n", 0), 0u);
  EXPECT_NE(backupError.find(" 3.   Delete from the PC"), std::string::npos);  // three blanks
  EXPECT_EQ(std::strlen(Slot(11080)), 561u);  // the longest quoted text, whole
}

TEST_F(Catalogue, ButtonCaptionsAndUnitsAreTheirOwnSlots) {
  const std::map<int, std::string> captions = {
      {11012, "Next"},   {11011, "Cancel"}, {11048, "Exit"},    {11070, "Finish"},
      {11065, "Back"},   {11018, "Backup"}, {11055, "Upgrade"}, {11056, "Restore"},
      {11103, "Mbytes"}, {11130, "USB"},    {11131, "Serial"},  {11042, "Model :"},
      {11043, "ROM Version :"}, {11044, "Language :"}, {11046, "ROM Version :"}};
  for (const auto& [id, text] : captions) EXPECT_EQ(Slot(id), text) << id;
}

TEST_F(Catalogue, DescribedTextsNameTheirDurations) {
  struct Expected { int slot; const char* duration; };
  for (Expected e : {Expected{11030, "60 minutes"}, {11061, "8 minutes"}, {11092, "120 minutes"},
                     {11093, "16 minutes"}, {11062, "30 minutes"}, {11063, "4 minutes"},
                     {11094, "60 minutes"}, {11095, "8 minutes"}, {11066, "60 minutes"},
                     {11067, "8 minutes"}, {11090, "120 minutes"}, {11091, "16 minutes"}}) {
    std::string text = Slot(e.slot);
    EXPECT_NE(text.find(std::string("about ") + e.duration), std::string::npos) << e.slot;
  }
}

TEST_F(Catalogue, SlotAddressesStayValidAcrossReloads) {
  const char* before = Slot(11012);
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
  EXPECT_EQ(Slot(11012), before);
  EXPECT_STREQ(before, "Next");
}

}  // namespace
