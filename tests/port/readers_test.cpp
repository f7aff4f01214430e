// The three readers against a pseudo-terminal peer: what ends up in the
// receive buffer, and that they end when told to.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "platform/clock.h"
#include "port/port.h"
#include "wizard/wizard_state.h"

namespace porttest {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool BufferHas(std::size_t index, std::uint8_t first, std::uint8_t second) {
  return wizard::ReceiveBuffer.MessageAt(index, first, second);
}

class SerialReaderTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    Line("com1");
    ASSERT_EQ(wizard::StartMessageLink(), 1);
  }
};

TEST_F(SerialReaderTest, TwoByteMessageThenTheAwaitedPlaceThenZeros) {
  Send(Bytes{0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
  // The cursor moves just after the byte is stored: waited for, not read once.
  EXPECT_TRUE(Eventually([] { return wizard::ReceiveCursor.load() == 2u; }));
  Bytes expected(wizard::kReceiveBufferSize, 0);
  expected[0] = 0x04;
  expected[2] = wizard::kNotYetReceived;
  EXPECT_EQ(BufferStart(wizard::kReceiveBufferSize), expected);
}

TEST_F(SerialReaderTest, NoiseByteBeforeAnswerStaysAhead) {
  Send(Bytes{0xFF, 0x05, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(1, 0x05, 0x00); }));
  EXPECT_EQ(wizard::ReceiveBuffer.At(0), 0xFF);
}

TEST_F(SerialReaderTest, BurstOf5000BytesNeverOverflowsAndReaderGoesOn) {
  Bytes burst(5000);
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<std::uint8_t>('a' + i % 26);
  const std::string tail = "789";  // fewer bytes than a restart keeps
  std::copy(tail.begin(), tail.end(), burst.end() - 3);
  Send(burst);
  // The burst's last bytes are in the buffer once it has all been taken in.
  ASSERT_TRUE(Eventually([] {
    std::uint32_t cursor = wizard::ReceiveCursor.load();
    return cursor >= 3 && wizard::ReceiveBuffer.At(cursor - 3) == '7' &&
           wizard::ReceiveBuffer.At(cursor - 2) == '8' && wizard::ReceiveBuffer.At(cursor - 1) == '9';
  }));
  EXPECT_LT(wizard::ReceiveCursor.load(), wizard::kReceiveBufferSize);
  EXPECT_EQ(wizard::ReceiveBuffer.At(wizard::kReceiveBufferSize - 1), 0) << "the last byte must stay 0";
  EXPECT_TRUE(wizard::ReaderReady);
  // The protocol clears the buffer, and the next message arrives as usual.
  wizard::ClearReceiveBuffer();
  Send(Bytes{0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
  EXPECT_EQ(wizard::ReceiveBuffer.At(2), wizard::kNotYetReceived);
  EXPECT_EQ(wizard::ReceiveBuffer.At(3), 0);
}

TEST_F(SerialReaderTest, StopWorkersEndsReaderPromptly) {
  ASSERT_TRUE(wizard::ReaderReady);
  wizard::Workers.StopWorkers = true;
  EXPECT_TRUE(Eventually([] { return !wizard::ReaderReady; }));
}

TEST_F(SerialReaderTest, DroppedConnectionEndsReader) {
  line_->Close();
  EXPECT_TRUE(Eventually([] { return !wizard::ReaderReady; }));
}

TEST_F(SerialReaderTest, ShutDownLinkWaitsForReaderWhileAMessageIsPending) {
  // A whole message makes the reader pause; the shutdown must still wait for
  // it before the port closes.
  platform::SetTimeScale(1);
  Send(Bytes{0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
  wizard::ShutDownLink();
  EXPECT_FALSE(wizard::ReaderReady);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
}

TEST_F(LinkTest, SerialReaderPollsWhenDriverCannotWaitForEvents) {
  setenv("ROMWIZ_LINK_NO_EVENT_WAIT", "1", 1);
  Line("com1");
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  Send(Bytes{0x05, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x05, 0x00); }));
  // A poll that finds nothing must not wipe the message the protocol has
  // not acted on yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(BufferHas(0, 0x05, 0x00));
  wizard::ClearReceiveMessage();
  Send(Bytes{0x04, 0x00});
  EXPECT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
}

TEST_F(LinkTest, UsbReaderPollsWhenTheDeviceKnowsNoUsbControls) {
  setenv("ROMWIZ_LINK_NO_EVENT_WAIT", "1", 1);
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  Line("wceusbsh001");
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  Send(Bytes{0x04, 0x00, 0x05, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x05, 0x00); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(BufferHas(0, 0x05, 0x00)) << "a poll lost the pending message";
  wizard::ClearReceiveMessage();
  Send(Bytes{0x04, 0x00});
  EXPECT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
}

class UsbReaderTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    wizard::Wizard.ConnectionType = wizard::Connection::Usb;
    Line("wceusbsh001");
    ASSERT_EQ(wizard::StartMessageLink(), 1);
  }
};

TEST_F(UsbReaderTest, KeepsOnlyTheLatestMessage) {
  Send(Bytes{0x04, 0x00, 0x05, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x05, 0x00); }));
  EXPECT_EQ(wizard::ReceiveBuffer.At(2), 0);
  // Once the protocol has cleared it, the next message comes in.
  wizard::ClearReceiveMessage();
  Send(Bytes{0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
}

TEST_F(UsbReaderTest, MessageSplitAcrossReadsAndNoiseByteAreReassembled) {
  Send(Bytes{0x05});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Send(Bytes{0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x05, 0x00); }));
  wizard::ClearReceiveMessage();
  Send(Bytes{0xFF, 0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
}

TEST_F(UsbReaderTest, StopWorkersEndsReaderWhileAMessageIsPending) {
  Send(Bytes{0x04, 0x00});
  ASSERT_TRUE(Eventually([] { return BufferHas(0, 0x04, 0x00); }));
  wizard::Workers.StopWorkers = true;
  EXPECT_TRUE(Eventually([] { return !wizard::ReaderReady; }));
}

class BootLoaderReaderTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    wizard::Wizard.Critical = true;
    Line("com1");
    ASSERT_EQ(wizard::StartBootLoaderLink(), 1);
  }
};

// After a prompt the reader pauses, then collects what follows into a fresh
// buffer. What the buffer ends up holding shows where the collection
// stopped, however the test thread is scheduled: a reader that read on past
// the prompt would keep the whole text, never the rest alone.
bool BufferSettlesOn(const std::string& rest) {
  return Eventually([&] {
    return wizard::ReceiveCursor.load() == rest.size() && BufferStart(rest.size()) == Bytes(rest.begin(), rest.end());
  });
}

TEST_F(BootLoaderReaderTest, StopsCollectingAtDownloadInMidText) {
  Send(std::string("Ready for download now"));
  EXPECT_TRUE(BufferSettlesOn(" now"));
}

TEST_F(BootLoaderReaderTest, StopsAtPromptBytes) {
  Send(std::string("Erase\x01 more"));
  EXPECT_TRUE(BufferSettlesOn(" more"));
}

TEST_F(BootLoaderReaderTest, FindsDownloadSplitAcrossTheBufferRestart) {
  // 995 bytes of text and then "download": the buffer fills after "down"
  // and starts over; the prompt must still be found.
  std::string text(995, '.');
  text += "download";
  Send(text);
  ASSERT_TRUE(Eventually([] { return wizard::ReceiveBuffer.ContainsText("download"); }));
  EXPECT_LT(wizard::ReceiveCursor.load(), 20u);
  EXPECT_EQ(wizard::ReceiveBuffer.At(wizard::kReceiveBufferSize - 1), 0);
}

TEST_F(BootLoaderReaderTest, ShutDownEndsReaderWaitingForTheRestOfAPrompt) {
  Send(std::string("no prompt yet"));
  ASSERT_TRUE(Eventually([] { return wizard::ReceiveBuffer.ContainsText("yet"); }));
  wizard::ShutDownLink();
  EXPECT_FALSE(wizard::ReaderReady);
}

TEST(ReceiveBufferTest, SearchesStopAtTheFirstZeroAndAtTheEnd) {
  wizard::ClearReceiveBuffer();
  for (char c : std::string("ab\x02")) wizard::AppendReceivedByte(static_cast<std::uint8_t>(c));
  EXPECT_TRUE(wizard::ReceiveBuffer.ContainsByte(0x02));
  wizard::ReceiveBuffer.Set(1, 0);
  EXPECT_FALSE(wizard::ReceiveBuffer.ContainsByte(0x02)) << "bytes after the terminator are not content";
  // A full buffer: appends restart, and nothing is ever written past the end.
  wizard::ClearReceiveBuffer();
  for (int i = 0; i < 3000; ++i) wizard::AppendReceivedByte('x');
  EXPECT_EQ(wizard::ReceiveBuffer.At(wizard::kReceiveBufferSize - 1), 0);
  EXPECT_LE(wizard::ReceiveCursor.load(), wizard::kReceiveLimit);
  EXPECT_FALSE(wizard::ReceiveBuffer.ContainsText("y"));
  EXPECT_FALSE(wizard::ReceiveBuffer.MessageAt(wizard::kReceiveBufferSize - 1, 0, 0));
  wizard::ClearReceiveBuffer();
}

TEST(ReceiveBufferTest, AMessageIsWholeOnlyOnceItsSecondByteHasCome) {
  // The reader slowed between the two bytes of the ready answer: the
  // protocol must not take the answer yet, or its second byte would land at
  // the start after the protocol's clear and push the next message off.
  wizard::ClearReceiveBuffer();
  wizard::AppendReceivedByte(0x05);
  EXPECT_FALSE(wizard::ReceiveBuffer.MessageAt(0, 0x05, 0x00));
  wizard::AppendReceivedByte(0x00);
  EXPECT_TRUE(wizard::ReceiveBuffer.MessageAt(0, 0x05, 0x00));
  // Behind a noise byte, as the wake-up looks for it.
  wizard::ClearReceiveBuffer();
  wizard::AppendReceivedByte(0x7E);
  wizard::AppendReceivedByte(0x05);
  EXPECT_FALSE(wizard::ReceiveBuffer.MessageAt(1, 0x05, 0x00));
  wizard::AppendReceivedByte(0x00);
  EXPECT_TRUE(wizard::ReceiveBuffer.MessageAt(1, 0x05, 0x00));
  wizard::ClearReceiveBuffer();
}

TEST(ReceiveBufferTest, AMessageAfterOneTheProtocolClearedInTheSameBurstLandsAtTheStart) {
  // The loader's ready answer and its first piece request can reach the
  // reader in one burst when the protocol answers quickly in between.
  wizard::ClearReceiveBuffer();
  wizard::AppendReceivedByte(0x05);
  wizard::AppendReceivedByte(0x00);
  ASSERT_TRUE(wizard::ReceiveBuffer.MessageAt(0, 0x05, 0x00));
  wizard::ClearReceiveMessage();
  wizard::AppendReceivedByte(0x04);
  wizard::AppendReceivedByte(0x00);
  EXPECT_TRUE(wizard::ReceiveBuffer.MessageAt(0, 0x04, 0x00));
  EXPECT_EQ(wizard::ReceiveCursor.load(), 2u);
  wizard::ClearReceiveBuffer();
}

}  // namespace
}  // namespace porttest
