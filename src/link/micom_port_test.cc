// SPDX-License-Identifier: MIT
#include "link/micom_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "link/line_restore_on_signal.h"
#include "micom_port_fixture.h"
#include "pty_line.h"
#include "read_file.h"

namespace {

TEST_F(MicomPortTest, ExchangeRunsRaw57600EightBitsWithShortReadTimeout) {
  micom_port port = open_port();
  termios during = line_settings(line);

  EXPECT_EQ(during.c_iflag, 0u);
  EXPECT_EQ(during.c_oflag, 0u);
  EXPECT_EQ(during.c_cflag, static_cast<tcflag_t>(B57600 | CS8 | CLOCAL | CREAD));
  EXPECT_EQ(during.c_cflag, 0x18B1u);
  EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&during), static_cast<speed_t>(B57600));
  // Only ICANON, ECHO and ISIG go; IEXTEN and ECHOE stay as found.
  EXPECT_EQ(during.c_lflag, prior.c_lflag & ~static_cast<tcflag_t>(0x0B));
  EXPECT_TRUE(during.c_lflag & IEXTEN);
  EXPECT_TRUE(during.c_lflag & ECHOE);
  EXPECT_EQ(during.c_cc[VMIN], 0);
  EXPECT_EQ(during.c_cc[VTIME], 1);
  EXPECT_EQ(during.c_cc[VINTR], prior.c_cc[VINTR]);
  EXPECT_EQ(during.c_cc[VERASE], prior.c_cc[VERASE]);
  EXPECT_EQ(during.c_line, prior.c_line);

  micom_port_close(port);
}

TEST_F(MicomPortTest, CloseRestoresEveryFieldFoundThenLetsGoOfTheLockFile) {
  micom_port port = open_port();
  EXPECT_EQ(read_file(lock_file()), lock_text(getpid()));
  micom_port_close(port);
  expect_same_settings(prior, line_settings(line));
  EXPECT_EQ(directory_entries(line.lock_directory), std::vector<std::string>());
  // The port's descriptor is gone.
  EXPECT_EQ(fcntl(port.fd, F_GETFD), -1);
}

TEST_F(MicomPortTest, InputFromBeforeTheRunIsDiscarded) {
  ASSERT_EQ(write(line.far_end, "stale\n", 6), 6);
  micom_port port = open_port();
  EXPECT_EQ(bytes_waiting(line), 0);

  unsigned char byte = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read(port.fd, &byte, 1), 0);
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A silent line gives up after about 0.1 s rather than blocking.
  EXPECT_GE(waited, 0.05);
  EXPECT_LT(waited, 5.0);
  micom_port_close(port);
}

// What a board or a container may have at the device path instead of a
// working line: the open fails, and nothing is written there, nor is a lock
// file left behind.
TEST(MicomPortOpen, FailsWhenTheDeviceIsMissingOrNoWorkingTerminal) {
  char directory[] = "/tmp/micom-port-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string dir = directory;
  const std::string locks = dir + "/lock";
  ASSERT_EQ(mkdir(locks.c_str(), 0755), 0);
  const std::string file = dir + "/ttyS2-file";
  int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(write(fd, "x\n", 2), 2);
  close(fd);
  const std::string fifo = dir + "/ttyS2-fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);

  for (const std::string& path : {std::string("/nonexistent/ttyS2"), std::string("/dev/null"), dir, file, fifo}) {
    EXPECT_FALSE(micom_port_open_path(path.c_str(), locks.c_str()).has_value()) << path;
    EXPECT_EQ(directory_entries(locks), std::vector<std::string>()) << path;
  }
  struct stat after = {};
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, 2) << "the file was written to";

  unlink(file.c_str());
  unlink(fifo.c_str());
  rmdir(locks.c_str());
  rmdir(directory);
}

TEST_F(MicomPortTest, ASessionLeaderDoesNotTakeTheLineAsItsControllingTerminal) {
  pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    // A new session has no controlling terminal, as under setsid or a service.
    if (setsid() < 0) _exit(2);
    std::optional<micom_port> port = open_line();
    if (!port) _exit(3);
    bool controlling = open("/dev/tty", O_RDWR) >= 0;
    micom_port_close(*port);
    _exit(controlling ? 4 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "4: the line became the run's controlling terminal";
}

TEST_F(MicomPortTest, ALineClaimedExclusivelyByAnotherProgramIsNotOpened) {
  int exclusive = 0;
  if (ioctl(line.observer, TIOCGEXCL, &exclusive) != 0)
    GTEST_SKIP() << "TIOCGEXCL is not available (user-mode emulation)";
  ASSERT_EQ(ioctl(line.observer, TIOCEXCL), 0);
  EXPECT_FALSE(open_line().has_value());
  expect_same_settings(prior, line_settings(line));
  ASSERT_EQ(ioctl(line.observer, TIOCNXCL), 0);
  micom_port port = open_port();
  micom_port_close(port);
}

// minicom, cu or busybox microcom has the line: it holds a lock file naming
// a live process (the test's parent stands in for it).
TEST_F(MicomPortTest, ALineLockedByALiveProgramIsNotOpened) {
  ASSERT_EQ(write(line.far_end, "x\n", 2), 2);
  for (int i = 0; i < 1000 && bytes_waiting(line) != 2; ++i) usleep(5000);
  const std::string held = lock_text(getppid());
  ASSERT_TRUE(write_file(lock_file(), held));
  EXPECT_FALSE(open_line().has_value());
  expect_same_settings(prior, line_settings(line));
  EXPECT_EQ(bytes_waiting(line), 2) << "the program's input was discarded";
  EXPECT_EQ(read_file(lock_file()), held);
}

// Two runs on one line, as a monitoring script's and an operator's.
class SecondRunTest : public MicomPortTest {
 protected:
  // Forks a run that opens the line and closes it again at once; it ends with
  // 0 when the settings it saved were the ones found before the first run
  // (canonical), 4 when they were the first run's raw ones, 3 when the open
  // failed.
  pid_t start_second_run(const micom_port& first) {
    pid_t run = fork();
    if (run == 0) {
      // A separate process: it shares neither the first run's descriptor
      // (nor so its lock) nor its guard.
      close(first.fd);
      stop_restoring_line_on_signal();
      std::optional<micom_port> port = open_line();
      if (!port) _exit(3);
      const bool saved_what_was_found = port->saved.c_lflag & ICANON;
      micom_port_close(*port);
      _exit(saved_what_was_found ? 0 : 4);
    }
    return run;
  }
};

// The holder: another run, or a terminal program that locks the line.
TEST_F(SecondRunTest, WaitsForTheHolderOfTheLineAndSavesWhatItPutBack) {
  for (bool holder_is_a_run : {true, false}) {
    SCOPED_TRACE(holder_is_a_run ? "another run" : "a program holding a flock");
    micom_port first;
    if (holder_is_a_run) {
      first = open_port();
    } else {
      first.fd = open(line.path.c_str(), O_RDWR | O_NOCTTY);
      ASSERT_EQ(flock(first.fd, LOCK_EX), 0);
    }
    pid_t second = start_second_run(first);
    ASSERT_GT(second, 0);
    usleep(300000);
    int status = 0;
    EXPECT_EQ(waitpid(second, &status, WNOHANG), 0) << "the second run did not wait";
    if (holder_is_a_run) {
      micom_port_close(first);
    } else {
      close(first.fd);
    }
    ASSERT_EQ(waitpid(second, &status, 0), second);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "4: the second run saved the first one's raw settings";
    expect_same_settings(prior, line_settings(line));
  }
}

TEST_F(SecondRunTest, StoppedWhileWaitingItChangesNothing) {
  micom_port first = open_port();
  const termios during = line_settings(line);
  // The first run's reply, not yet read.
  ASSERT_EQ(write(line.far_end, "\x01\x02", 2), 2);
  for (int i = 0; i < 1000 && bytes_waiting(line) != 2; ++i) usleep(5000);
  ASSERT_EQ(bytes_waiting(line), 2);
  pid_t second = start_second_run(first);
  ASSERT_GT(second, 0);
  usleep(300000);
  ASSERT_EQ(kill(second, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(second, &status, 0), second);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(bytes_waiting(line), 2) << "the waiting run discarded the first one's reply";
  expect_same_settings(during, line_settings(line));
  micom_port_close(first);
  expect_same_settings(prior, line_settings(line));
}

TEST(MicomPortSettings, SettingsFoundAreReplacedWhole) {
  termios found = {};
  found.c_iflag = IGNBRK | INPCK | ISTRIP | IXON | IXOFF | ICRNL;
  found.c_oflag = OPOST | ONLCR;
  found.c_cflag = B115200 | CS5 | CSTOPB | PARENB | PARODD | CRTSCTS | HUPCL;
  found.c_lflag = ICANON | ECHO | ISIG | ECHOK | NOFLSH | TOSTOP;
  found.c_cc[VMIN] = 5;
  found.c_cc[VTIME] = 50;
  found.c_cc[VEOF] = 4;
  termios raw = micom_raw_settings(found);
  EXPECT_EQ(raw.c_iflag, 0u);
  EXPECT_EQ(raw.c_oflag, 0u);
  EXPECT_EQ(raw.c_cflag, 0x18B1u);
  EXPECT_EQ(raw.c_lflag, static_cast<tcflag_t>(ECHOK | NOFLSH | TOSTOP));
  EXPECT_EQ(raw.c_cc[VMIN], 0);
  EXPECT_EQ(raw.c_cc[VTIME], 1);
  EXPECT_EQ(raw.c_cc[VEOF], 4);
}

}  // namespace
