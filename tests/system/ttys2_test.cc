// SPDX-License-Identifier: MIT
// micom on the 8250 driver's /dev/ttyS2 in a booted Debian kernel, judged from
// the guest's report (micom's output and status, the line's settings, the
// driver's counters, which device ttyS2 is), from qemu's trace of the UART's
// registers and from what reached the simulated microcontroller.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "guest_boot.h"

namespace {

// The guest leaves the line at 9600 7E1, canonical, before each run.
constexpr unsigned long icanon = 0x2, echo = 0x8;
constexpr unsigned long clocal = 0x800;

using lines = std::vector<std::string>;

// One field of an "stty -g" line (0: iflag, 1: oflag, 2: cflag, 3: lflag), in hex.
unsigned long stty_field(const std::string& g, int index) {
  std::string::size_type at = 0;
  for (int i = 0; i < index && at != std::string::npos; ++i) at = g.find(':', at) + 1;
  return std::strtoul(g.c_str() + at, nullptr, 16);
}

// Change of a driver counter ("tx", "rx") across the run.
long counter_delta(const guest_case& c, const char* name) {
  return uart_counter(c.fields.at("uart-after"), name) - uart_counter(c.fields.at("uart-before"), name);
}

// The UART of the H3 board, as the device tree names it, and the edits that
// make it ttyS2 as a board vendor's tree does.
const char uart2_node[] = "/soc/serial@1c28800";
const dt_property uart2_enabled = {uart2_node, "status", "okay"};
const dt_property uart2_is_serial2 = {"/aliases", "serial2", uart2_node};

// The guests, each a type so that each suite boots once per guest. The
// divisors are Linux's for 9600 (before and after each run) and 57600 baud;
// ttys2_device is the device and driver that sysfs shows behind ttyS2;
// uart_slots are the driver's ttyS slots with a UART behind them.
struct x86_64_guest {
  static constexpr guest_machine machine = guest_machine::x86_64;
  static constexpr const char* name = "x86_64";
  static constexpr unsigned prior_divisor = 12, exchange_divisor = 2;  // 1.8432 MHz
  static constexpr const char* ttys2_device = "00:00 serial";          // ACPI's PNP0501, by 8250_pnp
  static constexpr int no_uart_slot = 1;                               // the legacy ttyS1 (0x2f8): nothing there
  static std::vector<int> uart_slots() { return {2}; }
  static std::vector<dt_property> device_tree() { return {}; }
};
struct armhf_guest {
  static constexpr guest_machine machine = guest_machine::armhf;
  static constexpr const char* name = "armhf";
  static constexpr unsigned prior_divisor = 12, exchange_divisor = 2;  // 1.8432 MHz
  static constexpr const char* ttys2_device = "0000:00:01.0 serial";   // the card, by 8250_pci
  static constexpr int no_uart_slot = 4;                               // the card takes ttyS0 to ttyS3
  static std::vector<int> uart_slots() { return {0, 1, 2, 3}; }
  static std::vector<dt_property> device_tree() { return {}; }
};
struct orangepi_pc_guest {
  static constexpr guest_machine machine = guest_machine::orangepi_pc;
  static constexpr const char* name = "orangepi_pc";
  static constexpr unsigned prior_divisor = 156, exchange_divisor = 26;  // 24 MHz
  static constexpr const char* ttys2_device = "1c28800.serial dw-apb-uart";
  static constexpr int no_uart_slot = 1;                      // UART1 stays disabled
  static std::vector<int> uart_slots() { return {0, 2, 3}; }  // UART0 the console, UART3 the report
  static std::vector<dt_property> device_tree() { return {uart2_enabled, uart2_is_serial2}; }
};
using machines = ::testing::Types<x86_64_guest, armhf_guest, orangepi_pc_guest>;

struct machine_name {
  template <typename M>
  static std::string GetName(int) {
    return M::name;
  }
};

// The run as the UART's registers saw it: the command byte alone, sent at
// 57600 8N1 with RTS down, and RTS raised by the next MCR write.
template <typename M>
void expect_one_framed_byte(const uart_run& wire, char letter) {
  ASSERT_TRUE(wire.found) << "the run's marks are missing from the trace";
  ASSERT_EQ(wire.sent.size(), 1u) << "bytes written to the transmit register during the run";
  const uart_sent_byte& b = wire.sent[0];
  EXPECT_EQ(b.value, static_cast<unsigned>(letter));
  EXPECT_EQ(b.line.divisor, M::exchange_divisor);
  EXPECT_EQ(uart_frame(b.line.lcr), "8N1");
  EXPECT_EQ(b.mcr & uart_mcr_rts, 0u) << "RTS is down while the byte is written; MCR " << b.mcr;
  ASSERT_GE(b.next_mcr, 0) << "no MCR write after the byte";
  EXPECT_NE(b.next_mcr & uart_mcr_rts, 0u) << "the next MCR write raises RTS; MCR " << b.next_mcr;
}

// The saved settings go back only once the command byte is out: between
// RTS rising and the divisor's reprogramming the driver reads LSR until the
// transmitter is empty. A restore that does not wait reprograms at once.
void expect_restore_after_the_byte_left(const uart_run& wire) {
  ASSERT_EQ(wire.sent.size(), 1u);
  int lsr = wire.sent[0].lsr_before_divisor;
  ASSERT_GE(lsr, 0) << "no LSR read between RTS rising and the divisor's reprogramming: "
                       "the restore did not wait for the transmitter";
  EXPECT_EQ(static_cast<unsigned>(lsr) & uart_lsr_transmitter_empty, uart_lsr_transmitter_empty) << "LSR " << lsr;
}

// The line's settings, and the UART's, are as before the run; local_flags
// are those the guest had set.
template <typename M>
void expect_line_left_as_found(const guest_case& c, const uart_run& wire, unsigned long local_flags) {
  const std::string& before = c.fields.at("stty-before");
  EXPECT_EQ(c.fields.at("stty-after"), before);
  EXPECT_EQ(stty_field(before, 3) & (icanon | echo), local_flags) << "the line micom found";
  EXPECT_EQ(wire.before.divisor, M::prior_divisor);
  EXPECT_EQ(uart_frame(wire.before.lcr), "7E1");
  EXPECT_EQ(wire.after.divisor, M::prior_divisor);
  EXPECT_EQ(uart_frame(wire.after.lcr), "7E1");
}

// A ttyS slot with no UART behind it: no terminal, so micom must not send.
void expect_open_failed(const guest_case& c) {
  EXPECT_EQ(c.fields.at("status"), "255");
  EXPECT_EQ(c.out, lines{"MICOM OPEN FAILED"});
  EXPECT_TRUE(c.err.empty()) << c.err[0];
}

// What the driver's slot N holds, from a slot case's report.
std::string slot_line(const guest_case& c, int n) { return c.fields.at("serial-" + std::to_string(n)); }
std::string slot_device(const guest_case& c, int n) { return c.fields.at("device-" + std::to_string(n)); }
bool slot_has_uart(const guest_case& c, int n) { return slot_line(c, n).find("uart:unknown") == std::string::npos; }

void expect_output(const guest_case& c, const lines& out) {
  EXPECT_EQ(c.fields.at("status"), "0");
  EXPECT_EQ(c.out, out);
  EXPECT_TRUE(c.err.empty()) << c.err[0];
}

// A suite shares one boot; each test looks at one case of it.
template <typename Suite>
class GuestSuite : public ::testing::Test {
 protected:
  static void boot(const guest_setup& setup) { outcome_ = run_guest(setup); }
  static void TearDownTestSuite() { outcome_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(outcome_);
    if (!outcome_->skip.empty()) GTEST_SKIP() << outcome_->skip;
    ASSERT_EQ(outcome_->error, "");
  }

  static const guest_outcome& outcome() { return *outcome_; }
  // Case n (1 = first of the list) and its run in the trace.
  static const guest_case& guest(unsigned n) { return outcome_->report.cases.at(n - 1); }
  static uart_run wire(unsigned n) { return uart_run_of(outcome_->uart, n); }

 private:
  static std::optional<guest_outcome> outcome_;
};

template <typename Suite>
std::optional<guest_outcome> GuestSuite<Suite>::outcome_;

// Every run's /dev/ttyS2 is the UART wired to the sim, and the sim got the
// bytes sent.
template <typename M>
void expect_ttys2_reaches_the_sim(const guest_outcome& boot, const std::vector<int>& received) {
  for (const guest_case& c : boot.report.cases) {
    if (c.fields.count("device")) {
      EXPECT_EQ(c.fields.at("device"), M::ttys2_device) << c.name;
    }
  }
  EXPECT_EQ(boot.sim_received, received);
}

// What micom prints for V's reply in the burst boots.
const lines burst_v = {"SEND V TO MICOM", "READ DATA(0x00)", "READ DATA(0x0D)", "READ DATA(0x13)", "READ DATA(0xFF)"};

// The sim answers at once, the whole reply in one write.
template <typename M>
class BurstReply : public GuestSuite<BurstReply<M>> {
 protected:
  static void SetUpTestSuite() {
    // V's reply holds bytes that a cooked line would drop or change: NUL, CR, XOFF, 0xFF.
    BurstReply::boot({M::machine,
                      std::string("burst-") + M::name,
                      {"--reply", "V=000D13FF", "--reply", "W=A1A2A3A4"},
                      "run:v,run:h,run:r,stale:W:v,slot:" + std::to_string(M::no_uart_slot) + ":v,leader:v,locked:v",
                      M::device_tree()});
  }
};
TYPED_TEST_SUITE(BurstReply, machines, machine_name);

// The command bytes from micom, W from the process holding the line in the
// stale case, nothing from the slot with no UART.
TYPED_TEST(BurstReply, Ttys2IsTheUartOfTheSim) {
  expect_ttys2_reaches_the_sim<TypeParam>(this->outcome(), {'V', 'H', 'R', 'W', 'V', 'V'});
}

TYPED_TEST(BurstReply, V_RawReplyComesThroughTheDriver) {
  const guest_case& c = this->guest(1);
  ASSERT_EQ(c.name, "run:v");
  expect_output(c, burst_v);
  EXPECT_EQ(counter_delta(c, "tx"), 1);
  EXPECT_EQ(counter_delta(c, "rx"), 4);
}

TYPED_TEST(BurstReply, V_OneCommandByteAt57600_8N1FramedByRts) {
  expect_one_framed_byte<TypeParam>(this->wire(1), 'V');
}

TYPED_TEST(BurstReply, V_LineIsLeftAsFound) {
  expect_line_left_as_found<TypeParam>(this->guest(1), this->wire(1), icanon | echo);
}

// H and R have no reply: the restore follows the write at once, while the
// byte may still be leaving the UART.
template <typename M>
void expect_sent_alone_and_restored_once_out(const guest_case& c, const uart_run& wire, char letter) {
  ASSERT_EQ(c.name, std::string("run:") + static_cast<char>(letter + 0x20));
  expect_output(c, {std::string("SEND ") + letter + " TO MICOM"});
  EXPECT_EQ(counter_delta(c, "tx"), 1);
  expect_one_framed_byte<M>(wire, letter);
  expect_restore_after_the_byte_left(wire);
  expect_line_left_as_found<M>(c, wire, icanon | echo);
}

TYPED_TEST(BurstReply, H_SendsAndReadsNothingAndRestoresOnceTheByteIsOut) {
  expect_sent_alone_and_restored_once_out<TypeParam>(this->guest(2), this->wire(2), 'H');
}

TYPED_TEST(BurstReply, R_SendsAndReadsNothingAndRestoresOnceTheByteIsOut) {
  expect_sent_alone_and_restored_once_out<TypeParam>(this->guest(3), this->wire(3), 'R');
}

// Another process holds the line open and has W's answer waiting unread in
// its input when micom starts: micom must discard it and report V's answer.
TYPED_TEST(BurstReply, StaleInputAtOpenIsNotTakenForTheReply) {
  const guest_case& c = this->guest(4);
  ASSERT_EQ(c.name, "stale:W:v");
  ASSERT_EQ(c.fields.at("stale-received"), "4") << "W's answer had not arrived before micom started";
  expect_output(c, burst_v);
  expect_one_framed_byte<TypeParam>(this->wire(4), 'V');
  // No echo: the holder would echo the stale bytes to the sim.
  expect_line_left_as_found<TypeParam>(c, this->wire(4), icanon);
}

// A ttyS slot that the driver keeps with no UART behind it, standing at
// /dev/ttyS2 (a board that numbered its ports otherwise).
TYPED_TEST(BurstReply, SlotWithNoUartAtTtys2FailsTheOpen) {
  const guest_case& c = this->guest(5);
  ASSERT_EQ(c.name, "slot:" + std::to_string(TypeParam::no_uart_slot) + ":v");
  std::vector<int> uarts = TypeParam::uart_slots();
  for (int n = 0; c.fields.count("serial-" + std::to_string(n)); ++n) {
    bool expected = std::find(uarts.begin(), uarts.end(), n) != uarts.end();
    EXPECT_EQ(slot_has_uart(c, n), expected) << slot_line(c, n);
  }
  ASSERT_TRUE(c.fields.count("serial-" + std::to_string(TypeParam::no_uart_slot)));
  expect_open_failed(c);
}

// Another process holds the line while micom runs in a session of its own,
// as a service does: micom's exit leaves the holder's line working.
TYPED_TEST(BurstReply, SessionLeaderLeavesTheLineWorkingForItsOtherHolder) {
  const guest_case& c = this->guest(6);
  ASSERT_EQ(c.name, "leader:v");
  expect_output(c, burst_v);
  EXPECT_EQ(c.fields.at("holder-after"), "open") << "micom's exit hung the line up";
  expect_one_framed_byte<TypeParam>(this->wire(6), 'V');
  expect_line_left_as_found<TypeParam>(c, this->wire(6), icanon | echo);
}

// minicom or cu holds the line by its lock file: micom sends nothing, leaves
// the line as it was and the lock file to its holder.
TYPED_TEST(BurstReply, ALineLockedByALiveProgramFailsTheOpenAndIsLeftAlone) {
  const guest_case& c = this->guest(7);
  ASSERT_EQ(c.name, "locked:v");
  expect_open_failed(c);
  EXPECT_EQ(counter_delta(c, "tx"), 0);
  EXPECT_EQ(c.fields.at("stty-after"), c.fields.at("stty-before"));
  EXPECT_EQ(c.fields.at("lock-after"), "kept");
}

// The sim sends the reply one byte at a time, 0.3 s apart: longer than the
// line's 0.1 s read timeout, so micom sees silent reads between the bytes.
template <typename M>
class GappedReply : public GuestSuite<GappedReply<M>> {
 protected:
  static void SetUpTestSuite() {
    GappedReply::boot({M::machine,
                       std::string("gapped-") + M::name,
                       {"--gap", "300", "--reply", "S=01020304"},
                       "run:s",
                       M::device_tree()});
  }
};
TYPED_TEST_SUITE(GappedReply, machines, machine_name);

TYPED_TEST(GappedReply, S_ReplyArrivingByteByByteIsCollectedInOrder) {
  const guest_case& c = this->guest(1);
  ASSERT_EQ(c.name, "run:s");
  expect_output(c, {"SEND S TO MICOM", "READ DATA(0x01)", "READ DATA(0x02)", "READ DATA(0x03)", "READ DATA(0x04)"});
  EXPECT_EQ(counter_delta(c, "rx"), 4);
  expect_ttys2_reaches_the_sim<TypeParam>(this->outcome(), {'S'});
  expect_one_framed_byte<TypeParam>(this->wire(1), 'S');
  expect_line_left_as_found<TypeParam>(c, this->wire(1), icanon | echo);
}

// The MICOM drives no carrier detect, and the line lacks CLOCAL (a getty
// once ran on the port, or someone ran `stty -clocal`).
template <typename M>
class NoCarrier : public GuestSuite<NoCarrier<M>> {
 protected:
  static void SetUpTestSuite() {
    guest_setup setup = {
        M::machine, std::string("no-carrier-") + M::name, {"--reply", "V=000D13FF"}, "nocarrier:v", M::device_tree()};
    setup.no_carrier = true;
    NoCarrier::boot(setup);
  }
};
TYPED_TEST_SUITE(NoCarrier, machines, machine_name);

// A run whose open waited for carrier would never start its exchange.
TYPED_TEST(NoCarrier, V_CompletesWithoutWaitingForCarrierAndLeavesMinusClocal) {
  const guest_case& c = this->guest(1);
  ASSERT_EQ(c.name, "nocarrier:v");
  // Else the test proves nothing: the line lacked CLOCAL, and the UART read no carrier.
  EXPECT_EQ(stty_field(c.fields.at("stty-before"), 2) & clocal, 0u);
  const std::string& modem = c.fields.at("uart-before");
  EXPECT_EQ(modem.find("|CD"), std::string::npos) << modem;
  EXPECT_EQ(modem.find(" CD"), std::string::npos) << modem;
  const uart_run wire = this->wire(1);
  ASSERT_FALSE(wire.msr_reads.empty()) << "the driver never read the modem status during the run";
  for (unsigned msr : wire.msr_reads) EXPECT_EQ(msr & uart_msr_dcd, 0u) << "MSR " << msr;
  expect_output(c, burst_v);
  expect_one_framed_byte<TypeParam>(wire, 'V');
  EXPECT_EQ(c.fields.at("stty-after"), c.fields.at("stty-before"));
}

// The H3 board with UART2 enabled but no serial2 alias, as a vendor tree
// that forgot it: 8250_dw gives UART2 the first free slot, ttyS1, and
// /dev/ttyS2 is a slot with nothing behind it.
class MisnumberedBoard : public GuestSuite<MisnumberedBoard> {
 protected:
  static void SetUpTestSuite() {
    boot({guest_machine::orangepi_pc, "misnumbered-orangepi_pc", {}, "slot:2:v", {uart2_enabled}});
  }
};

TEST_F(MisnumberedBoard, Uart2ComesUpAsTtyS1) {
  const guest_case& c = guest(1);
  ASSERT_EQ(c.name, "slot:2:v");
  EXPECT_EQ(slot_device(c, 1), orangepi_pc_guest::ttys2_device);
  EXPECT_FALSE(slot_has_uart(c, 2)) << slot_line(c, 2);
}

TEST_F(MisnumberedBoard, MicomOnTheEmptyTtyS2FailsTheOpenAndSendsNothing) {
  expect_open_failed(guest(1));
  EXPECT_EQ(outcome().sim_received, std::vector<int>{});
}

}  // namespace
