// SPDX-License-Identifier: MIT
#include "link/micom_exchange.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pty_line.h"

namespace {

using bytes = std::vector<unsigned char>;

class MicomExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    line = open_pty_line();
    std::optional<micom_port> opened = micom_port_open_path(line.path.c_str(), line.lock_directory.c_str());
    ASSERT_TRUE(opened.has_value());
    port = *opened;
  }
  void TearDown() override {
    micom_port_close(port);
    close_pty_line(line);
  }

  void answer(const bytes& reply) {
    ASSERT_EQ(write(line.far_end, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  }

  bytes read_reply() {
    micom_reply reply = micom_read_reply(port);
    return bytes(reply.bytes, reply.bytes + reply.count);
  }

  pty_line line;
  micom_port port;
};

TEST_F(MicomExchangeTest, SendWritesTheLetterAsOneByteAndAnnouncesIt) {
  testing::internal::CaptureStdout();
  micom_send_command(port, 'V');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "SEND V TO MICOM\n");

  unsigned char received[8];
  ASSERT_EQ(read(line.far_end, received, sizeof received), 1);
  EXPECT_EQ(received[0], 0x56);
}

TEST(CommandExpectsReply, OnlyHAndRGoUnanswered) {
  EXPECT_TRUE(command_expects_reply('S'));
  EXPECT_TRUE(command_expects_reply('V'));
  EXPECT_TRUE(command_expects_reply('W'));
  EXPECT_FALSE(command_expects_reply('H'));
  EXPECT_FALSE(command_expects_reply('R'));
}

TEST_F(MicomExchangeTest, ReplyOneByteAtATimeKeepsItsOrder) {
  std::thread microcontroller([this] {
    for (unsigned char b : {0x01, 0x02, 0x03, 0x04}) {
      answer({b});
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  EXPECT_EQ(read_reply(), (bytes{0x01, 0x02, 0x03, 0x04}));
  microcontroller.join();
}

TEST_F(MicomExchangeTest, ReplyInOneBurstIsTakenWholeAndAnyValueCounts) {
  answer({0x00, 0xA5, 0xFF, 0x7F});
  EXPECT_EQ(read_reply(), (bytes{0x00, 0xA5, 0xFF, 0x7F}));
}

TEST_F(MicomExchangeTest, AFifthByteIsLeftOnTheLine) {
  answer({0x10, 0x20, 0x30, 0x40, 0x50});
  EXPECT_EQ(read_reply(), (bytes{0x10, 0x20, 0x30, 0x40}));
  EXPECT_EQ(bytes_waiting(line), 1);
}

TEST_F(MicomExchangeTest, SilenceIsWaitedOutUntilTheReplyComes) {
  std::thread microcontroller([this] {
    // Several read timeouts pass before the answer.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    answer({0x0A, 0x0B, 0x0C, 0x0D});
  });
  EXPECT_EQ(read_reply(), (bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  microcontroller.join();
}

TEST_F(MicomExchangeTest, HangUpBeforeAnyByteEndsTheReadEmpty) {
  hang_up(line);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_reply(), bytes{});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(MicomExchangeTest, HangUpAfterSomeBytesKeepsThem) {
  std::thread microcontroller([this] {
    answer({0x55});
    wait_until_taken(line);
    hang_up(line);
  });
  EXPECT_EQ(read_reply(), bytes{0x55});
  microcontroller.join();
}

TEST(MicomPrintReply, EachByteAsTwoUpperCaseHexDigits) {
  const unsigned char reply[] = {0x00, 0x0F, 0xA5, 0xFF};
  testing::internal::CaptureStdout();
  micom_print_reply(reply, 4);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "READ DATA(0x00)\nREAD DATA(0x0F)\nREAD DATA(0xA5)\nREAD DATA(0xFF)\n");

  testing::internal::CaptureStdout();
  micom_print_reply(reply, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
