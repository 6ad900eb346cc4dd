#include "uart_trace.h"

#include <gtest/gtest.h>

namespace {

// The register writes around one run of "micom v" on a line left at 9600 7E1,
// as the 8250 driver makes them (taken from a real trace, reads left out).
const char kRunOfV[] =
    "serial_write write addr 0x03 val 0x9a\n"  // stty before the run: 9600 7E1
    "serial_write write addr 0x00 val 0x0c\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x1a\n"
    "serial_write write addr 0x07 val 0x01\n"  // start mark of case 1
    "serial_write write addr 0x04 val 0x0b\n"  // open raises DTR and RTS
    "serial_write write addr 0x03 val 0x93\n"  // 57600 8N1
    "serial_write write addr 0x00 val 0x02\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x13\n"
    "serial_write write addr 0x04 val 0x09\n"  // RTS down
    "serial_write write addr 0x01 val 0x07\n"
    "serial_write write addr 0x00 val 0x56\n"  // 'V'
    "serial_write write addr 0x01 val 0x05\n"
    "serial_write write addr 0x04 val 0x0b\n"  // RTS up
    "serial_write write addr 0x03 val 0x9a\n"  // restored
    "serial_write write addr 0x00 val 0x0c\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x1a\n"
    "serial_write write addr 0x04 val 0x08\n"
    "serial_write write addr 0x07 val 0x81\n";  // end mark of case 1

TEST(UartTrace, ParsesWriteEventsWithOrWithoutPrefixAndSkipsTheRest) {
  std::vector<uart_write> w = parse_uart_writes(
      "serial_write write addr 0x03 val 0x93\n"
      "12345@1700000000.000001:serial_write write addr 0x00 val 0x02\n"
      "serial_read read addr 0x05 val 0x60\n"
      "serial_update_parameters baudrate=57600 parity='N' data=8 stop=1\n"
      "qemu-system-x86_64: warning: something\n");
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].offset, 3u);
  EXPECT_EQ(w[0].value, 0x93u);
  EXPECT_EQ(w[1].offset, 0u);
  EXPECT_EQ(w[1].value, 0x02u);
}

TEST(UartTrace, RunOfVShowsOneFramedByteAndTheLineBeforeAndAfter) {
  uart_run run = uart_run_of(parse_uart_writes(kRunOfV), 1);
  ASSERT_TRUE(run.found);
  EXPECT_EQ(run.before.divisor, 12u);
  EXPECT_EQ(uart_frame(run.before.lcr), "7E1");
  ASSERT_EQ(run.sent.size(), 1u) << "divisor bytes written under DLAB are not sent bytes";
  EXPECT_EQ(run.sent[0].value, 0x56u);
  EXPECT_EQ(run.sent[0].line.divisor, 2u);
  EXPECT_EQ(uart_frame(run.sent[0].line.lcr), "8N1");
  EXPECT_EQ(run.sent[0].mcr & uart_mcr_rts, 0u);
  EXPECT_EQ(run.sent[0].next_mcr, 0x0b);
  EXPECT_EQ(run.after.divisor, 12u);
  EXPECT_EQ(uart_frame(run.after.lcr), "7E1");
}

TEST(UartTrace, OtherMarksAndMissingEndMarkAreNotTheRun) {
  std::vector<uart_write> w = parse_uart_writes(kRunOfV);
  EXPECT_FALSE(uart_run_of(w, 2).found);
  w.pop_back();
  uart_run cut = uart_run_of(w, 1);
  EXPECT_FALSE(cut.found);
}

TEST(UartTrace, FrameNamesDataBitsParityAndStopBits) {
  EXPECT_EQ(uart_frame(0x03), "8N1");
  EXPECT_EQ(uart_frame(0x13), "8N1") << "even-parity select means nothing with parity off";
  EXPECT_EQ(uart_frame(0x1a), "7E1");
  EXPECT_EQ(uart_frame(0x0b), "8O1");
  EXPECT_EQ(uart_frame(0x07), "8N2");
}

}  // namespace
