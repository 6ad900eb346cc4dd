// SPDX-License-Identifier: MIT
// The MICOM on the pseudo-terminal, with stty and dd in place of micom.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim_run.h"

namespace {

std::vector<double> times(const std::string& log, const std::string& tag) {
  std::vector<double> t;
  for (const std::string& line : lines_starting(log, tag + " 0x")) {
    t.push_back(std::atof(line.substr(line.find(" t=") + 3).c_str()));
  }
  return t;
}

TEST(MicomSim, AnswersWithDelayAndGapAndLogsTheLine) {
  // stty and dd stand in for micom: raw line, one byte out, four back.
  const std::string exchange =
      "stty raw -echo </dev/ttyS2 && printf V >/dev/ttyS2 && dd bs=1 count=4 </dev/ttyS2 2>/dev/null | od -An -tx1";
  sim_result r = sim_run({"--delay", "300", "--gap", "200"}, {"sh", "-c", exchange});
  EXPECT_EQ(r.out, " 01 00 02 00\n") << r.log;
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{'V'});
  std::vector<double> rx = times(r.log, "rx"), tx = times(r.log, "tx");
  ASSERT_EQ(tx.size(), 4u);
  EXPECT_GE(tx[0] - rx[0], 0.29);
  for (int i = 1; i < 4; ++i) EXPECT_GE(tx[i] - tx[i - 1], 0.19);
  EXPECT_NE(logged_line(r.log, "during"), "");
  EXPECT_EQ(field(logged_line(r.log, "after"), "lflag"), field(logged_line(r.log, "during"), "lflag"));
}

TEST(MicomSim, StaleBytesEchoedByThePriorStateAreNotTakenAsReceived) {
  sim_result r = sim_run({"--prior", "cooked-9600-7e1", "--stale", "414243"}, {"true"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_bytes(r.log, "stale"), (std::vector<int>{0x41, 0x42, 0x43}));
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{});
  EXPECT_EQ(lines_starting(r.log, "stale settled").size(), 1u);
  EXPECT_NE(r.log.find("echo-discarded=3"), std::string::npos) << r.log;
}

}  // namespace
