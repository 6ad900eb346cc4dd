// SPDX-License-Identifier: MIT
// A firmware that hangs up, stays silent or answers late, and a run stopped
// by a signal while it waits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_run.h"

namespace {

const std::vector<int> version_reply = {0x01, 0x00, 0x02, 0x00};

int child_pid(const sim_process& run) {
  std::string line = sim_wait_log(run, "child pid=", 20000);
  return line.empty() ? -1 : std::atoi(line.c_str() + 10);
}

// The state letter of a process (R, S, T...), or '?'.
char process_state(int pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::string::size_type end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
}

// utime + stime of a process, in clock ticks.
long cpu_ticks(int pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  std::FILE* f = std::fopen(path, "r");
  if (!f) return -1;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  // Fields 14 and 15, counted after the ")" that closes the command name.
  const char* p = std::strrchr(buf, ')');
  long utime = 0, stime = 0;
  if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) != 2) return -1;
  return utime + stime;
}

TEST(MicomWait, HangupOrReadErrorEndsTheReadPromptlyWithTheBytesSoFar) {
  for (const char* ending : {"--hangup-after", "--read-error-after"}) {
    for (int n = 0; n <= 3; ++n) {
      std::string count = std::to_string(n);
      sim_result r = sim_run({ending, count, "--gap", "100"}, micom_with({"v"}), 15000);
      SCOPED_TRACE(std::string(ending) + " " + count + "\n" + r.log);
      EXPECT_EQ(r.out, expected_stdout('V', std::vector<int>(version_reply.begin(), version_reply.begin() + n)));
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(lines_starting(r.log, "hangup").size(), 1u);
      EXPECT_LT(r.seconds, 15.0);
    }
  }
}

TEST(MicomWait, SilentFirmwareIsWaitedForCheaplyAndALateReplyIsStillPrinted) {
  sim_process run = sim_start({"--delay", "4000"}, micom_with({"v"}));
  int pid = child_pid(run);
  ASSERT_GT(pid, 0);
  ASSERT_NE(sim_wait_log(run, "rx ", 20000), "");
  long ticks = cpu_ticks(pid);
  usleep(2000000);
  long used = cpu_ticks(pid) - ticks;
  ASSERT_GE(ticks, 0);
  double share = static_cast<double>(used) / sysconf(_SC_CLK_TCK) / 2.0;
  EXPECT_LT(share, 0.20) << "the waiting tool used " << share * 100 << "% of a core";
  sim_result r = sim_finish(&run, 30000);
  EXPECT_EQ(r.out, expected_stdout('V', version_reply));
  EXPECT_EQ(r.status, 0);
}

struct stop_case {
  int sig;
  bool via_sim;  // else sent to the tool's own pid
  std::vector<std::string> sim_args;
};

TEST(MicomWait, StoppedWhileWaitingTheLineIsRestoredAndTheSendLineIsOut) {
  for (const stop_case& c : std::vector<stop_case>{
           {SIGTERM, true, {"--silent"}},
           {SIGINT, true, {"--silent"}},
           {SIGHUP, false, {"--silent"}},
           {SIGTERM, false, {"--reply", "S=0102"}},  // two bytes in, then silence
           {SIGQUIT, false, {"--silent"}},           // Ctrl-\ on a console
           {SIGPIPE, false, {"--silent"}},
           {SIGALRM, false, {"--silent"}},  // timeout -s ALRM
       }) {
    std::vector<std::string> args = {"--prior", "cooked-9600-7e1"};
    args.insert(args.end(), c.sim_args.begin(), c.sim_args.end());
    // SIGQUIT would leave a core file.
    sim_process run = sim_start(args, micom_in_shell("ulimit -c 0; exec \"$@\"", {"s"}));
    int pid = child_pid(run);
    ASSERT_GT(pid, 0);
    ASSERT_NE(sim_wait_log(run, "rx ", 20000), "");
    usleep(500000);  // well into the waiting
    kill(c.via_sim ? run.pid : pid, c.sig);
    sim_result r = sim_finish(&run, 30000);
    SCOPED_TRACE("signal " + std::to_string(c.sig) + "\n" + r.log);
    // Bytes collected but not yet complete are not printed: the run was stopped.
    EXPECT_EQ(r.out, expected_stdout('S', {}));
    EXPECT_EQ(without_emulator_lines(r.err), "");
    EXPECT_EQ(r.status, 128 + c.sig);
    EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
  }
}

// Ctrl-Z while the tool waits, the reply arriving meanwhile, then `fg`.
TEST(MicomWait, StoppedAndContinuedTheRunFinishesItsExchange) {
  sim_process run = sim_start({"--prior", "cooked-9600-7e1", "--delay", "1000"}, micom_with({"v"}));
  int pid = child_pid(run);
  ASSERT_GT(pid, 0);
  ASSERT_NE(sim_wait_log(run, "rx ", 20000), "");
  kill(pid, SIGTSTP);
  ASSERT_NE(sim_wait_log(run, "tx ", 20000), "") << "the reply was not sent";
  usleep(500000);
  EXPECT_EQ(process_state(pid), 'T') << "the run did not stop";
  kill(pid, SIGCONT);
  sim_result r = sim_finish(&run, 30000);
  EXPECT_EQ(r.out, expected_stdout('V', version_reply));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

// Nothing can be done about SIGKILL: the line keeps the exchange's settings,
// and the next run finds, saves and puts back those.
TEST(MicomWait, KilledOutrightTheLineStaysAsTheExchangeSetIt) {
  sim_process run = sim_start({"--prior", "cooked-9600-7e1", "--silent"}, micom_with({"v"}));
  int pid = child_pid(run);
  ASSERT_GT(pid, 0);
  ASSERT_NE(sim_wait_log(run, "rx ", 20000), "");
  kill(pid, SIGKILL);
  sim_result r = sim_finish(&run, 30000);
  EXPECT_EQ(r.status, 128 + SIGKILL);
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "during"));
  EXPECT_NE(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

// A monitoring script polling S while an operator asks for V: each run waits
// for the other, so each prints exactly its own reply. The replies go out a
// byte at a time, so that runs that did not take turns would share them.
TEST(MicomWait, TwoRunsAtOnceTakeTurnsAndEachGetsItsOwnReply) {
  const int rounds = 10;
  sim_result r = sim_run({"--prior", "cooked-9600-7e1", "--gap", "5", "--reply", "S=0A0B0C0D"},
                         micom_in_shell("out=$(mktemp -d) && for i in $(seq " + std::to_string(rounds) +
                                            "); do timeout 10 \"$@\" s >$out/s & timeout 10 \"$@\" v >$out/v;"
                                            " wait; cat $out/s $out/v; done; rm -r $out",
                                        {}),
                         120000);
  SCOPED_TRACE(r.log);
  std::string expected;
  for (int i = 0; i < rounds; ++i)
    expected += expected_stdout('S', {0x0A, 0x0B, 0x0C, 0x0D}) + expected_stdout('V', version_reply);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 0);
  // A run that saved another's exchange settings as found would leave them.
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

// V behind an S the firmware never answers: the V run waits at the line,
// then, once the S run is stopped, completes on the settings it put back.
TEST(MicomWait, ARunWaitingBehindASilentOneCompletesOnceThatOneIsStopped) {
  sim_result r = sim_run({"--prior", "cooked-9600-7e1", "--reply", "S="},
                         micom_in_shell(R"(out=$(mktemp -d)
until_within_20s() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1)); [ $tries -lt 400 ] || { echo "$2"; return; }
    sleep 0.05
  done
}
"$@" s >/dev/null & first=$!
until_within_20s '! flock -n /dev/ttyS2 true' "the S run never held the line"
"$@" v >$out/v & second=$!
until_within_20s 'grep -q -- "-> FLOCK .* $second " /proc/locks' "the V run never waited"
kill $first; wait $first; echo "first=$?"
wait $second; echo "second=$?"
cat $out/v; rm -r $out)",
                                        {}),
                         60000);
  SCOPED_TRACE(r.log);
  EXPECT_EQ(r.out, "first=143\nsecond=0\n" + expected_stdout('V', version_reply));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(logged_line(r.log, "after"), logged_line(r.log, "before"));
}

}  // namespace
