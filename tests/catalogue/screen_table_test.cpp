// The screen table against the screens the wizard shows: every screen, the
// texts of its controls, what Enter and Escape do, pictures.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"
#include "wizard/screen_table.h"

namespace {

using namespace screens;

// What a command does on a screen: its result, or nothing when ignored.
std::optional<int> ResultOf(const Screen& screen, int command) {
  for (const Command& listed : screen.commands)
    if (listed.id == command) return listed.result;
  return std::nullopt;
}

const Control* ControlOf(const Screen& screen, int id) {
  for (const Control& control : screen.controls)
    if (control.id == id) return &control;
  return nullptr;
}

const Screen& Get(int id) {
  const Screen* screen = FindScreen(id);
  EXPECT_NE(screen, nullptr) << id;
  static const Screen none{};
  return screen ? *screen : none;
}

TEST(ScreenTable, HoldsEveryScreenOnceInTemplateOrder) {
  const std::set<int> expected = {102, 103, 105, 109, 114, 121, 122, 123, 124, 125, 130, 132,
                                  133, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 151,
                                  152, 153, 158, 160, 161, 165, 166, 167};
  std::set<int> found;
  int previous = 0;
  for (const Screen& screen : AllScreens()) {
    EXPECT_GT(screen.id, previous);
    previous = screen.id;
    found.insert(screen.id);
    EXPECT_EQ(FindScreen(screen.id), &screen);
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(FindScreen(104), nullptr);
  EXPECT_EQ(FindScreen(0), nullptr);
  EXPECT_EQ(FindScreen(168), nullptr);
}

TEST(ScreenTable, EverySlotShownIsACatalogueSlotWithText) {
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
  for (const Screen& screen : AllScreens()) {
    std::set<int> ids;
    for (const Control& control : screen.controls) {
      EXPECT_TRUE(ids.insert(control.id).second) << screen.id << " repeats " << control.id;
      if (control.slot == 0) continue;
      EXPECT_GT(wizard::SlotCapacity(control.slot), 0) << screen.id << "/" << control.id;
      EXPECT_STRNE(wizard::Slot(control.slot), "") << screen.id << "/" << control.id;
    }
  }
}

TEST(ScreenTable, TextsChosenAtRunTimeHaveNoSlot) {
  const std::pair<int, int> chosen[] = {{125, 1041}, {130, 1076}, {130, 1128}, {102, 1132}, {132, 1087}};
  for (auto [screen, control] : chosen) {
    const Control* found = ControlOf(Get(screen), control);
    ASSERT_NE(found, nullptr) << screen << "/" << control;
    EXPECT_EQ(found->slot, 0) << screen << "/" << control;
  }
}

struct Keys {
  int screen;
  std::optional<int> enter;   // result of Enter; nullopt: ignored
  std::optional<int> escape;  // result of Escape
};

TEST(ScreenTable, EnterAndEscapeDoWhatEachScreenPromises) {
  const Keys keys[] = {
      {166, 0, 1}, {103, 0, 1}, {121, 0, 1}, {161, 0, 1}, {165, 1, std::nullopt},
      {158, 0, 1}, {105, 0, 1}, {109, 0, 1}, {123, 0, 1}, {151, std::nullopt, 1},
      {124, 1, 2}, {125, 2, 2}, {152, 1, 2}, {130, 1, 2}, {167, 0, 1},
      {133, 0, 1}, {160, 0, 1},
      {138, std::nullopt, 1}, {139, std::nullopt, 1}, {140, std::nullopt, 1},
      {141, std::nullopt, 1}, {143, std::nullopt, 1}, {144, std::nullopt, 1},
      {145, std::nullopt, 1}, {142, std::nullopt, 1},
      {146, 1, 2}, {147, 0, 1}, {114, 1, 1},
      {102, std::nullopt, std::nullopt}, {132, std::nullopt, std::nullopt}};
  for (const Keys& expected : keys) {
    const Screen& screen = Get(expected.screen);
    EXPECT_EQ(ResultOf(screen, screen.enterCommand), expected.enter) << "Enter on " << expected.screen;
    EXPECT_EQ(ResultOf(screen, kEscapeCommand), expected.escape) << "Escape on " << expected.screen;
  }
  EXPECT_EQ(Get(114).enterCommand, 2);   // Exit is the default button
  EXPECT_EQ(Get(125).enterCommand, 2);   // Enter is Cancel
  EXPECT_EQ(Get(166).enterCommand, 1181);
  EXPECT_EQ(Get(167).enterCommand, 1181);
  EXPECT_EQ(Get(165).enterCommand, 1175);
}

TEST(ScreenTable, ButtonsSendTheirListedResults) {
  EXPECT_EQ(ResultOf(Get(109), 1035), 1035);
  EXPECT_EQ(ResultOf(Get(109), 1036), 1036);
  EXPECT_EQ(ResultOf(Get(125), 1030), 1000);
  EXPECT_EQ(ResultOf(Get(166), 1181), 0);
  EXPECT_EQ(ResultOf(Get(167), 1181), 0);
  EXPECT_EQ(ResultOf(Get(165), 1175), 1);
  // Every button of every screen sends a command the screen handles, and
  // every modal screen can be left with Escape or Enter.
  for (const Screen& screen : AllScreens()) {
    for (const Control& control : screen.controls) {
      if (control.kind == ControlKind::Button) {
        EXPECT_TRUE(ResultOf(screen, control.id).has_value()) << screen.id << "/" << control.id;
      }
    }
    if (screen.kind == Kind::Modal) {
      EXPECT_TRUE(ResultOf(screen, kEscapeCommand) || ResultOf(screen, screen.enterCommand)) << screen.id;
    }
  }
}

TEST(ScreenTable, ErrorScreensOpenWithTheirTitleInTheHeadlineAndOfferExit) {
  const std::pair<int, const char*> titles[] = {
      {138, "ERROR 101: CONNECTION ERROR"}, {139, "ERROR 102: IMAGE FILE CHECKSUM ERROR"},
      {140, "ERROR 103: ROM IMAGE FILE NOT FOUND"}, {141, "ERROR 104: CANNOT OPEN ROM IMAGE FILE"},
      {142, "ERROR 114:  COMMUNICATION ERROR"}, {143, "ERROR 105: OPEN PORT FAILURE"},
      {144, "ERROR 106: EXECUTE REMOTE COMMUNICATION PROGRAM FAILURE"},
      {145, "ERROR 107: SYSTEM CANNOT BACK UP CURRENT ROM IMAGE"},
      {146, "ERROR 108: CANNOT OPEN MODULE DATA FILE"},
      {147, "ERROR 109:  FAILURE TO BACK UP CURRENT ROM IMAGE"}, {114, "ERROR 113:  UPGRADE ERROR"},
      {123, "ERROR 100: INCOMPATIBLE IMAGE"}, {151, "ERROR 110: IMAGE FILE IS TOO LARGE"},
      {165, "ERROR 115: INVALID VERSION OF ACTIVESYNC"},
      {105, "WARNING 111: POWER ADAPTER NOT PLUGGED IN"},
      {152, "WARNING 112: THE FILE YOU HAVE SELECTED ALREADY EXISTS"}};
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
  for (auto [id, title] : titles) {
    const Screen& screen = Get(id);
    ASSERT_FALSE(screen.controls.empty());
    EXPECT_EQ(screen.controls[0].kind, ControlKind::Headline) << id;
    EXPECT_STREQ(wizard::Slot(screen.controls[0].slot), title) << id;
  }
  for (int id : {138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 114, 151}) {
    const Control* exit = ControlOf(Get(id), 2);
    ASSERT_NE(exit, nullptr) << id;
    EXPECT_EQ(exit->slot, 11048) << id;
    bool prompt = false;
    for (const Control& control : Get(id).controls) prompt = prompt || control.slot == 11074;
    EXPECT_TRUE(prompt) << id << " lacks \"Click Exit to quit.\"";
  }
}

TEST(ScreenTable, LabelValueControlsShowTheRightFields) {
  const Screen& choice = Get(109);
  EXPECT_EQ(ControlOf(choice, 1066)->value, Value::ModelID);
  EXPECT_EQ(ControlOf(choice, 1066)->slot, 11042);
  EXPECT_EQ(ControlOf(choice, 1067)->value, Value::Version);
  EXPECT_EQ(ControlOf(choice, 1068)->value, Value::LanguageName);
  const Screen& incompatible = Get(123);
  EXPECT_EQ(ControlOf(incompatible, 1060)->value, Value::ImageModelID);
  EXPECT_EQ(ControlOf(incompatible, 1061)->value, Value::ImageVersion);
  EXPECT_EQ(ControlOf(incompatible, 1061)->slot, 11046);
  EXPECT_EQ(ControlOf(incompatible, 1062)->value, Value::ImageLanguageName);
  EXPECT_EQ(ControlOf(incompatible, 1058)->value, Value::LanguageName);
  EXPECT_EQ(ControlOf(Get(124), 1027)->slot, 11046);
  EXPECT_EQ(ControlOf(Get(124), 1027)->value, Value::ImageVersion);
  EXPECT_EQ(ControlOf(Get(151), 1120)->value, Value::ImageSizeMB);
  EXPECT_EQ(ControlOf(Get(151), 1121)->value, Value::FlashSizeMB);
  EXPECT_EQ(ControlOf(Get(151), 1121)->slot, 11103);
}

TEST(ScreenTable, RedBlackAndCheckedControls) {
  std::set<std::pair<int, int>> red, black;
  for (const Screen& screen : AllScreens()) {
    for (const Control& control : screen.controls) {
      if (control.red) red.insert({screen.id, control.id});
      if (control.blackFace) black.insert({screen.id, control.id});
    }
  }
  EXPECT_EQ(red, (std::set<std::pair<int, int>>{{102, 1131}, {133, 1127}, {160, 1127}, {161, 1157}}));
  EXPECT_EQ(black, (std::set<std::pair<int, int>>{{166, 1176}, {166, 1182}}));
  for (int id : {133, 160}) {
    const Control* box = ControlOf(Get(id), 1134);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->kind, ControlKind::CheckBox);
    EXPECT_TRUE(box->checked);
    EXPECT_EQ(ControlOf(Get(id), box->label)->slot, 11114);
  }
  EXPECT_EQ(ControlOf(Get(158), 1150)->kind, ControlKind::Radio);
  EXPECT_EQ(ControlOf(Get(158), 1151)->kind, ControlKind::Radio);
}

TEST(ScreenTable, KindsSizesAndPictures) {
  for (const Screen& screen : AllScreens()) {
    bool special = screen.id == 102 || screen.id == 132 || screen.id == 122 || screen.id == 153;
    EXPECT_EQ(screen.sidePicture, !special) << screen.id;
    if (!special) {
      EXPECT_EQ(screen.kind, Kind::Modal) << screen.id;
      EXPECT_EQ(screen.width, 440) << screen.id;
      // 114 is taller: its picture stands between its two explanations.
      EXPECT_EQ(screen.height, screen.id == 114 ? 262 : 228) << screen.id;
    }
  }
  EXPECT_EQ(Get(102).kind, Kind::Progress);
  EXPECT_EQ(Get(132).kind, Kind::Progress);
  EXPECT_EQ(Get(122).kind, Kind::Wait);
  EXPECT_EQ(Get(153).kind, Kind::Wait);
  EXPECT_EQ(std::make_pair(Get(122).width, Get(122).height), std::make_pair(279, 35));
  EXPECT_EQ(std::make_pair(Get(153).width, Get(153).height), std::make_pair(282, 35));
  EXPECT_EQ(std::make_pair(Get(102).width, Get(102).height), std::make_pair(339, 95));
  EXPECT_EQ(std::make_pair(Get(132).width, Get(132).height), std::make_pair(339, 98));
  struct Expected { int screen, bitmap, x, y, width, height; };
  for (Expected e : {Expected{161, 157, 350, 84, 120, 75}, {158, 162, 305, 100, 119, 74},
                     {158, 163, 305, 200, 119, 74}, {167, 173, 282, 177, 330, 91},
                     {142, 157, 440, 245, 120, 75}, {114, 157, 420, 155, 120, 75}}) {
    bool found = false;
    for (const Picture& picture : Get(e.screen).pictures) {
      if (picture.bitmap == e.bitmap) {
        found = picture.x == e.x && picture.y == e.y && picture.width == e.width &&
                picture.height == e.height;
      }
    }
    EXPECT_TRUE(found) << e.screen << " picture " << e.bitmap;
  }
  int withPictures = 0;
  for (const Screen& screen : AllScreens()) withPictures += screen.pictures.empty() ? 0 : 1;
  EXPECT_EQ(withPictures, 5);
}

}  // namespace
