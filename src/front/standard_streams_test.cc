// SPDX-License-Identifier: MIT
#include "front/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Runs body in a forked child, whose exit status is returned.
int in_child(int (*body)()) {
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool is_null_device(int fd) {
  struct stat got = {}, null = {};
  return fstat(fd, &got) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(got.st_mode) && got.st_rdev == null.st_rdev;
}

TEST(StandardDescriptors, ClosedOnesAreOpenedOnTheNullDeviceAndOpenOnesKept) {
  EXPECT_EQ(in_child([] {
              int pipe_ends[2];
              if (pipe(pipe_ends) != 0 || dup2(pipe_ends[1], 2) != 2) return 10;
              close(0);
              close(1);
              if (!open_closed_standard_descriptors()) return 11;
              if (!is_null_device(0) || !is_null_device(1)) return 12;
              if (is_null_device(2)) return 13;  // was open: left alone
              // The next descriptor opened is no standard one.
              return open("/dev/null", O_RDONLY) > 2 ? 0 : 14;
            }),
            0);
}

// Standard output ends up on `path`, one line is printed, and the status of
// a completed run is reported.
int print_to(const char* path, int status) {
  if (!std::freopen(path, "w", stdout)) return 20;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("SEND V TO MICOM\n");
  return status_after_output(status);
}

TEST(StatusAfterOutput, LostOutputTurnsSuccessIntoOneAndLeavesFailuresAlone) {
  EXPECT_EQ(in_child([] { return print_to("/dev/full", 0); }), 1);
  EXPECT_EQ(in_child([] { return print_to("/dev/full", -1); }), 255);
  EXPECT_EQ(in_child([] { return print_to("/dev/null", 0); }), 0);
}

TEST(StatusAfterOutput, AReaderThatLeftWhileSigpipeIsIgnoredCountsAsLost) {
  EXPECT_EQ(in_child([] {
              signal(SIGPIPE, SIG_IGN);
              int pipe_ends[2];
              if (pipe(pipe_ends) != 0) return 30;
              close(pipe_ends[0]);
              dup2(pipe_ends[1], 1);
              std::setvbuf(stdout, nullptr, _IOLBF, 0);
              std::printf("SEND V TO MICOM\n");
              return status_after_output(0);
            }),
            1);
}

TEST(StatusAfterOutput, EverythingWrittenIsReallyOutAndTheStatusKept) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  static int write_end;
  write_end = pipe_ends[1];
  EXPECT_EQ(in_child([] {
              dup2(write_end, 1);
              // Fully buffered: only the close at the end puts the line out.
              std::setvbuf(stdout, nullptr, _IOFBF, 4096);
              std::printf("READ DATA(0x01)\n");
              return status_after_output(0);
            }),
            0);
  close(pipe_ends[1]);
  char got[64] = {};
  EXPECT_EQ(read(pipe_ends[0], got, sizeof got - 1), 16);
  EXPECT_STREQ(got, "READ DATA(0x01)\n");
  close(pipe_ends[0]);
}

}  // namespace
