// SPDX-License-Identifier: MIT
#include "link/uucp_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pty_line.h"
#include "read_file.h"

namespace {

// A lock directory of the test's own, with a stand-in for the line: the lock
// code only names it, so a plain file will do.
class UucpLockTest : public testing::Test {
 protected:
  void SetUp() override {
    char made[] = "/tmp/micom-uucp-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    base = made;
    directory = base + "/lock";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    device = base + "/ttyS2";
    ASSERT_TRUE(write_file(device, ""));
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf " + base).c_str()), 0); }

  std::string lock_file(const char* name = "ttyS2") const { return directory + "/LCK.." + name; }
  bool take(uucp_lock* lock) const { return uucp_lock_take(directory.c_str(), device.c_str(), lock); }

  std::string base, directory, device;
};

// A PID no process has: a child's, once it has been reaped.
pid_t dead_pid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

std::string binary_pid(pid_t pid) {
  int value = pid;
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

struct found_lock {
  const char* what;
  std::string text;
  bool held_by_another;
};

// What another program may have left at LCK..ttyS2. The test's parent stands
// in for a live holder.
std::vector<found_lock> found_locks() {
  const pid_t live = getppid();
  return {
      {"live, ten characters and a newline", lock_text(live), true},
      {"live, digits alone", std::to_string(live) + "\n", true},
      {"live, a binary int", binary_pid(live), true},
      {"dead, ten characters", lock_text(dead_pid()), false},
      {"dead, a binary int", binary_pid(dead_pid()), false},
      {"empty", "", false},
      {"no number", "minicom\n", false},
      {"zero", "         0\n", false},
      {"negative", "-1\n", false},
      {"a binary negative", binary_pid(-5), false},
      {"a number and more", std::to_string(live) + " x\n", false},
      {"too long to be a PID", std::string(40, '1') + "\n", false},
      {"this run's own PID, left by an earlier process", lock_text(getpid()), false},
  };
}

TEST_F(UucpLockTest, ALiveHolderKeepsTheLineAStaleLockIsTakenOver) {
  for (const found_lock& found : found_locks()) {
    SCOPED_TRACE(found.what);
    ASSERT_TRUE(write_file(lock_file(), found.text));
    uucp_lock lock;
    EXPECT_EQ(take(&lock), !found.held_by_another);
    if (found.held_by_another) {
      EXPECT_EQ(read_file(lock_file()), found.text) << "a live program's lock was touched";
      EXPECT_STREQ(lock.paths[0], "");
    } else {
      EXPECT_EQ(read_file(lock_file()), lock_text(getpid()));
      uucp_lock_release(lock);
    }
    unlink(lock_file().c_str());
  }
}

TEST_F(UucpLockTest, TheRunsLockNamesItReadableByAllAndGoesAtRelease) {
  const mode_t earlier_umask = umask(077);
  uucp_lock lock;
  ASSERT_TRUE(take(&lock));
  umask(earlier_umask);
  EXPECT_EQ(read_file(lock_file()), lock_text(getpid()));
  EXPECT_EQ(read_file(lock_file()).size(), 11u);
  struct stat file = {};
  ASSERT_EQ(stat(lock_file().c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 07777, 0644u);
  EXPECT_STREQ(lock.paths[0], lock_file().c_str());
  EXPECT_STREQ(lock.paths[1], "");

  // Another program's lock at the name by then is not the run's to remove.
  ASSERT_TRUE(write_file(lock_file(), lock_text(getppid())));
  uucp_lock_release(lock);
  EXPECT_EQ(read_file(lock_file()), lock_text(getppid()));
  ASSERT_EQ(unlink(lock_file().c_str()), 0);
  ASSERT_TRUE(take(&lock));
  uucp_lock_release(lock);
  EXPECT_EQ(access(lock_file().c_str(), F_OK), -1);
}

// The lock directory is world-writable: a link planted at the lock's name
// must not lead the run to read or overwrite its target.
TEST_F(UucpLockTest, ALinkAtTheLocksNameIsNeverFollowed) {
  const std::string target = base + "/precious";
  ASSERT_TRUE(write_file(target, lock_text(getppid())));
  ASSERT_EQ(symlink(target.c_str(), lock_file().c_str()), 0);
  uucp_lock lock;
  ASSERT_TRUE(take(&lock));
  EXPECT_EQ(read_file(target), lock_text(getppid()));
  struct stat node = {};
  ASSERT_EQ(lstat(lock_file().c_str(), &node), 0);
  EXPECT_TRUE(S_ISREG(node.st_mode)) << "the link is still there";
  uucp_lock_release(lock);
}

// udev links ttyS2 to the UART's own device; a program opened on that name
// locks that name.
TEST_F(UucpLockTest, ALinkedLineIsLockedByBothNames) {
  const std::string uart = base + "/ttyAMA2";
  ASSERT_EQ(rename(device.c_str(), uart.c_str()), 0);
  ASSERT_EQ(symlink(uart.c_str(), device.c_str()), 0);

  uucp_lock lock;
  ASSERT_TRUE(take(&lock));
  EXPECT_EQ(read_file(lock_file()), lock_text(getpid()));
  EXPECT_EQ(read_file(lock_file("ttyAMA2")), lock_text(getpid()));
  uucp_lock_release(lock);
  EXPECT_EQ(directory_entries(directory), std::vector<std::string>());

  ASSERT_TRUE(write_file(lock_file("ttyAMA2"), lock_text(getppid())));
  EXPECT_FALSE(take(&lock));
  EXPECT_EQ(directory_entries(directory), std::vector<std::string>{"LCK..ttyAMA2"}) << "the first name was kept";
}

// Runs take() in a child that may not write to the lock directory (a user
// not in the group a distribution keeps it for); its exit status says what
// came of it: 0 taken and no lock file held, 1 refused, 2 a lock file held.
int take_without_write_permission(const std::string& directory, const std::string& device) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(3);
    uucp_lock lock;
    if (!uucp_lock_take(directory.c_str(), device.c_str(), &lock)) _exit(1);
    _exit(lock.paths[0][0] == '\0' ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(UucpLockTest, WithoutALockDirectoryItMayWriteToTheRunGoesOnWithoutALockFile) {
  uucp_lock lock;
  EXPECT_TRUE(uucp_lock_take((base + "/none").c_str(), device.c_str(), &lock));
  EXPECT_STREQ(lock.paths[0], "");

  ASSERT_EQ(chmod(base.c_str(), 0755), 0);
  ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
  EXPECT_EQ(take_without_write_permission(directory, device), 0);
  // What can be read is still honoured.
  ASSERT_EQ(chmod(directory.c_str(), 0755), 0);
  ASSERT_TRUE(write_file(lock_file(), lock_text(getppid())));
  ASSERT_EQ(chmod(directory.c_str(), 0555), 0);
  EXPECT_EQ(take_without_write_permission(directory, device), 1);
  // A stale lock the run may not remove (another user's, in the sticky
  // directory) claims nothing.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to leave a lock of another user";
  ASSERT_EQ(chmod(directory.c_str(), 01777), 0);
  ASSERT_TRUE(write_file(lock_file(), lock_text(dead_pid())));
  EXPECT_EQ(take_without_write_permission(directory, device), 0);
  EXPECT_EQ(directory_entries(directory), std::vector<std::string>{"LCK..ttyS2"});
}

}  // namespace
