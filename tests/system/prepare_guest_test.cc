// SPDX-License-Identifier: MIT
// prepare_guest.sh where Debian's archive cannot be reached: the system tests
// must be skipped with a reason, not failed and not passed.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "guarded_process.h"
#include "read_file.h"

namespace {

void write_stub(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("#!/bin/sh\necho \"$0: archive not reachable\" >&2\nexit 100\n", f);
  std::fclose(f);
  chmod(path.c_str(), 0755);
}

TEST(PrepareGuest, UnreachableArchiveWithNoCachedKernelSkips) {
  char dir[] = "/tmp/prepare_guest_test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string d = dir;
  mkdir((d + "/bin").c_str(), 0755);
  write_stub(d + "/bin/apt-get");
  write_stub(d + "/bin/apt-cache");
  std::string error;
  pid_t pid = start_process({"env", "PATH=" + d + "/bin:/usr/sbin:/usr/bin:/sbin:/bin", "sh", PREPARE_GUEST_SCRIPT,
                             "amd64", d + "/cache", "/bin/true", d + "/out"},
                            d + "/log", &error);
  ASSERT_GT(pid, 0) << error;
  process_end end = wait_or_kill(pid, 60);
  std::string log = read_file(d + "/log");
  ASSERT_TRUE(end.in_time);
  EXPECT_EQ(WEXITSTATUS(end.wait_status), 77) << log;
  EXPECT_NE(log.find("system tests skipped"), std::string::npos) << log;
  EXPECT_NE(access((d + "/out/vmlinuz").c_str(), F_OK), 0);
  std::system(("rm -rf " + d).c_str());
}

}  // namespace
