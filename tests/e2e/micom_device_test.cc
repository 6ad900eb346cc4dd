// SPDX-License-Identifier: MIT
// Bad arguments never touch the device; whatever else stands at /dev/ttyS2
// than a working line is reported, and nothing is sent there.
#include <gtest/gtest.h>
#include <unistd.h>

#include "sim_run.h"

namespace {

std::string usage() {
  std::string name = micom_argv0();
  return name + " argument error !!!\n" + name + " usage : " + name + " S/V/H/R/W/\n";
}

// Runs micom as the unprivileged user nobody, after `prepare` (run as root).
std::vector<std::string> as_nobody(const std::string& prepare, const std::vector<std::string>& args) {
  return micom_in_shell(prepare + "; exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"", args);
}

void expect_open_failure(const sim_result& r) {
  EXPECT_EQ(r.out, "MICOM OPEN FAILED\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{}) << "a byte reached the line";
}

TEST(MicomDevice, BadOrMissingArgumentPrintsUsageWithoutOpeningTheDevice) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"x"}, {"3"}, {""}, {"?v"}, {"-s"}}) {
    sim_result r = sim_run({"--device", "none"}, micom_with(args));
    SCOPED_TRACE(args.empty() ? "(none)" : "'" + args[0] + "'");
    EXPECT_EQ(r.out, usage());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(MicomDevice, AnythingButAWorkingTerminalIsAnOpenFailure) {
  for (const char* device : {"none", "directory", "file", "null", "fifo", "dangling"}) {
    for (const char* arg : {"v", "h"}) {
      sim_result r = sim_run({"--device", device}, micom_with({arg}));
      SCOPED_TRACE(std::string(device) + " " + arg);
      expect_open_failure(r);
    }
  }
}

TEST(MicomDevice, ARegularFileAtTheDevicePathIsLeftAsItWas) {
  sim_result r =
      sim_run({"--device", "file"}, micom_in_shell("\"$@\"; status=$?; cat /dev/ttyS2; exit $status", {"v"}));
  EXPECT_EQ(r.out, "MICOM OPEN FAILED\nx\n");
  EXPECT_EQ(r.status, 255);
}

TEST(MicomDevice, ASymlinkToTheLineIsTheLine) {
  sim_result r = sim_run({"--device", "link"}, micom_with({"v"}));
  EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{'V'});
}

// The run's lock file names it while it has the line, and goes with it.
TEST(MicomDevice, ARunHoldsTheLinesLockFileWhileItHasTheLine) {
  sim_result r = sim_run(
      {"--delay", "500"},
      micom_in_shell("\"$@\" & run=$!; i=0\n"
                     "while [ ! -s /var/lock/LCK..ttyS2 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done\n"
                     "held=$(cat /var/lock/LCK..ttyS2); wait $run; status=$?\n"
                     "[ \"$held\" -eq \"$run\" ] && echo held; [ -e /var/lock/LCK..ttyS2 ] || echo gone; exit $status",
                     {"v"}));
  EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}) + "held\ngone\n") << r.err;
  EXPECT_EQ(r.status, 0);
}

// minicom, cu or busybox microcom has the line: its lock file names a live
// process.
TEST(MicomDevice, ALineLockedByALiveProgramIsAnOpenFailure) {
  sim_result r =
      sim_run({}, micom_in_shell("sleep 60 & printf '%10d\\n' $! >/var/lock/LCK..ttyS2; \"$@\"; status=$?\n"
                                 "kill $!; [ \"$(cat /var/lock/LCK..ttyS2)\" -eq $! ] && echo kept; exit $status",
                                 {"v"}));
  EXPECT_EQ(r.out, "MICOM OPEN FAILED\nkept\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(logged_bytes(r.log, "rx"), std::vector<int>{}) << "a byte reached the line";
}

class MicomDeviceAsNobody : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run micom as another user";
    sim_result r = sim_run({}, as_nobody("true", {}));
    if (r.status != 0) GTEST_SKIP() << "micom cannot be run as nobody here: " << r.out << r.err;
  }
};

TEST_F(MicomDeviceAsNobody, NoPermissionIsAnOpenFailure) {
  expect_open_failure(sim_run({}, as_nobody("chmod 0600 /dev/ttyS2", {"v"})));
}

// A lock directory kept for another group (or none): the flock alone.
TEST_F(MicomDeviceAsNobody, ALockDirectoryItMayNotWriteToLeavesItTheFlockAlone) {
  sim_result r = sim_run({}, as_nobody("chmod 0666 /dev/ttyS2; chmod 0755 /var/lock", {"v"}));
  EXPECT_EQ(r.out, expected_stdout('V', {0x01, 0x00, 0x02, 0x00}));
  EXPECT_EQ(r.status, 0);
}

TEST_F(MicomDeviceAsNobody, ALineClaimedByAnotherProgramIsAnOpenFailureEvenForRoot) {
  // The kernel refuses the open (EBUSY) to others; root gets through and
  // must see the claim itself.
  expect_open_failure(sim_run({"--exclusive"}, as_nobody("chmod 0666 /dev/ttyS2", {"v"})));
  if (micom_emulated()) GTEST_SKIP() << "user-mode emulation does not pass TIOCGEXCL on";
  expect_open_failure(sim_run({"--exclusive"}, micom_with({"v"})));
}

}  // namespace
