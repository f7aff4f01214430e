// The user's language on Linux: the locale variables in their order of
// precedence, the locale names turned into Windows identifiers, and the
// ROMWIZ_LANGUAGE override.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/posix/user_language_posix.h"
#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace {

using platform::LanguageIdForLocale;

TEST(LanguageIdForLocale, NamesWithTerritoryCodesetAndModifier) {
  const std::map<std::string, unsigned> names = {
      {"de_DE.UTF-8", 0x0407}, {"de_AT.utf8", 0x0C07},  {"de_CH", 0x0807},
      {"de", 0x0407},          {"de_BE.UTF-8", 0x0407}, {"fr_CA.UTF-8", 0x0C0C},
      {"fr_FR@euro", 0x040C},  {"it_CH.UTF-8", 0x0810}, {"es_ES.UTF-8", 0x0C0A},
      {"es_ES@traditional", 0x040A}, {"es_MX.UTF-8", 0x080A}, {"es_PR", 0x500A},
      {"es_US.UTF-8", 0x540A}, {"zh_CN.UTF-8", 0x0804}, {"zh_TW.Big5", 0x0404},
      {"zh_HK.UTF-8", 0x0C04}, {"zh_SG.GB2312", 0x1004}, {"en_US.UTF-8", 0x0409},
      {"C", 0},                {"C.UTF-8", 0},          {"POSIX", 0},
      {"", 0},                 {"ja_JP.UTF-8", 0},      {"deu", 0},
      {"german", 0}};
  for (const auto& [name, id] : names) EXPECT_EQ(LanguageIdForLocale(name.c_str()), id) << name;
  EXPECT_EQ(LanguageIdForLocale(nullptr), 0u);
  // Through the catalogue's table: es_US is Spanish to Linux but not a
  // listed Spanish identifier, and Hong Kong takes the block 17000.
  EXPECT_EQ(wizard::LanguageBlockFor(LanguageIdForLocale("es_US.UTF-8")), wizard::kEnglishBlock);
  EXPECT_EQ(wizard::LanguageBlockFor(LanguageIdForLocale("zh_HK.UTF-8")), wizard::kSimplifiedChineseBlock);
}

class UserLanguage : public ::testing::Test {
 protected:
  static constexpr const char* kVariables[] = {"ROMWIZ_LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  void SetUp() override {
    for (const char* name : kVariables) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : kVariables) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::map<std::string, std::string> saved_;
};

TEST_F(UserLanguage, LcAllThenLcMessagesThenLangAndEmptyOnesAreSkipped) {
  EXPECT_EQ(platform::UserLanguageId(), 0u);
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x040Cu);
  ::setenv("LC_MESSAGES", "it_IT.UTF-8", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x0410u);
  ::setenv("LC_ALL", "", 1);  // set but empty: not a choice
  EXPECT_EQ(platform::UserLanguageId(), 0x0410u);
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x0407u);
  ::setenv("LC_ALL", "C", 1);  // C wins and means English
  EXPECT_EQ(platform::UserLanguageId(), 0u);
}

TEST_F(UserLanguage, RomwizLanguageOverridesTheLocaleWhenItNamesAnIdentifier) {
  ::setenv("LANG", "de_DE.UTF-8", 1);
  ::setenv("ROMWIZ_LANGUAGE", "0x0804", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x0804u);
  ::setenv("ROMWIZ_LANGUAGE", "1036", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x040Cu);
  ::setenv("ROMWIZ_LANGUAGE", "0", 1);  // English on purpose
  EXPECT_EQ(platform::UserLanguageId(), 0u);
  ::setenv("ROMWIZ_LANGUAGE", "german", 1);  // not an identifier: the locale holds
  EXPECT_EQ(platform::UserLanguageId(), 0x0407u);
  ::setenv("ROMWIZ_LANGUAGE", "", 1);
  EXPECT_EQ(platform::UserLanguageId(), 0x0407u);
}

TEST(ParseLanguageId, HexOrDecimalWithinSixteenBits) {
  const std::map<std::string, unsigned> good = {{"0x0407", 0x0407}, {"0X040c", 0x040C},
                                                {"1031", 1031},     {"0", 0},
                                                {"0xFFFF", 0xFFFF}, {"65535", 65535}};
  for (const auto& [text, id] : good) {
    unsigned parsed = 12345;
    EXPECT_TRUE(wizard::ParseLanguageId(text.c_str(), parsed)) << text;
    EXPECT_EQ(parsed, id) << text;
  }
  for (const char* bad : {"", "0x", "x407", "0x10000", "65536", "0x04 07", " 1031", "-1", "0x0407z",
                          "99999999999999999999"}) {
    unsigned parsed = 7;
    EXPECT_FALSE(wizard::ParseLanguageId(bad, parsed)) << bad;
    EXPECT_EQ(parsed, 7u) << bad;
  }
  unsigned parsed = 7;
  EXPECT_FALSE(wizard::ParseLanguageId(nullptr, parsed));
}

}  // namespace
