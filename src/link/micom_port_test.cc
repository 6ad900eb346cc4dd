#include "link/micom_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "link/micom_exchange.h"
#include "pty_line.h"

namespace {

class MicomPortTest : public testing::Test {
 protected:
  void SetUp() override {
    line = open_pty_line();
    prior = set_distinctive_state(line);
  }
  void TearDown() override { close_pty_line(line); }

  micom_port open_port() {
    std::optional<micom_port> port = micom_port_open_path(line.path.c_str());
    EXPECT_TRUE(port.has_value());
    return *port;
  }

  pty_line line;
  termios prior;
};

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

TEST_F(MicomPortTest, CloseRestoresEveryFieldFound) {
  micom_port port = open_port();
  micom_port_close(port);
  expect_same_settings(prior, line_settings(line));
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

TEST(MicomPortOpen, FailsOnlyWhenTheDeviceCannotBeOpened) {
  EXPECT_FALSE(micom_port_open_path("/nonexistent/ttyS2").has_value());
  char directory[] = "/tmp/micom-port-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  EXPECT_FALSE(micom_port_open_path(directory).has_value());
  rmdir(directory);
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

// A run killed while it waits for a silent microcontroller.
class InterruptedRunTest : public MicomPortTest,
                           public testing::WithParamInterface<int> {};

TEST_P(InterruptedRunTest, SignalRestoresTheLineAndStillKills) {
  const int signal_number = GetParam();
  pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    std::optional<micom_port> port = micom_port_open_path(line.path.c_str());
    if (!port) _exit(3);
    micom_read_reply(*port);
    _exit(4);
  }
  // The run is waiting once the line is raw.
  for (int i = 0; i < 1000 && line_settings(line).c_cflag != 0x18B1u; ++i) usleep(5000);
  ASSERT_EQ(line_settings(line).c_cflag, 0x18B1u);
  kill(run, signal_number);

  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), signal_number);
  expect_same_settings(prior, line_settings(line));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRunTest, testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST_F(MicomPortTest, HangUpIgnoredByTheCallerStaysIgnored) {
  pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    signal(SIGHUP, SIG_IGN);
    std::optional<micom_port> port = micom_port_open_path(line.path.c_str());
    if (!port) _exit(3);
    raise(SIGHUP);
    micom_port_close(*port);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
