// SPDX-License-Identifier: MIT
// micom beside the serial programs an operator opens on the same line
// (Debian's own, each in a tmux pane on the sim's /dev/ttyS2), in both
// orders: whichever comes second must not cross the first one's exchange or
// session. And a program started after a run killed outright. Each program
// claims the line its own way: flock, a UUCP lock file (/var/lock/LCK..ttyS2,
// the sim's private one) or TIOCEXCL.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>

#include "sim_run.h"

namespace {

enum class line_claim { flock, lock_file, exclusive };

struct terminal_program {
  const char* name;
  // Run by the pane's shell, at 115200; $dir is a scratch directory of its own.
  const char* command;
  line_claim claim;
  // What it says when it finds the line taken by micom ("" for screen,
  // which takes it all the same).
  const char* refusal;
  // Whether it takes the line over from a run of micom killed outright,
  // whose lock file stays with a dead PID.
  bool takes_stale_lock;
};

const terminal_program terminal_programs[] = {
    {"picocom", "picocom -b 115200 /dev/ttyS2", line_claim::flock, "cannot lock /dev/ttyS2", true},
    {"tio", "tio -b 115200 /dev/ttyS2", line_claim::flock, "Device file is locked by another process", true},
    // Debian's interpreter, which has python3-serial, whatever else is first on PATH.
    {"pyserial",
     "/usr/bin/python3 -c 'import serial, time; "
     "line = serial.Serial(\"/dev/ttyS2\", 115200, exclusive=True); print(\"open\"); time.sleep(3600)'",
     line_claim::flock, "Could not exclusively lock port /dev/ttyS2", true},
    // No modem: no init and reset strings, which would reach the MICOM.
    {"minicom", "printf 'pu minit\\npu mreset\\n' >$dir/.minirc.dfl && HOME=$dir minicom -b 115200 -D /dev/ttyS2",
     line_claim::lock_file, "Device /dev/ttyS2 is locked", true},
    // It never clears a stale lock.
    {"microcom", "busybox microcom -s 115200 /dev/ttyS2", line_claim::lock_file, "can't create '/var/lock/LCK..ttyS2'",
     false},
    // As user uucp it may not remove another user's lock from the sticky
    // lock directory.
    {"cu", "cu -l /dev/ttyS2 -s 115200", line_claim::lock_file, "Line in use", false},
    // Its session ends with the pane (no detaching), as the others' do.
    {"screen",
     "printf 'autodetach off\\n' >$dir/screenrc && SCREENDIR=$dir/screens screen -c $dir/screenrc /dev/ttyS2 115200",
     line_claim::exclusive, "", true},
};

// Names the test's row.
void PrintTo(const terminal_program& p, std::ostream* os) { *os << p.name; }

// A shell condition that holds once the program has claimed the line.
std::string claimed(line_claim claim) {
  switch (claim) {
    case line_claim::flock:
      return "! flock -n /dev/ttyS2 true";
    case line_claim::lock_file:
      return "[ -e /var/lock/LCK..ttyS2 ]";
    case line_claim::exclusive:
      // Root gets through TIOCEXCL; anyone else is refused.
      return "! setpriv --reuid=65534 --regid=65534 --clear-groups sh -c ': </dev/ttyS2' 2>/dev/null";
  }
  return "false";
}

// The session script's KEY=VALUE lines.
std::map<std::string, std::string> report_of(const std::string& out) {
  std::map<std::string, std::string> report;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::string::size_type eq = line.find('=');
    if (eq != std::string::npos) report[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return report;
}

// micom's output as the session script gives it: lines joined by "|".
std::string joined(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = c == '\n' ? '|' : c;
  return out;
}

sim_result session(const terminal_program& p, const char* order, const std::vector<std::string>& sim_args) {
  std::vector<std::string> command = {"bash", MICOM_INTEROP_SESSION, order, p.command, claimed(p.claim)};
  std::vector<std::string> micom = micom_command();
  command.insert(command.end(), micom.begin(), micom.end());
  return sim_run(sim_args, command, 60000);
}

class MicomInterop : public ::testing::TestWithParam<terminal_program> {
 protected:
  void SetUp() override {
    // cu runs as user uucp, and a TIOCEXCL claim is seen by opening as nobody.
    if (geteuid() != 0) GTEST_SKIP() << "needs root, for programs that run as other users";
  }
  void TearDown() override {
    if (HasFailure()) std::fprintf(stderr, "session:\n%s\nsim log:\n%s\n", result.out.c_str(), result.log.c_str());
  }

  // Runs the session script in this order with the sim's arguments; gives
  // its report and keeps the rest in result.
  std::map<std::string, std::string> run_session(const char* order, const std::vector<std::string>& sim_args) {
    result = session(GetParam(), order, sim_args);
    return report_of(result.out);
  }

  sim_result result;
};

// While the program holds the line, micom sends nothing: it waits behind a
// flock (here until `timeout` ends it) and fails the open on a live lock
// file or TIOCEXCL. Once the program has gone, micom works.
TEST_P(MicomInterop, WhileTheProgramHoldsTheLineMicomSendsNothing) {
  const terminal_program& p = GetParam();
  if (p.claim == line_claim::exclusive && micom_emulated())
    GTEST_SKIP() << "user-mode emulation does not pass TIOCGEXCL on";
  std::map<std::string, std::string> report = run_session("program-first", {});
  ASSERT_EQ(report.count("held"), 0u) << p.name << " never claimed the line";
  if (p.claim == line_claim::flock) {
    EXPECT_EQ(report["while_held_status"], "124");
    EXPECT_EQ(report["while_held_out"], "");
  } else {
    EXPECT_EQ(report["while_held_status"], "255");
    EXPECT_EQ(report["while_held_out"], "MICOM OPEN FAILED|");
  }
  EXPECT_EQ(report["program"], "running") << "micom ended the program's session";
  EXPECT_EQ(report.count("line_freed"), 0u);
  EXPECT_EQ(report["after_status"], "0");
  EXPECT_EQ(report["after_out"], joined(expected_stdout('V', {0x01, 0x00, 0x02, 0x00})));
  // One V: the run after the program.
  EXPECT_EQ(logged_bytes(result.log, "rx"), std::vector<int>{'V'});
  EXPECT_EQ(result.status, 0);
}

// While micom waits for a slow reply, the program started then does not take
// the line: it keeps micom's 57600, and micom gets its whole reply. screen
// honours neither flock nor lock files and takes it all the same: a known
// hole, checked as such.
TEST_P(MicomInterop, WhileMicomHoldsTheLineTheProgramDoesNotTakeIt) {
  const terminal_program& p = GetParam();
  std::map<std::string, std::string> report = run_session("micom-first", {"--delay", "5000"});
  ASSERT_EQ(report.count("micom_speed"), 0u) << "micom never set the line up";
  EXPECT_EQ(report.count("line_freed"), 0u);
  EXPECT_EQ(logged_bytes(result.log, "rx"), std::vector<int>{'S'});
  EXPECT_EQ(result.status, 0);
  if (p.claim == line_claim::exclusive) {
    EXPECT_EQ(report["speed_during"], "115200") << "screen no longer breaks in: the README says it does";
    EXPECT_EQ(report["program"], "running");
    return;
  }
  EXPECT_EQ(report["speed_during"], "57600");
  EXPECT_EQ(report["program"].rfind("exited", 0), 0u) << p.name << " did not give up: " << report["program"];
  EXPECT_NE(report["program_said"].find(p.refusal), std::string::npos) << report["program_said"];
  EXPECT_EQ(report["micom_status"], "0");
  EXPECT_EQ(report["micom_out"], joined(expected_stdout('S', {0x00, 0x00, 0x00, 0x01})));
  EXPECT_EQ(logged_line(result.log, "after"), logged_line(result.log, "before"));
}

// A run killed outright (SIGKILL) leaves its lock file, with a PID no
// longer alive. The programs that clear a stale lock take the line; the
// others refuse it until the next run of micom, which takes the lock over.
TEST_P(MicomInterop, AfterMicomWasKilledTheProgramFindsTheLockItLeft) {
  const terminal_program& p = GetParam();
  std::map<std::string, std::string> report = run_session("micom-killed", {"--reply", "S="});
  ASSERT_EQ(report.count("micom_speed"), 0u) << "micom never set the line up";
  ASSERT_EQ(report["stale_lock"], "yes") << "the killed run left no lock file with its PID";
  if (p.takes_stale_lock) {
    EXPECT_EQ(report["program"], "running");
    EXPECT_EQ(report["claimed"], "yes");
  } else {
    EXPECT_EQ(report["program"].rfind("exited", 0), 0u) << p.name << " took the line: " << report["program"];
    EXPECT_NE(report["program_said"].find(p.refusal), std::string::npos) << report["program_said"];
  }
  EXPECT_EQ(report.count("line_freed"), 0u);
  EXPECT_EQ(report["after_status"], "0");
  EXPECT_EQ(report["after_out"], joined(expected_stdout('V', {0x01, 0x00, 0x02, 0x00})));
  EXPECT_EQ(logged_bytes(result.log, "rx"), (std::vector<int>{'S', 'V'}));
  EXPECT_EQ(result.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Programs, MicomInterop, ::testing::ValuesIn(terminal_programs),
                         [](const ::testing::TestParamInfo<terminal_program>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
