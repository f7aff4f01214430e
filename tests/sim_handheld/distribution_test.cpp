// The distribution generator and the ROM images it writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "distribution.h"
#include "programs.h"
#include "rom_image.h"
#include "sim_test_support.h"

using namespace handheld;

namespace {

// The image check romwiz makes: sum of header bytes 0..17 and every payload
// byte, compared with the checksum text at byte 19 (up to 4 hex digits).
bool ChecksumHolds(const std::vector<std::uint8_t>& file) {
  if (file.size() < kImageHeaderSize) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 18; ++i) sum += file[i];
  for (std::size_t i = kImageHeaderSize; i < file.size(); ++i) sum += file[i];
  std::string digits;
  for (std::size_t i = 19; i < 23 && file[i] != '-'; ++i) digits += static_cast<char>(file[i]);
  return std::strtoul(digits.c_str(), nullptr, 16) == (sum & 0xFFFF);
}

DistributionOptions Options() {
  DistributionOptions options;
  options.identity = {"LUMO-5300", "1.41.00", "FRE"};
  options.sizeMb = 1;
  return options;
}

TEST(Distribution, WritesAValidImageAndTheSupportFiles) {
  simtest::ScratchFolder out;
  std::string image;
  ASSERT_EQ(WriteDistribution(out.Path(), Options(), &image), "");
  EXPECT_EQ(image, out.Path() + "/French/LUMO5300_FRE_141.nbf");
  const std::vector<std::uint8_t> file = simtest::ReadHostFile(image);
  ASSERT_EQ(file.size(), kImageHeaderSize + 1024u * 1024);
  const std::string header(file.begin(), file.begin() + kImageHeaderSize);
  EXPECT_EQ(header.substr(0, 19), "LUMO-5300-FRE-1.41-");
  EXPECT_EQ(header.back(), '-');
  EXPECT_NE(header[19], '0');  // no leading zeros
  EXPECT_TRUE(ChecksumHolds(file));

  // The payload names its handheld at the identity block.
  RomIdentity id;
  ASSERT_TRUE(ReadIdentity(file.data() + kImageHeaderSize, file.size() - kImageHeaderSize, id));
  EXPECT_EQ(id.modelId, "LUMO-5300");
  EXPECT_EQ(id.version, "1.41.00");
  EXPECT_EQ(id.language, "FRE");

  const std::vector<std::uint8_t> modules = simtest::ReadHostFile(out.Path() + "/French/module.dat");
  EXPECT_EQ(std::string(modules.begin(), modules.end()), "LumoToday.dll\r\nLumoKeys.dll\r\nLumoBattery.dll\r\n$\r\n");
  for (const char* name : {"GetType.exe", "backup.exe", "SetSystemTime.dll", "Devflash.exe", "readme.doc"})
    EXPECT_TRUE(std::filesystem::exists(out.Path() + "/French/" + name)) << name;
  // The handheld starts backup.exe only from a whole copy of this file.
  const std::vector<std::uint8_t> backup = simtest::ReadHostFile(out.Path() + "/French/backup.exe");
  EXPECT_EQ(std::string(backup.begin(), backup.end()), ProgramFileText("backup.exe"));
  EXPECT_EQ(std::filesystem::file_size(out.Path() + "/French/flash_usb.nb"), kLoaderFileSize);
  EXPECT_EQ(std::filesystem::file_size(out.Path() + "/French/flash_serial.nb"), kLoaderFileSize);
}

TEST(Distribution, PreparedFaultsForTheWizard) {
  simtest::ScratchFolder out;
  DistributionOptions options = Options();
  options.corruptImage = true;
  options.omit = {"module.dat"};
  std::string image;
  ASSERT_EQ(WriteDistribution(out.Path(), options, &image), "");
  EXPECT_FALSE(ChecksumHolds(simtest::ReadHostFile(image)));
  EXPECT_FALSE(std::filesystem::exists(out.Path() + "/French/module.dat"));

  simtest::ScratchFolder bare;
  options.omit = {"image"};
  image.clear();
  ASSERT_EQ(WriteDistribution(bare.Path(), options, &image), "");
  EXPECT_TRUE(image.empty());
  EXPECT_TRUE(std::filesystem::exists(bare.Path() + "/French/module.dat"));
}

TEST(Distribution, RejectsIdentitiesThatCannotFormAHeader) {
  simtest::ScratchFolder out;
  DistributionOptions options = Options();
  options.identity.language = "XXX";
  EXPECT_NE(WriteDistribution(out.Path(), options), "");
  options = Options();
  options.identity.version = "1.4";
  EXPECT_NE(WriteDistribution(out.Path(), options), "");
  options = Options();
  options.identity.modelId = "LUMO-5800-XL";
  EXPECT_NE(WriteDistribution(out.Path(), options), "");
}

TEST(RomImage, PayloadsAreWholeBlocksAndDifferByIdentity) {
  const RomIdentity a{"LUMO-5800", "1.14.00", "ENG"}, b{"LUMO-5800", "1.41.00", "ENG"};
  const std::vector<std::uint8_t> ra = MakeRomPayload(a, 600 * 1024), rb = MakeRomPayload(b, 600 * 1024);
  EXPECT_EQ(ra.size(), 3 * kBlockSize);
  EXPECT_NE(ra, rb);
  EXPECT_EQ(ra[kLoaderBlockOffset], 0xFF);  // a factory ROM has no loader
  EXPECT_EQ(MakeImageHeader(a, ra).size(), kImageHeaderSize);
  RomIdentity none;
  const std::vector<std::uint8_t> erased(kIdentityOffset + kIdentitySize, 0xFF);
  EXPECT_FALSE(ReadIdentity(erased.data(), erased.size(), none));
}

}  // namespace
