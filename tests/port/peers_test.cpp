// The simulated handheld's link peers, driven by a PC side built from the
// port layer: the loader protocol and the boot loader protocol written out
// step by step, then the faults.
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "link_fixture.h"
#include "sim/peers/peer_protocols.h"
#include "port/port.h"
#include "wizard/wizard_state.h"

namespace porttest {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kPiece = 0x20000;
constexpr std::uint32_t kBlock = 0x40000;
constexpr std::uint32_t kFlashSize = 0x200000;

Bytes Payload(std::uint32_t size) {
  Bytes payload(size);
  for (std::uint32_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>((i >> 8) ^ (i * 13));
  return payload;
}

Bytes Word(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

bool PcSend(const Bytes& bytes) { return wizard::SendBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size())); }

bool AwaitMessage(std::size_t index, std::uint8_t code, std::uint32_t ms = testsupport::kConditionBoundMs) {
  return Eventually([&] { return wizard::ReceiveBuffer.MessageAt(index, code, 0x00); }, ms);
}

class PeerTest : public LinkTest {
 protected:
  std::unique_ptr<peers::Peer> Start(peers::PeerKind kind, peers::LinkFaults faults = {}) {
    peers::PeerOptions options;
    options.kind = kind;
    options.dosdevices = dosdevices_;
    options.faults = faults;
    options.bootLoaderIdleMs = 300;
    options.onRestart = [this] { ++restarts_; };
    std::string error;
    auto peer = peers::StartPeer(options, flash_, &error);
    EXPECT_NE(peer, nullptr) << error;
    return peer;
  }

  // A serial loader that holds its ready answer back, and the PC's wake-up
  // taken by it (the link started, the "A" received).
  static peers::LinkFaults HeldAtTheReadyAnswer() {
    peers::LinkFaults faults;
    faults.holdAtPiece = 0;
    return faults;
  }
  void WakeUpTaken(peers::Peer& peer) {
    ASSERT_EQ(wizard::StartMessageLink(), 1);
    wizard::ClearReceiveMessage();
    ASSERT_TRUE(PcSend(Bytes{'A'}));
    ASSERT_TRUE(Eventually([&] { return peer.Status().bytesReceived == 1; }));
  }

  // The PC's side of the loader path, short: wake-up, length, every piece on
  // request with the loader block last.
  void SendImageToLoader(const Bytes& payload) {
    wizard::ClearReceiveMessage();
    ASSERT_TRUE(PcSend(Bytes{'A'}));
    ASSERT_TRUE(AwaitMessage(0, 0x05));
    SendLengthAndPieces(payload);
  }
  void SendLengthAndPieces(const Bytes& payload) {
    std::uint32_t length = static_cast<std::uint32_t>(payload.size()) - kBlock;
    wizard::ClearReceiveMessage();
    ASSERT_TRUE(PcSend(Word(length)));
    std::vector<std::uint32_t> order;
    for (std::uint32_t offset = 2 * kBlock; offset < payload.size(); offset += kPiece) order.push_back(offset);
    order.push_back(kBlock);
    order.push_back(kBlock + kPiece);
    for (std::uint32_t offset : order) {
      ASSERT_TRUE(AwaitMessage(0, 0x04)) << "no request for the piece at " << offset;
      wizard::ClearReceiveMessage();
      ASSERT_TRUE(wizard::SendBytes(payload.data() + offset, kPiece));
    }
  }

  void ExpectFlashHolds(const Bytes& payload, std::uint32_t from) {
    for (std::uint32_t i = from; i < payload.size(); ++i) {
      if (flash_.bytes[i] != payload[i]) {
        ADD_FAILURE() << "flash differs at 0x" << std::hex << i;
        return;
      }
    }
    for (std::uint32_t i = 0; i < kBlock; ++i) {
      if (flash_.bytes[i] != 0xEE) {
        ADD_FAILURE() << "the boot block was written at 0x" << std::hex << i;
        return;
      }
    }
  }

  MemoryFlash flash_{kFlashSize, 0xEE};
  std::atomic<int> restarts_{0};
};

TEST(LoaderPieceAddress, PayloadFrom0x80000ThenTheLoaderBlock) {
  EXPECT_EQ(peers::LoaderPieceAddress(0, 6), 0x80000u);
  EXPECT_EQ(peers::LoaderPieceAddress(3, 6), 0xE0000u);
  EXPECT_EQ(peers::LoaderPieceAddress(4, 6), 0x40000u);
  EXPECT_EQ(peers::LoaderPieceAddress(5, 6), 0x60000u);
  EXPECT_EQ(peers::LoaderPieceAddress(0, 1), 0x40000u);
}

TEST_F(PeerTest, SerialLoaderWritesImageAndRestarts) {
  auto peer = Start(peers::PeerKind::SerialLoader);
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  Bytes payload = Payload(0x100000);
  SendImageToLoader(payload);
  ASSERT_TRUE(peer->WaitRestarted(testsupport::kConditionBoundMs));
  EXPECT_EQ(restarts_, 1);
  EXPECT_EQ(peer->Status().blocksWritten, 6u);
  ExpectFlashHolds(payload, kBlock);
  EXPECT_EQ(peer->Status().violations, std::vector<std::string>{});
  // The handheld restarted, but a serial cable stays plugged in: the PC's
  // port stays open on a quiet line, its reader still running, until the PC
  // closes it or the peer is stopped.
  EXPECT_FALSE(Eventually([] { return !wizard::ReaderReady; }, 300));
  EXPECT_TRUE(std::filesystem::exists(peer->LinkPath()));
  peer->Stop();
  EXPECT_TRUE(Eventually([] { return !wizard::ReaderReady; }));
}

TEST_F(PeerTest, UsbLoaderWritesImageAndRestarts) {
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  auto peer = Start(peers::PeerKind::UsbLoader);
  EXPECT_EQ(peer->LinkPath(), dosdevices_ + "/wceusbsh001");
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  Bytes payload = Payload(0x140000);
  SendImageToLoader(payload);
  ASSERT_TRUE(peer->WaitRestarted(testsupport::kConditionBoundMs));
  ExpectFlashHolds(payload, kBlock);
  EXPECT_EQ(peer->Status().violations, std::vector<std::string>{});
}

TEST_F(PeerTest, BootLoaderFollowsItsPromptsAndRestartsWhenThePcIsDone) {
  wizard::Wizard.Critical = true;
  auto peer = Start(peers::PeerKind::BootLoader);
  ASSERT_EQ(wizard::StartBootLoaderLink(), 1);
  Bytes payload = Payload(0x1C0000);  // six blocks after the boot block
  wizard::ClearReceiveBuffer();
  ASSERT_TRUE(PcSend(Bytes{'l', '\r'}));
  std::uint32_t address = kBlock;
  int erases = 0, downloads = 0;
  while (address < payload.size()) {
    ASSERT_TRUE(Eventually([] {
      return wizard::ReceiveBuffer.ContainsByte(0x01) || wizard::ReceiveBuffer.ContainsByte(0x02) ||
             wizard::ReceiveBuffer.ContainsText("download");
    })) << "no prompt before the block at " << address;
    if (wizard::ReceiveBuffer.ContainsByte(0x01)) {
      wizard::ClearReceiveBuffer();
      Bytes range = Word(address);
      Bytes length = Word(0xF40000);
      range.insert(range.end(), length.begin(), length.end());
      ASSERT_TRUE(PcSend(range));
      ++erases;
    } else if (wizard::ReceiveBuffer.ContainsByte(0x02)) {
      wizard::ClearReceiveBuffer();
      Bytes header = Word(address);
      for (std::uint32_t word : {kBlock, 0u}) {
        Bytes bytes = Word(word);
        header.insert(header.end(), bytes.begin(), bytes.end());
      }
      ASSERT_TRUE(PcSend(header));
      ASSERT_TRUE(wizard::SendBytes(payload.data() + address, kBlock));
      address += kBlock;
    } else {
      wizard::ClearReceiveBuffer();
      ASSERT_TRUE(PcSend(Bytes{'B', '0', '0', '0', 'F', 'F', '\n'}));
      ++downloads;
    }
  }
  ASSERT_TRUE(peer->WaitRestarted(testsupport::kConditionBoundMs));
  EXPECT_EQ(erases, 1);
  EXPECT_EQ(downloads, 1);
  EXPECT_EQ(peer->Status().blocksWritten, 6u);
  ExpectFlashHolds(payload, kBlock);
  // The erase covered the rest of the flash beyond the image.
  EXPECT_EQ(flash_.bytes[kFlashSize - 1], 0xFF);
  EXPECT_EQ(peer->Status().violations, std::vector<std::string>{});
}

// What a PC double sends out of turn or out of range: the peer names it.
struct Slip {
  const char* what;
  std::function<void()> pc;  // the PC's side, with the slip in it
  const char* recorded;      // part of the violation the peer records
};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The peer records one violation, and it names `recorded`.
template <typename Peer>
void ExpectOneViolationNaming(Peer& peer, const char* recorded) {
  ASSERT_TRUE(Eventually([&] { return !peer.Status().violations.empty(); }));
  const std::vector<std::string> violations = peer.Status().violations;
  EXPECT_EQ(violations.size(), 1u);
  EXPECT_NE(violations[0].find(recorded), std::string::npos) << violations[0];
}

TEST_F(PeerTest, LoaderRecordsEverySlipOfThePc) {
  const Bytes piece(kPiece, 0x5A);
  const std::uint32_t loaderBlockOnly = 2 * kPiece;
  const Slip slips[] = {
      {"bytes before the wake-up", [] { PcSend(Bytes{'x', 'y', 'A'}); }, "2 bytes before the wake-up"},
      {"the length with the wake-up", [&] { PcSend(Join({Bytes{'A'}, Word(loaderBlockOnly)})); },
       "the length came before the 05 00 answer"},
      {"a piece with the length",
       [&] {
         PcSend(Bytes{'A'});
         ASSERT_TRUE(AwaitMessage(0, 0x05));
         PcSend(Join({Word(loaderBlockOnly), piece}));
       },
       "piece 1 came before its request"},
      {"a byte after the last piece",
       [&] {
         PcSend(Bytes{'A'});
         ASSERT_TRUE(AwaitMessage(0, 0x05));
         wizard::ClearReceiveMessage();
         PcSend(Word(loaderBlockOnly));
         ASSERT_TRUE(AwaitMessage(0, 0x04));
         wizard::ClearReceiveMessage();
         PcSend(piece);
         ASSERT_TRUE(AwaitMessage(0, 0x04));
         PcSend(Join({piece, Bytes{'Z'}}));
       },
       "bytes after the last piece"},
      {"a length beyond the flash",
       [&] {
         PcSend(Bytes{'A'});
         ASSERT_TRUE(AwaitMessage(0, 0x05));
         PcSend(Word(kFlashSize - kBlock + kPiece));
       },
       "is more than the flash takes"},
  };
  for (const Slip& slip : slips) {
    SCOPED_TRACE(slip.what);
    auto peer = Start(peers::PeerKind::SerialLoader);
    ASSERT_EQ(wizard::StartMessageLink(), 1);
    wizard::ClearReceiveMessage();
    slip.pc();
    ExpectOneViolationNaming(*peer, slip.recorded);
    peer->Stop();
    wizard::ShutDownLink();
  }
}

// The boot loader path with one thing wrong: the erase range, the first
// block's header, or the reply to the download prompt (after four blocks).
struct BootLoaderPc {
  std::uint32_t eraseAddress = kBlock;
  std::uint32_t eraseLength = 0xF40000;
  std::uint32_t firstAddress = kBlock;
  std::uint32_t firstThirdWord = 0;
  Bytes reply = {'B', '0', '0', '0', 'F', 'F', '\n'};
  Bytes trailer;  // sent with the last block
};

void DriveBootLoader(const BootLoaderPc& pc, std::uint32_t blocks) {
  wizard::ClearReceiveBuffer();
  ASSERT_TRUE(PcSend(Bytes{'l', '\r'}));
  for (std::uint32_t sent = 0; sent < blocks;) {
    ASSERT_TRUE(Eventually([] {
      return wizard::ReceiveBuffer.ContainsByte(0x01) || wizard::ReceiveBuffer.ContainsByte(0x02) ||
             wizard::ReceiveBuffer.ContainsText("download");
    }));
    if (wizard::ReceiveBuffer.ContainsByte(0x01)) {
      wizard::ClearReceiveBuffer();
      ASSERT_TRUE(PcSend(Join({Word(pc.eraseAddress), Word(pc.eraseLength)})));
    } else if (wizard::ReceiveBuffer.ContainsByte(0x02)) {
      wizard::ClearReceiveBuffer();
      const bool first = sent == 0;
      ++sent;
      ASSERT_TRUE(PcSend(Join({Word(first ? pc.firstAddress : kBlock * sent), Word(kBlock),
                               Word(first ? pc.firstThirdWord : 0), Bytes(kBlock, 0x3C),
                               sent == blocks ? pc.trailer : Bytes{}})));
    } else {
      wizard::ClearReceiveBuffer();
      ASSERT_TRUE(PcSend(pc.reply));
    }
  }
}

TEST_F(PeerTest, BootLoaderRecordsEverySlipOfThePc) {
  struct Case {
    const char* what;
    BootLoaderPc pc;
    std::uint32_t blocks;
    const char* recorded;
  };
  BootLoaderPc wrongRange, thirdWord, bootBlock, outside, wrongReply, trailing;
  wrongRange.eraseLength = 0x100000;
  thirdWord.firstThirdWord = 1;
  bootBlock.firstAddress = 0;
  outside.firstAddress = kFlashSize;
  wrongReply.reply = {'B', '0', '0', '0', 'F', 'E', '\n'};
  trailing.trailer = {'Z'};
  const Case cases[] = {
      {"erase range", wrongRange, 1, "erase range 0x40000 + 0x100000"},
      {"third header word", thirdWord, 1, "third header word 0x1"},
      {"block in the boot block", bootBlock, 1, "aims at the boot block"},
      {"block beyond the flash", outside, 1, "leaves the flash"},
      {"download reply", wrongReply, 5, "reply to the download prompt"},
      {"a byte after the last block", trailing, 2, "bytes after the end"},
  };
  wizard::Wizard.Critical = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto peer = Start(peers::PeerKind::BootLoader);
    ASSERT_EQ(wizard::StartBootLoaderLink(), 1);
    DriveBootLoader(c.pc, c.blocks);
    ExpectOneViolationNaming(*peer, c.recorded);
    peer->Stop();
    wizard::ShutDownLink();
  }
  // The block aimed at the boot block was not written.
  for (std::uint32_t i = 0; i < kBlock; ++i) ASSERT_EQ(flash_.bytes[i], 0xEE) << i;
}

TEST_F(PeerTest, NoiseByteBeforeTheReadyAnswer) {
  peers::LinkFaults faults;
  faults.noiseBeforeMessage = 1;
  auto peer = Start(peers::PeerKind::SerialLoader, faults);
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  ASSERT_TRUE(PcSend(Bytes{'A'}));
  // The noise byte and the answer reach the reader in one burst or in two,
  // as the kernel splits them: the answer then stands behind the noise
  // byte or at the start of a fresh burst. Either way it must arrive whole.
  ASSERT_TRUE(Eventually([] {
    return wizard::ReceiveBuffer.MessageAt(0, 0x05, 0x00) ||
           (wizard::ReceiveBuffer.At(0) != 0 && wizard::ReceiveBuffer.MessageAt(1, 0x05, 0x00));
  }));
  // The peer counts a message once its write has returned, which can be
  // after the PC has read it: wait for the count rather than read it once.
  EXPECT_TRUE(Eventually([&] { return peer->Status().messagesSent == 1u; }));
}

TEST_F(PeerTest, HoldOnZeroKeepsTheReadyAnswerBackUntilMoved) {
  auto peer = Start(peers::PeerKind::SerialLoader, HeldAtTheReadyAnswer());
  ASSERT_NE(peer, nullptr);
  ASSERT_NO_FATAL_FAILURE(WakeUpTaken(*peer));
  // Held: the wake-up is taken and nothing is answered, however long the PC waits.
  EXPECT_FALSE(AwaitMessage(0, 0x05, 300));
  EXPECT_EQ(peer->Status().messagesSent, 0u);
  peer->SetHoldAtPiece(peers::kNever);
  ASSERT_TRUE(AwaitMessage(0, 0x05));
  Bytes payload = Payload(4 * kBlock);
  SendLengthAndPieces(payload);
  ASSERT_TRUE(peer->WaitRestarted(testsupport::kConditionBoundMs));
  ExpectFlashHolds(payload, kBlock);
  EXPECT_TRUE(peer->Status().violations.empty());
}

// The length sent while the ready answer is held back is still early.
TEST_F(PeerTest, LengthDuringTheHoldBeforeTheReadyAnswerIsEarly) {
  auto peer = Start(peers::PeerKind::SerialLoader, HeldAtTheReadyAnswer());
  ASSERT_NE(peer, nullptr);
  ASSERT_NO_FATAL_FAILURE(WakeUpTaken(*peer));
  ASSERT_TRUE(PcSend(Word(2 * kPiece)));
  EXPECT_EQ(peer->Status().messagesSent, 0u);
  peer->SetHoldAtPiece(peers::kNever);
  ExpectOneViolationNaming(*peer, "the length came before the 05 00 answer");
}

TEST_F(PeerTest, SilentAfterMessagesAnswersNoMore) {
  peers::LinkFaults faults;
  faults.silentAfterMessages = 1;
  auto peer = Start(peers::PeerKind::SerialLoader, faults);
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  ASSERT_TRUE(PcSend(Bytes{'A'}));
  ASSERT_TRUE(AwaitMessage(0, 0x05));
  wizard::ClearReceiveMessage();
  ASSERT_TRUE(PcSend(Word(0xC0000)));
  EXPECT_FALSE(AwaitMessage(0, 0x04, 300));
  // The counts are the peer thread's: waited for, not read once.
  EXPECT_TRUE(Eventually([&] {
    const auto status = peer->Status();
    return status.messagesSent == 1u && status.bytesReceived == 5u;
  }));
}

TEST_F(PeerTest, SilentAfterBytesStopsBeforeTheFirstPieceRequest) {
  peers::LinkFaults faults;
  faults.silentAfterBytes = 5;  // "A" and the length
  auto peer = Start(peers::PeerKind::UsbLoader, faults);
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  ASSERT_TRUE(PcSend(Bytes{'A'}));
  ASSERT_TRUE(AwaitMessage(0, 0x05));
  wizard::ClearReceiveMessage();
  ASSERT_TRUE(PcSend(Word(0xC0000)));
  EXPECT_FALSE(AwaitMessage(0, 0x04, 300));
}

TEST_F(PeerTest, DroppedConnectionEndsThePcReader) {
  peers::LinkFaults faults;
  faults.dropAfterBytes = 1;
  auto peer = Start(peers::PeerKind::SerialLoader, faults);
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  ASSERT_TRUE(PcSend(Bytes{'A'}));
  EXPECT_TRUE(Eventually([&] { return peer->Status().dropped; }));
  EXPECT_TRUE(Eventually([] { return !wizard::ReaderReady; }));
  EXPECT_FALSE(wizard::ReceiveBuffer.MessageAt(0, 0x05, 0x00));
  EXPECT_EQ(restarts_, 0);
}

}  // namespace
}  // namespace porttest
