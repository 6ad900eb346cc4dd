// SPDX-License-Identifier: MIT
// The command's private /dev and lock directory, seen from a shell in place
// of micom.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "sim_run.h"

namespace {

std::set<std::string> host_dev() {
  const std::vector<std::string> names = directory_entries("/dev");
  return {names.begin(), names.end()};
}

TEST(MicomSim, PrivateDevWithATtyAtTtyS2OrNoneOrADirectory) {
  std::set<std::string> before = host_dev();
  sim_result r = sim_run(
      {}, {"sh", "-c",
           "test -c /dev/ttyS2 && test -t 0 </dev/ttyS2 && test -c /dev/null && "
           "echo x >/dev/null && test -c /dev/zero && test -c /dev/tty && ! echo x 2>/dev/null >/dev/full && echo ok"});
  EXPECT_EQ(r.out, "ok\n") << r.err;
  r = sim_run({"--device", "none"}, {"sh", "-c", "test -e /dev/ttyS2 || echo none"});
  EXPECT_EQ(r.out, "none\n");
  r = sim_run({"--device", "directory"}, {"sh", "-c", "test -d /dev/ttyS2 && echo dir"});
  EXPECT_EQ(r.out, "dir\n");
  EXPECT_EQ(host_dev(), before) << "the host's /dev changed";
}

TEST(MicomSim, LockFilesGoToALockDirectoryOfTheNamespacesOwn) {
  if (access("/var/lock", F_OK) != 0) GTEST_SKIP() << "this host has no /var/lock";
  const std::string name = "/var/lock/LCK..sim-test-" + std::to_string(getpid());
  sim_result r =
      sim_run({}, {"sh", "-c", "test -z \"$(ls -A /var/lock)\" && touch " + name + " && stat -c %a /var/lock/"});
  EXPECT_EQ(r.out, "1777\n") << r.err;
  EXPECT_NE(access(name.c_str(), F_OK), 0) << "the lock file reached the host's /var/lock";
}

}  // namespace
