// micom on the 8250 driver's /dev/ttyS2 in a booted Debian kernel, judged from
// the guest's report (micom's output and status, the line's settings, the
// driver's counters) and from qemu's trace of the UART's registers.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "guest_boot.h"

namespace {

// The guest leaves the line at 9600 7E1, canonical, before each run.
constexpr unsigned kPriorDivisor = 12;    // 115200 / 9600
constexpr unsigned kExchangeDivisor = 2;  // 115200 / 57600
constexpr unsigned long kIcanon = 0x2, kEcho = 0x8;

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

// The run as the UART's registers saw it: the command byte alone, sent at
// 57600 8N1 with RTS down, and RTS raised by the next MCR write.
void expect_one_framed_byte(const uart_run& wire, char letter) {
  ASSERT_TRUE(wire.found) << "the run's marks are missing from the trace";
  ASSERT_EQ(wire.sent.size(), 1u) << "bytes written to the transmit register during the run";
  const uart_sent_byte& b = wire.sent[0];
  EXPECT_EQ(b.value, static_cast<unsigned>(letter));
  EXPECT_EQ(b.line.divisor, kExchangeDivisor);
  EXPECT_EQ(uart_frame(b.line.lcr), "8N1");
  EXPECT_EQ(b.mcr & uart_mcr_rts, 0u) << "RTS is down while the byte is written; MCR " << b.mcr;
  ASSERT_GE(b.next_mcr, 0) << "no MCR write after the byte";
  EXPECT_NE(b.next_mcr & uart_mcr_rts, 0u) << "the next MCR write raises RTS; MCR " << b.next_mcr;
}

// The line's settings, and the UART's, are as before the run; local_flags
// are those the guest had set.
void expect_line_left_as_found(const guest_case& c, const uart_run& wire, unsigned long local_flags) {
  const std::string& before = c.fields.at("stty-before");
  EXPECT_EQ(c.fields.at("stty-after"), before);
  EXPECT_EQ(stty_field(before, 3) & (kIcanon | kEcho), local_flags) << "the line micom found";
  EXPECT_EQ(wire.before.divisor, kPriorDivisor);
  EXPECT_EQ(uart_frame(wire.before.lcr), "7E1");
  EXPECT_EQ(wire.after.divisor, kPriorDivisor);
  EXPECT_EQ(uart_frame(wire.after.lcr), "7E1");
}

void expect_output(const guest_case& c, const lines& out) {
  EXPECT_EQ(c.fields.at("status"), "0");
  EXPECT_EQ(c.out, out);
  EXPECT_TRUE(c.err.empty()) << c.err[0];
}

// The guests, each a type so that each suite boots once per guest.
struct X86_64 {
  static constexpr guest_machine machine = guest_machine::x86_64;
  static constexpr const char* name = "x86_64";
};
struct Armhf {
  static constexpr guest_machine machine = guest_machine::armhf;
  static constexpr const char* name = "armhf";
};
using Machines = ::testing::Types<X86_64, Armhf>;

struct MachineName {
  template <typename M>
  static std::string GetName(int) {
    return M::name;
  }
};

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

  // Case n (1 = first of the list) and its run in the trace.
  static const guest_case& guest(unsigned n) { return outcome_->report.cases.at(n - 1); }
  static uart_run wire(unsigned n) { return uart_run_of(outcome_->uart, n); }

 private:
  static std::optional<guest_outcome> outcome_;
};

template <typename Suite>
std::optional<guest_outcome> GuestSuite<Suite>::outcome_;

// The sim answers at once, the whole reply in one write.
template <typename M>
class BurstReply : public GuestSuite<BurstReply<M>> {
 protected:
  static void SetUpTestSuite() {
    // V's reply holds bytes that a cooked line would drop or change: NUL, CR, XOFF, 0xFF.
    BurstReply::boot({M::machine, std::string("burst-") + M::name, {"--reply", "V=000D13FF", "--reply", "W=A1A2A3A4"},
                      "run:v,run:h,stale:W:v"});
  }
};
TYPED_TEST_SUITE(BurstReply, Machines, MachineName);

TYPED_TEST(BurstReply, V_RawReplyComesThroughTheDriver) {
  const guest_case& c = this->guest(1);
  ASSERT_EQ(c.name, "run:v");
  expect_output(c, {"SEND V TO MICOM", "READ DATA(0x00)", "READ DATA(0x0D)", "READ DATA(0x13)", "READ DATA(0xFF)"});
  EXPECT_EQ(counter_delta(c, "tx"), 1);
  EXPECT_EQ(counter_delta(c, "rx"), 4);
}

TYPED_TEST(BurstReply, V_OneCommandByteAt57600_8N1FramedByRts) {
  expect_one_framed_byte(this->wire(1), 'V');
}

TYPED_TEST(BurstReply, V_LineIsLeftAsFound) {
  expect_line_left_as_found(this->guest(1), this->wire(1), kIcanon | kEcho);
}

TYPED_TEST(BurstReply, H_SendsAndReadsNothing) {
  const guest_case& c = this->guest(2);
  ASSERT_EQ(c.name, "run:h");
  expect_output(c, {"SEND H TO MICOM"});
  EXPECT_EQ(counter_delta(c, "tx"), 1);
  expect_one_framed_byte(this->wire(2), 'H');
  expect_line_left_as_found(c, this->wire(2), kIcanon | kEcho);
}

// Another process holds the line open and has W's answer waiting unread in
// its input when micom starts: micom must discard it and report V's answer.
TYPED_TEST(BurstReply, StaleInputAtOpenIsNotTakenForTheReply) {
  const guest_case& c = this->guest(3);
  ASSERT_EQ(c.name, "stale:W:v");
  ASSERT_EQ(c.fields.at("stale-received"), "4") << "W's answer had not arrived before micom started";
  expect_output(c, {"SEND V TO MICOM", "READ DATA(0x00)", "READ DATA(0x0D)", "READ DATA(0x13)", "READ DATA(0xFF)"});
  expect_one_framed_byte(this->wire(3), 'V');
  expect_line_left_as_found(c, this->wire(3), kIcanon);  // no echo: the holder would echo the stale bytes to the sim
}

// The sim sends the reply one byte at a time, 0.3 s apart: longer than the
// line's 0.1 s read timeout, so micom sees silent reads between the bytes.
template <typename M>
class GappedReply : public GuestSuite<GappedReply<M>> {
 protected:
  static void SetUpTestSuite() {
    GappedReply::boot(
        {M::machine, std::string("gapped-") + M::name, {"--gap", "300", "--reply", "S=01020304"}, "run:s"});
  }
};
TYPED_TEST_SUITE(GappedReply, Machines, MachineName);

TYPED_TEST(GappedReply, S_ReplyArrivingByteByByteIsCollectedInOrder) {
  const guest_case& c = this->guest(1);
  ASSERT_EQ(c.name, "run:s");
  expect_output(c, {"SEND S TO MICOM", "READ DATA(0x01)", "READ DATA(0x02)", "READ DATA(0x03)", "READ DATA(0x04)"});
  EXPECT_EQ(counter_delta(c, "rx"), 4);
  expect_one_framed_byte(this->wire(1), 'S');
  expect_line_left_as_found(c, this->wire(1), kIcanon | kEcho);
}

}  // namespace
