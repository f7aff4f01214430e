// The host system on Linux: the clock block in the Windows layout for
// several time zones.
#include "platform/host_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

int U16(const std::uint8_t* block, std::size_t offset) { return block[offset] | (block[offset + 1] << 8); }
long I32(const std::uint8_t* block, std::size_t offset) {
  std::uint32_t bits = block[offset] | (block[offset + 1] << 8) | (block[offset + 2] << 16) |
                       (static_cast<std::uint32_t>(block[offset + 3]) << 24);
  return static_cast<std::int32_t>(bits);
}
std::string Name(const std::uint8_t* block, std::size_t offset) {
  std::string name;
  for (std::size_t i = 0; i < 32 && U16(block, offset + 2 * i); ++i) name += static_cast<char>(U16(block, offset + 2 * i));
  return name;
}

// Month, weekday, occurrence and hour of a yearly rule.
struct Rule {
  int month, weekday, occurrence, hour;
};
Rule RuleAt(const std::uint8_t* block, std::size_t offset) {
  return {U16(block, offset + 2), U16(block, offset + 4), U16(block, offset + 6), U16(block, offset + 8)};
}

class ClockBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) oldTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_) ::setenv("TZ", oldTz_.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }
  void Read(const char* tz) {
    ::setenv("TZ", tz, 1);
    hostsys::ReadClockBlock(block_);
  }
  std::uint8_t block_[hostsys::kClockBlockSize];
  std::string oldTz_;
  bool hadTz_ = false;
};

TEST_F(ClockBlockTest, ZoneWithoutDaylightSaving) {
  Read("JST-9");
  EXPECT_EQ(I32(block_, 0), -540);  // UTC = local + bias
  EXPECT_EQ(Name(block_, 4), "JST");
  EXPECT_EQ(U16(block_, 68 + 2), 0);  // no standard date
  EXPECT_EQ(U16(block_, 152 + 2), 0); // no daylight date
  EXPECT_EQ(I32(block_, 168), 0);
}

TEST_F(ClockBlockTest, NorthernZoneWithDaylightSaving) {
  Read("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(I32(block_, 0), 300);
  EXPECT_EQ(Name(block_, 4), "EST");
  EXPECT_EQ(Name(block_, 88), "EDT");
  EXPECT_EQ(I32(block_, 84), 0);
  EXPECT_EQ(I32(block_, 168), -60);
  Rule daylight = RuleAt(block_, 152), standard = RuleAt(block_, 68);
  EXPECT_EQ(daylight.month, 3);
  EXPECT_EQ(daylight.weekday, 0);
  EXPECT_EQ(daylight.occurrence, 2);
  EXPECT_EQ(daylight.hour, 2);
  EXPECT_EQ(standard.month, 11);
  EXPECT_EQ(standard.occurrence, 1);
  EXPECT_EQ(standard.hour, 2);
}

TEST_F(ClockBlockTest, LastWeekdayRulesAndSouthernZones) {
  Read("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(I32(block_, 0), -60);
  EXPECT_EQ(RuleAt(block_, 152).occurrence, 5);
  EXPECT_EQ(RuleAt(block_, 152).month, 3);
  EXPECT_EQ(RuleAt(block_, 68).occurrence, 5);
  EXPECT_EQ(RuleAt(block_, 68).hour, 3);

  Read("AEST-10AEDT,M10.1.0,M4.1.0/3");
  EXPECT_EQ(I32(block_, 0), -600);
  EXPECT_EQ(RuleAt(block_, 152).month, 10);
  EXPECT_EQ(RuleAt(block_, 68).month, 4);
  EXPECT_EQ(RuleAt(block_, 68).hour, 3);
  EXPECT_EQ(I32(block_, 168), -60);
}

TEST_F(ClockBlockTest, SystemTimeIsUtc) {
  Read("EST5EDT,M3.2.0,M11.1.0");
  std::time_t now = std::time(nullptr);
  std::tm utc;
  ::gmtime_r(&now, &utc);
  EXPECT_EQ(U16(block_, 172), utc.tm_year + 1900);
  EXPECT_EQ(U16(block_, 174), utc.tm_mon + 1);
  EXPECT_EQ(U16(block_, 176), utc.tm_wday);
  EXPECT_EQ(U16(block_, 178), utc.tm_mday);
  EXPECT_LT(U16(block_, 186), 1000);  // milliseconds
}

// The closing screen's read-me on Linux: the path is printed (backslashes
// read as folder separators), and nothing is opened unless asked for.
TEST(ReadmeTest, PrintsThePathItWouldOpen) {
  ::unsetenv("ROMWIZ_OPEN_README");
  ::testing::internal::CaptureStdout();
  hostsys::OpenReadme("C:\\lumo\\English");
  hostsys::OpenReadme("/opt/lumo/French/");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Read-me: C:/lumo/English/readme.doc\nRead-me: /opt/lumo/French/readme.doc\n");
}

}  // namespace
