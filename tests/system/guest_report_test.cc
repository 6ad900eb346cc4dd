// SPDX-License-Identifier: MIT
#include "guest_report.h"

#include <gtest/gtest.h>

namespace {

TEST(GuestReport, CasesKeepTheirFieldsAndOutputLines) {
  guest_report r = parse_guest_report(
      "boot\n"
      "case 1 run:v\n"
      "stty-before 500:5:dad:8a3b:3\n"
      "status 0\n"
      "out SEND V TO MICOM\n"
      "out READ DATA(0x00)\n"
      "case 2 run:h\n"
      "status 143\n"
      "err timed out\n"
      "done\n");
  EXPECT_TRUE(r.booted);
  EXPECT_TRUE(r.done);
  ASSERT_EQ(r.cases.size(), 2u);
  EXPECT_EQ(r.cases[0].name, "run:v");
  EXPECT_EQ(r.cases[0].fields["stty-before"], "500:5:dad:8a3b:3");
  EXPECT_EQ(r.cases[0].out, (std::vector<std::string>{"SEND V TO MICOM", "READ DATA(0x00)"}));
  EXPECT_TRUE(r.cases[0].err.empty());
  EXPECT_EQ(r.cases[1].fields["status"], "143");
  EXPECT_EQ(r.cases[1].err, std::vector<std::string>{"timed out"});
}

TEST(GuestReport, ReportCutShortIsNotDone) {
  guest_report r = parse_guest_report("boot\ncase 1 run:v\nstty-before 500:5");
  EXPECT_TRUE(r.booted);
  EXPECT_FALSE(r.done);
  ASSERT_EQ(r.cases.size(), 1u);
  EXPECT_EQ(r.cases[0].fields["stty-before"], "500:5");
}

TEST(GuestReport, DriverCountersAreReadByName) {
  std::string line = "2: uart:16550A port:000003E8 irq:4 tx:12 rx:4 RTS|DTR";
  EXPECT_EQ(uart_counter(line, "tx"), 12);
  EXPECT_EQ(uart_counter(line, "rx"), 4);
  EXPECT_EQ(uart_counter(line, "fe"), -1);
}

}  // namespace
