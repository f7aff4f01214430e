// The transfer log on its own: entries from several threads reach the file
// whole and in each thread's order, the file is rotated at 1 MB with one old
// file kept, a full buffer drops entries and says how many, and its lines
// are the lines the handheld's log writes for the same messages.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "port/transfer_log.h"
#include "sim/peers/peer_log.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A line without its time column ("   12.345  ").
std::string Body(const std::string& line) {
  static const std::regex stamp(R"(^ *[0-9]+\.[0-9]{3}  )");
  return std::regex_replace(line, stamp, "");
}

class TransferLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/transfer-log-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    log_ = folder_ + "/romwiz/transfer.log";
  }
  void TearDown() override {
    translog::EndSession("test ended");
    unsetenv("XDG_STATE_HOME");
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  std::string folder_;
  std::string log_;
};

TEST_F(TransferLogTest, EntriesFromEveryThreadReachTheFileInTheirThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kPieces = 120;  // all of them fit in the buffer, whenever the writer runs
  translog::BeginSession("loader path, serial");
  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t) {
    threads.emplace_back([t] {
      for (int piece = 1; piece <= kPieces; ++piece) {
        translog::Sent(translog::Message::Piece, static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(piece));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  translog::EndSession("image transferred");

  std::vector<std::string> lines = Lines(ReadText(log_));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC  link session: loader path, serial)")))
      << lines[1];
  EXPECT_EQ(Body(lines.back()), "end: image transferred");
  std::vector<int> next(kThreads + 1, 1);
  int messages = 0;
  static const std::regex message(R"(pc>hh piece (\d+), (\d+) bytes?)");
  for (const std::string& line : lines) {
    std::smatch m;
    std::string body = Body(line);
    if (!std::regex_match(body, m, message)) continue;
    int thread = std::stoi(m[2]);
    ASSERT_GE(thread, 1);
    ASSERT_LE(thread, kThreads);
    EXPECT_EQ(std::stoi(m[1]), next[thread]) << "thread " << thread << " out of order";
    next[thread] = std::stoi(m[1]) + 1;
    ++messages;
  }
  EXPECT_EQ(messages, kThreads * kPieces);
  EXPECT_EQ(ReadText(log_).find("not logged"), std::string::npos);
}

TEST_F(TransferLogTest, RotatesAtOneMegabyteKeepingOneOldFile) {
  std::filesystem::create_directories(folder_ + "/romwiz");
  const std::string oldest(translog::kRotateBytes - 10, 'a');
  std::ofstream(log_, std::ios::binary) << oldest;

  translog::BeginSession("first");
  translog::Note("first session");
  translog::EndSession("done");
  EXPECT_EQ(ReadText(log_ + ".1"), oldest);
  std::string first = ReadText(log_);
  EXPECT_NE(first.find("first session"), std::string::npos);
  EXPECT_EQ(first.find('a' + std::string(20, 'a')), std::string::npos);

  // A small file grows; a full one moves over the old one.
  translog::BeginSession("second");
  translog::EndSession("done");
  EXPECT_NE(ReadText(log_).find("link session: second"), std::string::npos);
  EXPECT_EQ(ReadText(log_ + ".1"), oldest);
  std::ofstream(log_, std::ios::binary | std::ios::app) << std::string(translog::kRotateBytes, 'b');
  const std::string full = ReadText(log_);
  translog::BeginSession("third");
  translog::EndSession("done");
  EXPECT_EQ(ReadText(log_ + ".1"), full);
  EXPECT_NE(ReadText(log_).find("link session: third"), std::string::npos);
  EXPECT_LT(std::filesystem::file_size(log_), 1000u);
  EXPECT_FALSE(std::filesystem::exists(log_ + ".2"));
}

TEST_F(TransferLogTest, AFullRingDropsAndCountsWhatItCannotHold) {
  static translog::EntryRing ring;  // large: not on the stack
  translog::Entry entry;
  for (std::uint32_t i = 0; i < translog::kEntryCapacity + 5; ++i) {
    entry.length = i;
    ring.Push(entry);
  }
  EXPECT_EQ(ring.TakeDropped(), 5u);
  EXPECT_EQ(ring.TakeDropped(), 0u);
  for (std::uint32_t i = 0; i < translog::kEntryCapacity; ++i) {
    ASSERT_TRUE(ring.Pop(entry));
    EXPECT_EQ(entry.length, i);
  }
  EXPECT_FALSE(ring.Pop(entry));
  // Room again.
  EXPECT_TRUE(ring.Push(entry));
}

// The PC's lines and the handheld's lines for the same messages are the same
// once the time column is taken off: two separate writers, one wording.
TEST_F(TransferLogTest, MessageLinesMatchTheHandheldsLog) {
  using translog::Message;
  translog::BeginSession("compare");
  translog::Sent(Message::WakeUp, 1);
  translog::Received(Message::Ready, 2);
  translog::Sent(Message::ImageLength, 4);
  translog::Received(Message::PieceRequest, 2, 1);
  translog::Sent(Message::Piece, 131072, 1);
  translog::Sent(Message::LoadCommand, 2);
  translog::Received(Message::ErasePrompt, 15);
  translog::Sent(Message::EraseRange, 8);
  translog::Received(Message::DownloadPrompt, 20);
  translog::Sent(Message::DownloadReply, 7);
  translog::Received(Message::BlockPrompt, 9, 2);
  translog::Sent(Message::BlockHeader, 12, 2);
  translog::Sent(Message::Block, 262144, 2);
  translog::EndSession("done");
  {
    peers::PeerLog peer(folder_ + "/link.log", "peer");
    peer.Received("wake-up", 0, 1);
    peer.Sent("ready", 0, 2);
    peer.Received("image length", 0, 4);
    peer.Sent("piece request", 1, 2);
    peer.Received("piece", 1, 131072);
    peer.Received("load command", 0, 2);
    peer.Sent("erase prompt", 0, 15);
    peer.Received("erase range", 0, 8);
    peer.Sent("download prompt", 0, 20);
    peer.Received("download reply", 0, 7);
    peer.Sent("block prompt", 2, 9);
    peer.Received("block header", 2, 12);
    peer.Received("block", 2, 262144);
  }
  auto messages = [](const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : Lines(text)) {
      std::string body = Body(line);
      if (body.rfind("pc>hh ", 0) == 0 || body.rfind("hh>pc ", 0) == 0) found.push_back(body);
    }
    return found;
  };
  std::vector<std::string> pc = messages(ReadText(log_));
  EXPECT_EQ(pc.size(), 13u);
  EXPECT_EQ(pc, messages(ReadText(folder_ + "/link.log")));
  EXPECT_EQ(pc[4], "pc>hh piece 1, 131072 bytes");
  EXPECT_EQ(pc[0], "pc>hh wake-up, 1 byte");
}

}  // namespace
