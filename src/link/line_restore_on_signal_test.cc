// SPDX-License-Identifier: MIT
#include "link/line_restore_on_signal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "link/micom_exchange.h"
#include "link/micom_port.h"
#include "micom_port_fixture.h"
#include "pty_line.h"
#include "read_file.h"

namespace {

// A run in a forked child, waiting for a reply that has not come; the test
// acts once the line is raw.
class WaitingRunTest : public MicomPortTest {
 protected:
  // The child ends with the reply count as its status, 3 if the open failed.
  pid_t start_waiting_run(void (*before_open)()) {
    pid_t run = fork();
    if (run == 0) {
      before_open();
      std::optional<micom_port> port = open_line();
      if (!port) _exit(3);
      micom_reply reply = micom_read_reply(*port);
      micom_port_close(*port);
      _exit(reply.count);
    }
    for (int i = 0; i < 1000 && line_settings(line).c_cflag != 0x18B1u; ++i) usleep(5000);
    EXPECT_EQ(line_settings(line).c_cflag, 0x18B1u) << "the run never set the line up";
    return run;
  }
};

// Every signal that ends a process by default, as Ctrl-C, Ctrl-\, a
// script's timeout, a closed console or a reader that left would send it.
class InterruptedRunTest : public WaitingRunTest, public testing::WithParamInterface<int> {};

TEST_P(InterruptedRunTest, SignalRestoresTheLineAndStillKills) {
  const int signal_number = GetParam();
  pid_t run = start_waiting_run([] {
    rlimit no_core = {0, 0};  // SIGQUIT would leave a core file
    setrlimit(RLIMIT_CORE, &no_core);
  });
  ASSERT_GT(run, 0);
  EXPECT_EQ(read_file(lock_file()), lock_text(run));
  ASSERT_EQ(kill(run, signal_number), 0);

  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), signal_number);
  expect_same_settings(prior, line_settings(line));
  EXPECT_EQ(directory_entries(line.lock_directory), std::vector<std::string>()) << "the lock file was left";
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRunTest,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGXCPU,
                                         SIGRTMIN + 5));

// Under nohup, or with `trap '' PIPE` in a script, the run goes on.
class IgnoredSignalTest : public MicomPortTest, public testing::WithParamInterface<int> {};

TEST_P(IgnoredSignalTest, ASignalIgnoredByTheCallerStaysIgnored) {
  const int signal_number = GetParam();
  pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    signal(signal_number, SIG_IGN);
    std::optional<micom_port> port = open_line();
    if (!port) _exit(3);
    raise(signal_number);
    micom_port_close(*port);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  expect_same_settings(prior, line_settings(line));
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredSignalTest, testing::Values(SIGHUP, SIGPIPE));

TEST_F(WaitingRunTest, StoppedWithCtrlZAndContinuedTheRunFinishesItsExchange) {
  // A process group of its own with its parent outside it, as a shell's job:
  // the kernel drops SIGTSTP for an orphaned group.
  pid_t run = start_waiting_run([] { setpgid(0, 0); });
  ASSERT_GT(run, 0);
  kill(run, SIGTSTP);
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, WUNTRACED), run);
  ASSERT_TRUE(WIFSTOPPED(status)) << "status " << status;
  // The reply comes while the run is stopped.
  ASSERT_EQ(write(line.far_end, "\x01\x02\x03\x04", 4), 4);
  kill(run, SIGCONT);
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 4);
  expect_same_settings(prior, line_settings(line));
}

}  // namespace
