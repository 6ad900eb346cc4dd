// SPDX-License-Identifier: MIT
// micom as a board integrator gets it: the board's Debian package installed
// by apt in a booted Debian 12 armhf system with systemd and udev, run as a
// user in dialout, as one who is not, and by the example units the package
// ships, started as they are. One boot for every case; judged from the
// guest's report (image_checks.sh) and from what reached the simulated MICOM.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guest_boot.h"

namespace {

using lines = std::vector<std::string>;

// The sim answers slowly, a byte per 0.5 s, so that a run lasts long enough
// for the guest to see micom's lock file, and whose it is, while it stands.
const lines v_output = {"SEND V TO MICOM", "READ DATA(0x01)", "READ DATA(0x00)", "READ DATA(0x07)", "READ DATA(0x0D)"};
const lines s_output = {"SEND S TO MICOM", "READ DATA(0x00)", "READ DATA(0x00)", "READ DATA(0x00)", "READ DATA(0x01)"};

class DebianImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    outcome_ = new guest_outcome(run_guest({guest_machine::armhf_image,
                                            "image-armhf",
                                            {"--gap", "500", "--reply", "V=0100070D", "--reply", "S=00000001"},
                                            "",
                                            {}}));
  }
  static void TearDownTestSuite() {
    delete outcome_;
    outcome_ = nullptr;
  }

  void SetUp() override {
    if (!outcome_->skip.empty()) GTEST_SKIP() << outcome_->skip;
    ASSERT_EQ(outcome_->error, "");
  }

  // The case named NAME; the guest runs them in a fixed order.
  static const guest_case& guest(unsigned n, const std::string& name) {
    const guest_case& c = outcome_->report.cases.at(n - 1);
    EXPECT_EQ(c.name, name);
    return c;
  }
  static const guest_outcome& outcome() { return *outcome_; }

 private:
  static guest_outcome* outcome_;
};
guest_outcome* DebianImage::outcome_;

std::string field(const guest_case& c, const std::string& key) {
  auto it = c.fields.find(key);
  return it == c.fields.end() ? "(missing)" : it->second;
}

// The lock file seen while micom ran: a PID as ten characters, right-aligned
// (spaces shown as _), and that PID micom's.
void expect_lock_of_micom(const guest_case& c) {
  const std::string text = field(c, "lock-text");
  EXPECT_EQ(text.size(), 10u) << text;
  const std::string::size_type digits = text.find_first_not_of('_');
  ASSERT_NE(digits, std::string::npos) << text;
  EXPECT_EQ(text.find_first_not_of("0123456789", digits), std::string::npos) << text;
  EXPECT_EQ(field(c, "lock-holder"), "micom");
}

TEST_F(DebianImage, AptInstallsThePackageWithItsExampleUnits) {
  const guest_case& c = guest(1, "install");
  EXPECT_EQ(field(c, "status"), "0") << ::testing::PrintToString(c.err);
  EXPECT_EQ(field(c, "dpkg"), "install ok installed 1.0.0");
  EXPECT_EQ(field(c, "examples"), "micom-status.service micom-status.timer ");
  // udev gives the line to dialout, which the units and its users rely on.
  EXPECT_EQ(field(c, "ttys2"), "crw-rw---- root dialout");
}

// The integrator's runs, and micom's lock file during the second: micom's
// PID as ten characters, world-readable, gone after the run.
TEST_F(DebianImage, UserInDialoutGetsTheRepliesAndALockFileStandsDuringTheRun) {
  const guest_case& c = guest(2, "integrator");
  EXPECT_TRUE(c.err.empty()) << c.err[0];
  lines both = v_output;
  both.insert(both.end(), s_output.begin(), s_output.end());
  EXPECT_EQ(c.out, both);
  EXPECT_EQ(field(c, "status"), "0");
  ASSERT_EQ(field(c, "lock-seen"), "yes") << "no /run/lock/LCK..ttyS2 while micom ran";
  expect_lock_of_micom(c);
  EXPECT_EQ(field(c, "lock-mode"), "644 integrator");
  EXPECT_EQ(field(c, "lock-after"), "absent");
}

TEST_F(DebianImage, UserNotInDialoutFailsTheOpen) {
  const guest_case& c = guest(3, "nobody");
  EXPECT_EQ(field(c, "status"), "255");
  EXPECT_EQ(c.out, lines{"MICOM OPEN FAILED"});
}

// micom's lines of every run of the unit so far, as the journal has them.
lines runs_of_s(int n) {
  lines all;
  for (int i = 0; i < n; ++i) all.insert(all.end(), s_output.begin(), s_output.end());
  return all;
}

enum class lock_directory { writable, read_only };

// One start of the shipped service, the unit's run-th: it ended well, the
// journal holds micom's lines of every run so far, and no lock file is left.
// micom's lock file stood during the run if, and only if, the lock directory
// was writable to the unit.
void expect_service_run(const guest_case& c, int run, lock_directory locks) {
  EXPECT_EQ(field(c, "status"), "0") << "systemctl start";
  EXPECT_EQ(field(c, "runs"), std::to_string(run));
  EXPECT_EQ(field(c, "ended"), "Deactivated successfully.");
  EXPECT_EQ(c.out, runs_of_s(run));
  if (locks == lock_directory::writable) {
    ASSERT_EQ(field(c, "lock-seen"), "yes");
    expect_lock_of_micom(c);
  } else {
    EXPECT_EQ(field(c, "lock-seen"), "no");
  }
  EXPECT_EQ(field(c, "lock-after"), "absent");
}

// The hardened unit as shipped: a dynamic user in dialout reaches the line
// through its private /dev. /run/lock stays writable to it (Debian 12's
// systemd 252), so micom holds its lock file there for the run.
TEST_F(DebianImage, ShippedServiceRunsMicomWithItsOutputInTheJournal) {
  expect_service_run(guest(4, "service"), 1, lock_directory::writable);
}

// Where the lock directory is read-only to the unit, micom makes no lock
// file and runs as before, saying nothing of it.
TEST_F(DebianImage, UnderAReadOnlyLockDirectoryTheServiceGoesOnWithoutALockFile) {
  expect_service_run(guest(5, "read-only-lock"), 2, lock_directory::read_only);
}

// Why the unit has BindPaths=/dev/ttyS2: without it the private /dev has
// no ttyS2, and micom cannot open the line.
TEST_F(DebianImage, WithoutBindPathsTheServiceCannotOpenTheLine) {
  const guest_case& c = guest(6, "no-bind");
  EXPECT_NE(field(c, "status"), "0") << "systemctl start";
  EXPECT_EQ(field(c, "runs"), "3");
  EXPECT_EQ(field(c, "ended"), "Failed with result 'exit-code'.");
  lines out = runs_of_s(2);
  out.push_back("MICOM OPEN FAILED");
  EXPECT_EQ(c.out, out);
}

TEST_F(DebianImage, ShippedTimerStartsTheService) {
  const guest_case& c = guest(7, "timer");
  EXPECT_EQ(field(c, "timer-active"), "active");
  ASSERT_EQ(field(c, "fired"), "yes");
  EXPECT_EQ(field(c, "runs"), "4");
  EXPECT_EQ(field(c, "ended"), "Deactivated successfully.");
  lines out = runs_of_s(2);
  out.push_back("MICOM OPEN FAILED");
  out.insert(out.end(), s_output.begin(), s_output.end());
  EXPECT_EQ(c.out, out);
}

TEST_F(DebianImage, AptRemoveLeavesNothingOfMicom) {
  const guest_case& c = guest(8, "remove");
  EXPECT_EQ(field(c, "status"), "0");
  EXPECT_EQ(field(c, "dpkg"), "dpkg-query: no packages found matching micom") << "dpkg still knows it";
  EXPECT_EQ(field(c, "left"), "(missing)");
}

// Exactly the runs' command bytes: the integrator's V and S, the service's
// two S and the timer's; nothing from the run as nobody, nothing at boot.
TEST_F(DebianImage, SimReceivedExactlyTheCommandBytesSent) {
  EXPECT_TRUE(outcome().report.done);
  EXPECT_EQ(outcome().sim_received, (std::vector<int>{'V', 'S', 'S', 'S', 'S'}));
}

}  // namespace
