// SPDX-License-Identifier: MIT
// The line's settings during the exchange and after it, and input left on
// the line before the run.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdlib>

#include "sim_run.h"

namespace {

unsigned long hex(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 16); }

// Everything of the prior settings but what micom is to change for the run.
void expect_raw_57600_from(const std::string& before, const std::string& during) {
  EXPECT_EQ(field(during, "iflag"), "0x0");
  EXPECT_EQ(field(during, "oflag"), "0x0");
  EXPECT_EQ(field(during, "cflag"), "0x18b1");                                    // B57600 | CS8 | CLOCAL | CREAD
  EXPECT_EQ(hex(field(during, "lflag")), hex(field(before, "lflag")) & ~0x0bUL);  // ICANON ECHO ISIG off
  EXPECT_EQ(field(during, "vmin"), "0");
  EXPECT_EQ(field(during, "vtime"), "1");
  EXPECT_EQ(field(during, "ispeed"), "57600");
  EXPECT_EQ(field(during, "ospeed"), "57600");
  EXPECT_EQ(field(during, "line"), field(before, "line"));
  // The other control characters are kept: compare all but VTIME and VMIN.
  std::string cc_before = field(before, "cc"), cc_during = field(during, "cc");
  ASSERT_EQ(cc_before.size(), cc_during.size());
  for (size_t i = 0; i < cc_before.size(); i += 2) {
    if (i / 2 == VTIME || i / 2 == VMIN) continue;
    EXPECT_EQ(cc_during.substr(i, 2), cc_before.substr(i, 2)) << "c_cc[" << i / 2 << "]";
  }
}

TEST(MicomLine, RawDuringTheExchangeAndEveryFieldBackAfterIt) {
  for (const char* prior : {"pty-default", "cooked-9600-7e1"}) {
    // The sim reads the line's settings once the command byte has come;
    // after V micom is still waiting for the reply then, after H and R it
    // may already have put the line back: the log must then say that it
    // cannot tell, never show the settings from before as those in force.
    for (const char* arg : {"v", "h", "r", "h", "r"}) {
      sim_result r = sim_run({"--prior", prior}, micom_with({arg}));
      SCOPED_TRACE(std::string(prior) + " " + arg + "\n" + r.log);
      std::string before = logged_line(r.log, "before"), during = logged_line(r.log, "during");
      ASSERT_NE(before, "");
      bool unknown = during.rfind("unknown (", 0) == 0;
      if (arg[0] == 'v') {
        EXPECT_FALSE(unknown);
      }
      if (!unknown) {
        EXPECT_EQ(during.rfind("57600 8N1 raw ", 0), 0u);
        expect_raw_57600_from(before, during);
      }
      EXPECT_EQ(logged_line(r.log, "after"), before);
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST(MicomLine, CookedPriorStateReallyDiffersFromTheRunsSettings) {
  // Guards the test above: a tool that never changed the line would otherwise pass it.
  sim_result r = sim_run({"--prior", "cooked-9600-7e1"}, micom_with({"s"}));
  std::string before = logged_line(r.log, "before");
  EXPECT_EQ(field(before, "ispeed"), "9600");
  // B9600 | CS8 | CREAD: a pseudo-terminal keeps 8 bits and no parity whatever is asked.
  EXPECT_EQ(field(before, "cflag"), "0xbd");
  EXPECT_EQ(before.rfind("9600 8N1 cooked ", 0), 0u) << before;
  EXPECT_NE(field(before, "iflag"), "0x0");
  EXPECT_NE(field(before, "oflag"), "0x0");
}

TEST(MicomLine, BytesOnTheLineBeforeTheRunAreNeverReported) {
  for (const char* prior : {"pty-default", "cooked-9600-7e1"}) {
    // 0x0a ends a line for a canonical prior state; the others sit in a partial line.
    for (const char* stale : {"4142430a", "EEEEEEEEEE", "0a0a"}) {
      sim_result r = sim_run({"--prior", prior, "--stale", stale}, micom_with({"v"}));
      SCOPED_TRACE(std::string(prior) + " " + stale + "\n" + r.log);
      EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}));
      EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
    }
  }
}

}  // namespace
