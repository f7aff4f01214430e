// The settings carry-over as the upgrade preparation runs it: registry values
// and shortcut files on the simulated handheld afterwards.
#include <ostream>
#include <string>

#include "prepare/settings_carry_over.h"
#include "prepare_fixture.h"
#include "image/image_file.h"

namespace preparetest {
namespace {

const std::string kButton1 = "Software\\Microsoft\\Shell\\Keys\\40C1";
const std::string kButton5 = "Software\\Microsoft\\Shell\\Keys\\40C5";
const std::u16string kPrograms = u"\\Windows\\Start Menu\\Programs\\";
const std::u16string kSettings = u"\\Windows\\Start Menu\\Settings\\";

class CarryOverTest : public PrepareTest {
 protected:
  void Run(const std::string& code, const std::string& version) {
    UseImage(code, version);
    Connect(wizard::Connection::Serial);
    Prepare();
    ASSERT_EQ(agentStart.starts, 1);
  }
  void SeedCoolMenu(std::uint32_t type, std::vector<std::uint8_t> data) {
    handheld::DeviceRegistry registry = DeviceRegistry();
    registry.Set("HKEY_LOCAL_MACHINE\\ControlPanel\\Menus", handheld::RegValue{"CoolMenu", type, data});
    ASSERT_TRUE(registry.Save(handheld::RegistryPath(state.Path())));
  }
  // The start menu and maker's menu exactly as the fixture made them.
  void ExpectMenusUntouched() {
    EXPECT_EQ(DeviceFile(kPrograms + u"Brannock.lnk"), "old");
    EXPECT_EQ(DeviceFile(kPrograms + u"Backup.lnk"), "old");
    EXPECT_EQ(DeviceFile(kSettings + u"Corvell.lnk"), "old");
    EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Main\\Notes.lnk"), "old");
    EXPECT_FALSE(DeviceHas(u"\\Norvane Menu\\Main\\Internet Explorer.lnk"));
    EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Utilities\\Brannock.lnk"), "old");
    EXPECT_FALSE(RegHas("SOFTWARE\\Norvane\\Starter", "Category"));
  }
};

struct LayoutCase {
  const char* version;
  std::uint32_t windowBase;
  bool newLayout;
};
// Readable parameter names in test logs.
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << "version " << c.version; }

class LayoutByVersionTest : public CarryOverTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutByVersionTest, ChoosesTheWindowBaseAndExactlyOneLayout) {
  const LayoutCase& c = GetParam();
  Run("GER", c.version);
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "WindowBase"), c.windowBase);
  EXPECT_EQ(RegNumber("ControlPanel\\Power", "Group"), 1u);
  EXPECT_EQ(RegText("ControlPanel\\Power", "Redirect"),
            c.newLayout ? "\\windows\\ctlpnl.exe MyCpl,5" : "\\windows\\ctlpnl.exe powerg.cpl");
  // The disk driver values belong to the new layout only.
  EXPECT_EQ(RegHas("Drivers\\NrvDisk", "Dll"), c.newLayout);
  // The start-menu steps of the one layout (German names).
  EXPECT_EQ(RegHas("SOFTWARE\\Norvane\\Starter", "Category"), !c.newLayout);
  EXPECT_EQ(DeviceHas(u"\\Norvane Menu\\Hauptgruppe\\Internet Explorer.lnk"), c.newLayout);
  EXPECT_EQ(RegText(kButton1, "Name"), "Taste 1");
}

INSTANTIATE_TEST_SUITE_P(Versions, LayoutByVersionTest,
                         ::testing::Values(LayoutCase{"1.40.00", 0xAE000000u, false},
                                           LayoutCase{"1.41.00", 0xAE000000u, true},
                                           LayoutCase{"1.60.00", 0xB2000000u, true},
                                           LayoutCase{"2.00.00", 0xB2000000u, true}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                           std::string name = info.param.version;
                           return "V" + name.substr(0, 1) + name.substr(2, 2);
                         });

TEST_F(CarryOverTest, OldLayoutRewritesTheEnglishStartMenu) {
  Run("ENG", "1.40.00");
  EXPECT_EQ(DeviceFile(kPrograms + u"Brannock.lnk"), "29#\"\\Windows\\Brannock.exe\"");
  EXPECT_EQ(DeviceFile(kSettings + u"Corvell.lnk"), "27#\"\\Windows\\Corvell.exe\"");
  EXPECT_EQ(DeviceFile(kSettings + u"Auto Run.lnk"), "24#\"\\Windows\\Tessaro.exe\"");
  EXPECT_EQ(DeviceFile(kSettings + u"Microphone AGC.lnk"), "25#\"\\Windows\\Vindle.exe\"");
  EXPECT_FALSE(DeviceHas(kPrograms + u"Backup.lnk"));
  EXPECT_FALSE(DeviceHas(kPrograms + u"Expansion Pack.lnk"));
  EXPECT_FALSE(DeviceHas(u"\\Norvane Menu\\Main"));
  EXPECT_FALSE(DeviceHas(u"\\Norvane Menu\\Utilities\\Brannock.lnk"));
  EXPECT_FALSE(DeviceHas(u"\\Norvane Menu\\Utilities\\Backup.lnk"));
  EXPECT_EQ(RegText("SOFTWARE\\Norvane\\Starter", "Category"), "Utilities");
  // The disk driver key stays on the handheld.
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "WindowBase"), 0xAE000000u);
}

TEST_F(CarryOverTest, NewLayoutRewritesTheEnglishStartMenuAndKeepsExistingMainShortcuts) {
  PutDeviceFile(u"\\Norvane Menu\\Main\\Contacts.lnk", "mine");
  Run("ENG", "1.41.00");
  EXPECT_FALSE(DeviceHas(kPrograms + u"Brannock.lnk"));
  EXPECT_FALSE(DeviceHas(kSettings + u"Corvell.lnk"));
  EXPECT_FALSE(DeviceHas(kSettings + u"Auto Run.lnk"));
  EXPECT_FALSE(DeviceHas(kSettings + u"Microphone AGC.lnk"));
  EXPECT_EQ(DeviceFile(kPrograms + u"Backup.lnk"), "29#\"\\Windows\\Backup.exe\"");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Main\\Calendar.lnk"), "old");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Main\\Contacts.lnk"), "mine");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Main\\Internet Explorer.lnk"), "21#:MSPIE");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Main\\Windows Media.lnk"), "21#\"\\windows\\player.exe\"");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Utilities\\Backup.lnk"), "29#\"\\Windows\\Backup.exe\"");
  EXPECT_EQ(DeviceFile(u"\\Norvane Menu\\Utilities\\Brannock.lnk"), "28#\"\\Windows\\Brannock.exe\"");
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "Size"), 0x2000000u);
  EXPECT_EQ(RegText("Drivers\\NrvDisk", "Folder"), "Norvane DISK");
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "DisableInt"), 0u);
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "OnBoard"), 0u);
  EXPECT_EQ(RegText("Drivers\\NrvDisk", "Dll"), "NRVDSK.DLL");
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "Index"), 8u);
}

TEST_F(CarryOverTest, EnglishButtons) {
  Run("ENG", "1.41.00");
  EXPECT_EQ(RegText(kButton1, "Default"), "\"\\Windows\\AppButtons\\Calendar.lnk\"");
  EXPECT_EQ(RegText(kButton1, "ResetCmd"), "\"\\Windows\\AppButtons\\Calendar.lnk\"");
  EXPECT_EQ(RegText(kButton1, "Name"), "Button 1");
  EXPECT_EQ(RegText(kButton1, "Icon"), "\\windows\\calendar.exe, 0");
  EXPECT_EQ(RegNumber(kButton1, "Flags"), 0u);
  EXPECT_EQ(RegText(kButton5, "Default"), "\"\\Windows\\AppButtons\\Record.lnk\" -b");
  EXPECT_EQ(RegText(kButton5, "Name"), "Button 5");
  EXPECT_EQ(RegText(kButton5, "Icon"), "\\windows\\Calsey.exe, 0");
  // Text values are UTF-16 with their NUL.
  const handheld::DeviceRegistry registry = DeviceRegistry();
  const handheld::RegValue* name = registry.Find("HKEY_LOCAL_MACHINE\\" + kButton1, "Name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->type, handheld::kRegSz);
  EXPECT_EQ(name->data.size(), (std::string("Button 1").size() + 1) * 2);
}

struct ChineseCase {
  const char* code;
  const char* button1;
  const char* name5;
};
void PrintTo(const ChineseCase& c, std::ostream* os) { *os << "code " << c.code; }

class ChineseImageTest : public CarryOverTest, public ::testing::WithParamInterface<ChineseCase> {};

TEST_P(ChineseImageTest, GetsItsButtonsAndRegistryValuesButNoStartMenuEdits) {
  Run(GetParam().code, "1.41.00");
  EXPECT_EQ(RegText(kButton1, "Default"), GetParam().button1);
  EXPECT_EQ(RegText(kButton5, "Name"), GetParam().name5);
  EXPECT_EQ(RegText("ControlPanel\\Power", "Redirect"), "\\windows\\ctlpnl.exe MyCpl,5");
  EXPECT_EQ(RegText("Drivers\\NrvDisk", "Dll"), "NRVDSK.DLL");
  ExpectMenusUntouched();
}

INSTANTIATE_TEST_SUITE_P(Codes, ChineseImageTest,
                         ::testing::Values(ChineseCase{"CHT", "\"\\Windows\\AppButtons\\行事曆.lnk\"", "功能鍵 5"},
                                           ChineseCase{"CHS", "\"\\Windows\\AppButtons\\日程表.lnk\"", "按键 5"}),
                         [](const ::testing::TestParamInfo<ChineseCase>& info) { return std::string(info.param.code); });

TEST_F(CarryOverTest, AnUnknownLanguageCodeGetsEnglishButtonsAndNoStartMenuEdits) {
  UseImage("ENG", "1.40.00");
  std::snprintf(wizard::ImageHeader.ImageLang, sizeof wizard::ImageHeader.ImageLang, "DAN");
  Connect(wizard::Connection::Serial);
  Prepare();
  EXPECT_EQ(RegText(kButton1, "Name"), "Button 1");
  ExpectMenusUntouched();
}

TEST_F(CarryOverTest, JapaneseShortcutsAllGoIntoItsProgramsFolder) {
  const std::u16string programs = u"\\Windows\\ｽﾀｰﾄ ﾒﾆｭｰ\\ﾌﾟﾛｸﾞﾗﾑ\\";
  MakeDeviceFolder(u"\\Windows\\ｽﾀｰﾄ ﾒﾆｭｰ");
  MakeDeviceFolder(u"\\Windows\\ｽﾀｰﾄ ﾒﾆｭｰ\\ﾌﾟﾛｸﾞﾗﾑ");
  Run("JPN", "1.40.00");
  EXPECT_EQ(DeviceFile(programs + u"Brannock.lnk"), "29#\"\\Windows\\Brannock.exe\"");
  EXPECT_EQ(DeviceFile(programs + u"Corvell.lnk"), "27#\"\\Windows\\Corvell.exe\"");
  EXPECT_EQ(DeviceFile(programs + u"Auto Run.lnk"), "24#\"\\Windows\\Tessaro.exe\"");
  EXPECT_EQ(DeviceFile(programs + u"Microphone AGC.lnk"), "25#\"\\Windows\\Vindle.exe\"");
  EXPECT_EQ(RegText(kButton5, "Default"), "\"\\Windows\\AppButtons\\ﾎﾞｲｽ ﾚｺｰﾀﾞｰ.lnk\" -b");
  EXPECT_EQ(RegText(kButton1, "Name"), "ﾎﾞﾀﾝ 1");
}

TEST_F(CarryOverTest, SpanishShortcutNamesKeepTheirAccents) {
  MakeDeviceFolder(u"\\Windows\\Menú Inicio");
  MakeDeviceFolder(u"\\Windows\\Menú Inicio\\Programas");
  MakeDeviceFolder(u"\\Windows\\Menú Inicio\\Configuración");
  Run("SPA", "1.40.00");
  const std::u16string settings = u"\\Windows\\Menú Inicio\\Configuración\\";
  EXPECT_EQ(DeviceFile(settings + u"Ejecución automática.lnk"), "24#\"\\Windows\\Tessaro.exe\"");
  EXPECT_EQ(DeviceFile(settings + u"Micrófono AGC.lnk"), "25#\"\\Windows\\Vindle.exe\"");
  EXPECT_EQ(RegText(kButton1, "Name"), "Botón 1");
  EXPECT_EQ(RegText("SOFTWARE\\Norvane\\Starter", "Category"), "Utilidades");
}

struct CoolMenuCase {
  const char* name;
  bool seeded;
  std::uint32_t type;
  std::vector<std::uint8_t> before;
  std::uint32_t typeAfter;
  std::vector<std::uint8_t> after;
};
void PrintTo(const CoolMenuCase& c, std::ostream* os) { *os << "CoolMenu " << c.name; }

class CoolMenuTest : public CarryOverTest, public ::testing::WithParamInterface<CoolMenuCase> {};

TEST_P(CoolMenuTest, OnlyANonZeroFirstByteIsTurnedOff) {
  const CoolMenuCase& c = GetParam();
  if (c.seeded) SeedCoolMenu(c.type, c.before);
  Run("ENG", "1.41.00");
  const handheld::DeviceRegistry registry = DeviceRegistry();
  const handheld::RegValue* v = registry.Find("HKEY_LOCAL_MACHINE\\ControlPanel\\Menus", "CoolMenu");
  if (!c.seeded) {
    EXPECT_EQ(v, nullptr);
    return;
  }
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, c.typeAfter);
  EXPECT_EQ(v->data, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CoolMenuTest,
    ::testing::Values(CoolMenuCase{"On", true, handheld::kRegBinary, {1, 0, 0, 0}, handheld::kRegNone, {0}},
                      CoolMenuCase{"AlreadyOff", true, handheld::kRegBinary, {0, 7}, handheld::kRegBinary, {0, 7}},
                      CoolMenuCase{"Missing", false, 0, {}, 0, {}}),
    [](const ::testing::TestParamInfo<CoolMenuCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace preparetest
