// SPDX-License-Identifier: MIT
// micom-sim as a whole: its help, its own mistakes, the command's status
// passed on.
#include <gtest/gtest.h>

#include "sim_run.h"

namespace {

TEST(MicomSim, HelpIsAManualPageOnStandardOutput) {
  sim_result r = sim_exec({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  for (const char* section :
       {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "DEFAULT REPLIES", "EXIT STATUS", "EXAMPLES"}) {
    EXPECT_NE(("\n" + r.out).find(std::string("\n") + section + "\n"), std::string::npos) << section;
  }
}

TEST(MicomSim, ItsOwnMistakesAndUnrunnableCommandsExitTwoWithOneLine) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus", "--", "true"},
           {"true"},
           {"--"},
           {"--reply", "V=XYZ", "--", "true"},
           {"--hangup-after", "9", "--", "true"},
       }) {
    sim_result r = sim_exec(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err.rfind("micom-sim: ", 0), 0u) << r.err;
    EXPECT_EQ(lines_starting(r.err, "").size(), 1u) << r.err;
  }
  sim_result r = sim_run({}, {"/nonexistent/micom", "v"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "micom-sim: cannot run '/nonexistent/micom': No such file or directory\n");
}

TEST(MicomSim, PassesOnTheCommandsExitStatusOrSignal) {
  sim_result r = sim_run({}, {"sh", "-c", "echo out; exit 7"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(lines_starting(r.log, "exit status=7").size(), 1u);
  r = sim_run({}, {"sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(r.status, 128 + 15);
  EXPECT_EQ(lines_starting(r.log, "exit signal=15").size(), 1u);
}

}  // namespace
