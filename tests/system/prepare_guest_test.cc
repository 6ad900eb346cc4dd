// SPDX-License-Identifier: MIT
// prepare_guest.sh and prepare_image.sh where Debian's archive cannot be
// reached: the system and image tests must be skipped with a reason, not
// failed and not passed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "guarded_process.h"
#include "read_file.h"

namespace {

void write_stub(const std::string& path, const std::string& message) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "#!/bin/sh\necho \"$0: %s\" >&2\nexit 100\n", message.c_str());
  std::fclose(f);
  chmod(path.c_str(), 0755);
}

// A preparing script, the programs that reach the archive in it, stubbed to
// fail as they do offline, and what it must say.
struct offline_case {
  const char* name;
  std::vector<std::string> argv;  // after "sh"; CACHE and OUT stand for the run's directories
  std::vector<std::string> stubs;
  const char* message;
  const char* output;  // what must not be left
};

// Names the test's row in listings, in place of the struct's bytes.
void PrintTo(const offline_case& c, std::ostream* os) { *os << c.name; }

class PrepareOffline : public ::testing::TestWithParam<offline_case> {};

TEST_P(PrepareOffline, UnreachableArchiveWithNothingCachedSkips) {
  char dir[] = "/tmp/prepare_guest_test.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string d = dir;
  mkdir((d + "/bin").c_str(), 0755);
  for (const std::string& stub : GetParam().stubs) {
    write_stub(d + "/bin/" + stub, "Temporary failure resolving 'deb.debian.org': archive not reachable");
  }
  std::vector<std::string> argv = {"env", "PATH=" + d + "/bin:/usr/sbin:/usr/bin:/sbin:/bin", "sh"};
  for (const std::string& a : GetParam().argv) {
    argv.push_back(a == "CACHE" ? d + "/cache" : a == "OUT" ? d + "/out" : a);
  }
  std::string error;
  pid_t pid = start_process(argv, d + "/log", &error);
  ASSERT_GT(pid, 0) << error;
  process_end end = wait_or_kill(pid, 60);
  std::string log = read_file(d + "/log");
  ASSERT_TRUE(end.in_time);
  EXPECT_EQ(WEXITSTATUS(end.wait_status), 77) << log;
  EXPECT_NE(log.find(GetParam().message), std::string::npos) << log;
  EXPECT_NE(access((d + "/out/" + GetParam().output).c_str(), F_OK), 0);
  [[maybe_unused]] int ignored = std::system(("rm -rf " + d).c_str());
}

INSTANTIATE_TEST_SUITE_P(Scripts, PrepareOffline,
                         ::testing::Values(offline_case{"Kernel",
                                                        {PREPARE_GUEST_SCRIPT, "amd64", "CACHE", "/bin/true", "OUT"},
                                                        {"apt-get", "apt-cache"},
                                                        "system tests skipped",
                                                        "vmlinuz"},
                                           // As root; any other user is told the build needs root, a skip too.
                                           offline_case{"Image",
                                                        {PREPARE_IMAGE_SCRIPT, "CACHE", "/bin/true", "OUT"},
                                                        {"apt-get", "mmdebstrap"},
                                                        "image test skipped",
                                                        "root.img"}),
                         [](const ::testing::TestParamInfo<offline_case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
