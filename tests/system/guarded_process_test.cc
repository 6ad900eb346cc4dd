// SPDX-License-Identifier: MIT
#include "guarded_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string temp_log() {
  char path[] = "/tmp/guarded_process_test.XXXXXX";
  int fd = mkstemp(path);
  close(fd);
  return path;
}

TEST(GuardedProcess, OverrunningChildIsKilledAtTheLimit) {
  std::string log = temp_log(), error;
  pid_t pid = start_process({"sleep", "60"}, log, &error);
  ASSERT_GT(pid, 0) << error;
  double start = monotonic_seconds();
  process_end end = wait_or_kill(pid, 0.5);
  EXPECT_FALSE(end.in_time);
  EXPECT_LT(monotonic_seconds() - start, 10.0);
  std::remove(log.c_str());
}

TEST(GuardedProcess, ChildOutputAndStatusAreKept) {
  std::string log = temp_log(), error;
  pid_t pid = start_process({"sh", "-c", "echo out; echo err >&2; exit 3"}, log, &error);
  ASSERT_GT(pid, 0) << error;
  process_end end = wait_or_kill(pid, 30);
  ASSERT_TRUE(end.in_time);
  EXPECT_EQ(WEXITSTATUS(end.wait_status), 3);
  char text[64] = {};
  std::FILE* f = std::fopen(log.c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, f), 8u);
  std::fclose(f);
  EXPECT_STREQ(text, "out\nerr\n");
  std::remove(log.c_str());
}

TEST(GuardedProcess, MissingProgramEndsWith127) {
  std::string log = temp_log(), error;
  pid_t pid = start_process({"/nonexistent/program"}, log, &error);
  ASSERT_GT(pid, 0) << error;
  process_end end = wait_or_kill(pid, 30);
  ASSERT_TRUE(end.in_time);
  EXPECT_EQ(WEXITSTATUS(end.wait_status), 127);
  std::remove(log.c_str());
}

}  // namespace
