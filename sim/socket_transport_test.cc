// SPDX-License-Identifier: MIT
// The MICOM behind a unix socket, with the test as the emulator's chardev.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "sim_run.h"

namespace {

int connect_to(const std::string& path) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Up to n bytes, waiting at most timeout_ms for each.
std::string receive(int fd, size_t n, int timeout_ms) {
  std::string got;
  pollfd p = {fd, POLLIN, 0};
  char c;
  while (got.size() < n && poll(&p, 1, timeout_ms) > 0 && read(fd, &c, 1) == 1) got += c;
  return got;
}

TEST(MicomSim, SocketModeServesOneConnectionUntilThePeerCloses) {
  std::string log = temp_path("socket-log");
  std::string path = temp_path("socket");
  std::remove(path.c_str());  // the sim makes the socket itself
  sim_process run =
      sim_spawn({"--reply", "V=0A0B0C0D", "--gap", "50", "--stale", "EE", "--socket", path, "--log", log});
  run.log_path = log;
  ASSERT_NE(sim_wait_log(run, "listening path=" + path, 20000), "");
  int fd = connect_to(path);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(receive(fd, 1, 5000), "\xEE");
  ASSERT_EQ(write(fd, "V", 1), 1);
  EXPECT_EQ(receive(fd, 4, 5000), "\x0A\x0B\x0C\x0D");
  ASSERT_EQ(write(fd, "H", 1), 1);
  EXPECT_EQ(receive(fd, 1, 500), "");
  close(fd);
  sim_result r = sim_finish(&run, 20000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(logged_bytes(r.log, "rx"), (std::vector<int>{'V', 'H'}));
  EXPECT_EQ(logged_bytes(r.log, "tx"), (std::vector<int>{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(lines_starting(r.log, "peer closed").size(), 1u);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "the socket file is left behind";
}

TEST(MicomSim, SocketModeRefusesAPathInUse) {
  std::string path = temp_path("socket");  // a plain file is there already
  sim_result r = sim_exec({"--socket", path});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(path), std::string::npos);
  EXPECT_EQ(access(path.c_str(), F_OK), 0) << "the sim removed a file it did not make";
  std::remove(path.c_str());
}

}  // namespace
