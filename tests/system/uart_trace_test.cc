// SPDX-License-Identifier: MIT
#include "uart_trace.h"

#include <gtest/gtest.h>

namespace {

// How every run below starts its exchange, as the 8250 driver writes it
// (taken from a real trace): the line set to 57600 8N1, then RTS down.
const std::string exchange_start =
    "serial_write write addr 0x03 val 0x93\n"  // 57600 8N1
    "serial_write write addr 0x00 val 0x02\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x13\n"
    "serial_write write addr 0x04 val 0x09\n"  // RTS down
    "serial_write write addr 0x01 val 0x07\n";

// The register writes around one run of "micom v" on a line left at 9600 7E1,
// as the 8250 driver makes them (taken from a real trace, reads left out).
const std::string run_of_v =
    "serial_write write addr 0x03 val 0x9a\n"  // stty before the run: 9600 7E1
    "serial_write write addr 0x00 val 0x0c\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x1a\n"
    "serial_write write addr 0x07 val 0x01\n"  // start mark of case 1
    "serial_write write addr 0x04 val 0x0b\n"  // open raises DTR and RTS
    + exchange_start +
    "serial_write write addr 0x00 val 0x56\n"  // 'V'
    "serial_write write addr 0x01 val 0x05\n"
    "serial_write write addr 0x04 val 0x0b\n"  // RTS up
    "serial_write write addr 0x03 val 0x9a\n"  // restored
    "serial_write write addr 0x00 val 0x0c\n"
    "serial_write write addr 0x01 val 0x00\n"
    "serial_write write addr 0x03 val 0x1a\n"
    "serial_write write addr 0x04 val 0x08\n"
    "serial_write write addr 0x07 val 0x81\n";  // end mark of case 1

TEST(UartTrace, ParsesSerialEventsWithOrWithoutPrefixAndSkipsTheRest) {
  std::vector<uart_access> a = parse_serial_trace(
      "serial_write write addr 0x03 val 0x93\n"
      "12345@1700000000.000001:serial_write write addr 0x00 val 0x02\n"
      "serial_read read addr 0x05 val 0x60\n"
      "serial_update_parameters baudrate=57600 parity='N' data=8 stop=1\n"
      "qemu-system-x86_64: warning: something\n");
  ASSERT_EQ(a.size(), 3u);
  EXPECT_FALSE(a[0].read);
  EXPECT_EQ(a[0].offset, 3u);
  EXPECT_EQ(a[0].value, 0x93u);
  EXPECT_EQ(a[1].offset, 0u);
  EXPECT_EQ(a[1].value, 0x02u);
  EXPECT_TRUE(a[2].read);
  EXPECT_EQ(a[2].offset, 5u);
  EXPECT_EQ(a[2].value, 0x60u);
}

// The H3's four UARTs, 0x400 apart with registers 4 bytes apart, and the
// other devices share one event; only UART2's accesses count.
TEST(UartTrace, ParsesTheMemoryMappedUartsEventsByAddress) {
  std::vector<uart_access> a = parse_mmio_trace(
      "memory_region_ops_write cpu 0 mr 0x55ea01daea20 addr 0x1c2880c value 0x93 size 4 name 'serial'\n"
      "memory_region_ops_write cpu 0 mr 0x55ea01da0000 addr 0x1c28000 value 0x41 size 4 name 'serial'\n"
      "memory_region_ops_read cpu 0 mr 0x55ea01410b60 addr 0x1c81004 value 0x64 size 4 name 'gic_dist'\n"
      "4242@1700000000.000001:memory_region_ops_read cpu 0 mr 0x55ea01daea20 addr 0x1c28814 value 0x60 size 4 "
      "name 'serial'\n"
      "memory_region_ops_write cpu 0 mr 0x55ea01daea20 addr 0x1c2881c value 0x81 size 1 name 'serial'\n"
      "memory_region_ops_write cpu 0 mr 0x55ea01dbea20 addr 0x1c28c00 value 0x62 size 4 name 'serial'\n",
      0x01c28800, 2);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_FALSE(a[0].read);
  EXPECT_EQ(a[0].offset, uart_lcr);
  EXPECT_EQ(a[0].value, 0x93u);
  EXPECT_TRUE(a[1].read);
  EXPECT_EQ(a[1].offset, uart_lsr);
  EXPECT_EQ(a[1].value, 0x60u);
  EXPECT_EQ(a[2].offset, uart_scr);
  EXPECT_EQ(a[2].value, 0x81u);
}

TEST(UartTrace, RunOfVShowsOneFramedByteAndTheLineBeforeAndAfter) {
  uart_run run = uart_run_of(parse_serial_trace(run_of_v), 1);
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

// "micom h" from the byte on, as the 8250 driver makes it (from a real
// trace): RTS up, then the restore, then the close. Its exchange starts as V's.
std::string run_of_h(const char* between_rts_and_restore) {
  return "serial_write write addr 0x07 val 0x01\n"  // start mark of case 1
         + exchange_start +
         "serial_read read addr 0x02 val 0xc2\n"
         "serial_read read addr 0x05 val 0x60\n"
         "serial_write write addr 0x00 val 0x48\n"  // 'H'
         "serial_write write addr 0x01 val 0x05\n"
         "serial_read read addr 0x02 val 0xc1\n"
         "serial_write write addr 0x04 val 0x0b\n"  // RTS up
         + between_rts_and_restore +
         "serial_write write addr 0x01 val 0x05\n"
         "serial_write write addr 0x03 val 0x9a\n"  // restored: 9600 7E1
         "serial_write write addr 0x00 val 0x0c\n"
         "serial_write write addr 0x01 val 0x00\n"
         "serial_write write addr 0x03 val 0x1a\n"
         "serial_read read addr 0x05 val 0x60\n"  // the close waits as well
         "serial_write write addr 0x04 val 0x08\n"
         "serial_write write addr 0x07 val 0x81\n";  // end mark of case 1
}

TEST(UartTrace, RestoreWaitingForTheTransmitterShowsTheLsrReadBeforeTheDivisor) {
  uart_run drained = uart_run_of(parse_serial_trace(run_of_h("serial_read read addr 0x05 val 0x60\n")), 1);
  ASSERT_EQ(drained.sent.size(), 1u);
  EXPECT_EQ(drained.sent[0].next_mcr, 0x0b);
  EXPECT_EQ(drained.sent[0].lsr_before_divisor, 0x60);
  EXPECT_EQ(drained.after.divisor, 12u);

  uart_run at_once = uart_run_of(parse_serial_trace(run_of_h("")), 1);
  ASSERT_EQ(at_once.sent.size(), 1u);
  EXPECT_EQ(at_once.sent[0].lsr_before_divisor, -1) << "the reads before the byte and in the close do not count";
}

TEST(UartTrace, OtherMarksAndMissingEndMarkAreNotTheRun) {
  std::vector<uart_access> w = parse_serial_trace(run_of_v);
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
