// The simulated handheld's registry: its file and the remote calls on it.
#include "device_registry.h"

#include <fstream>

#include "platform/remote_api.h"
#include "prepare_fixture.h"

namespace preparetest {
namespace {

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text + u'\0') {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

TEST(DeviceRegistryFile, KeepsEveryValueThroughSaveAndLoad) {
  Scratch dir;
  const std::string file = dir / "registry.reg";
  handheld::DeviceRegistry registry;
  ASSERT_TRUE(registry.Load(file));  // no file: empty
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Shell\\Keys\\40C1";
  registry.Set(key, {"Default", handheld::kRegSz, Utf16Bytes(u"\"\\Windows\\AppButtons\\行事曆.lnk\"")});
  registry.Set(key, {"Flags", handheld::kRegDword, {8, 0, 0, 0x80}});
  registry.Set(key, {"CoolMenu", handheld::kRegNone, {0}});
  registry.Set(key, {"Odd", handheld::kRegSz, {'a', 0}});  // no NUL: kept byte for byte
  registry.Set(key, {"", handheld::kRegSz, Utf16Bytes(u"default")});
  ASSERT_TRUE(registry.Save(file));

  const std::string text = ReadHostFile(file);
  EXPECT_NE(text.find("\"Flags\"=dword:80000008\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"CoolMenu\"=hex(0):00\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"default\"\r\n"), std::string::npos) << text;

  handheld::DeviceRegistry again;
  ASSERT_TRUE(again.Load(file));
  for (const char* name : {"Default", "Flags", "CoolMenu", "Odd", ""}) {
    const handheld::RegValue* before = registry.Find(key, name);
    const handheld::RegValue* after = again.Find(key, name);
    ASSERT_NE(after, nullptr) << name;
    EXPECT_EQ(after->type, before->type) << name;
    EXPECT_EQ(after->data, before->data) << name;
  }
  // Names match without regard to case.
  EXPECT_NE(again.Find("hkey_local_machine\\SOFTWARE\\microsoft\\shell\\keys\\40c1", "flags"), nullptr);
}

TEST(DeviceRegistryFile, AFileThatIsNotARegistryIsRefused) {
  Scratch dir;
  const std::string file = dir / "registry.reg";
  std::ofstream(file) << "not a registry\n";
  handheld::DeviceRegistry registry;
  EXPECT_FALSE(registry.Load(file));
}

class RemoteRegistryTest : public PrepareTest {
 protected:
  void SetUp() override {
    PrepareTest::SetUp();
    ConnectRemoteApi();
  }
};

TEST_F(RemoteRegistryTest, CreatesOpensSetsAndQueriesKeys) {
  rapi::RegKey key = nullptr;
  std::uint32_t disposition = 0;
  // A sub-key that begins with a backslash is refused, as the handheld does.
  EXPECT_EQ(rapi::CeRegCreateKeyEx(rapi::kRegLocalMachine, u"\\Drivers\\NrvDisk", &key, &disposition), 161);
  EXPECT_EQ(rapi::CeRegOpenKeyEx(rapi::kRegLocalMachine, u"Drivers\\NrvDisk", &key), rapi::kErrorFileNotFound);
  ASSERT_EQ(rapi::CeRegCreateKeyEx(rapi::kRegLocalMachine, u"Drivers\\NrvDisk", &key, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  const std::uint8_t base[4] = {0, 0, 0, 0xAE};
  EXPECT_EQ(rapi::CeRegSetValueEx(key, u"WindowBase", rapi::kRegDword, base, 4), 0);
  EXPECT_EQ(rapi::CeRegCloseKey(key), 0);
  EXPECT_EQ(RegNumber("Drivers\\NrvDisk", "WindowBase"), 0xAE000000u);

  ASSERT_EQ(rapi::CeRegCreateKeyEx(rapi::kRegLocalMachine, u"Drivers\\NrvDisk", &key, &disposition), 0);
  EXPECT_EQ(disposition, 2u);
  rapi::CeRegCloseKey(key);
  // The parent of a created key exists too.
  ASSERT_EQ(rapi::CeRegOpenKeyEx(rapi::kRegLocalMachine, u"Drivers", &key), 0);
  rapi::CeRegCloseKey(key);

  // A value from the handheld's own registry, read with a buffer too small
  // and then with one large enough.
  ASSERT_EQ(rapi::CeRegOpenKeyEx(rapi::kRegLocalMachine, u"Ident", &key), 0);
  std::uint8_t data[32] = {};
  std::uint32_t type = 0, size = 4;
  EXPECT_EQ(rapi::CeRegQueryValueEx(key, u"Name", &type, data, &size), rapi::kErrorMoreData);
  EXPECT_EQ(size, 20u);  // "Pocket_PC" and its NUL in UTF-16
  size = sizeof data;
  ASSERT_EQ(rapi::CeRegQueryValueEx(key, u"Name", &type, data, &size), 0);
  EXPECT_EQ(type, rapi::kRegSz);
  EXPECT_EQ(data[0], 'P');
  EXPECT_EQ(rapi::CeRegQueryValueEx(key, u"Missing", &type, data, &size), rapi::kErrorFileNotFound);
  EXPECT_EQ(rapi::CeRegCloseKey(key), 0);
  // A closed key is no longer a key.
  EXPECT_NE(rapi::CeRegSetValueEx(key, u"X", rapi::kRegDword, base, 4), 0);
}

}  // namespace
}  // namespace preparetest
