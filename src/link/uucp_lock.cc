// SPDX-License-Identifier: MIT
#include "link/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// ASCII decimal with blanks around it ("      1234\n" as HDB UUCP writes it,
// "1234\n"); 0 if the text is not that, or not a positive PID.
pid_t ascii_pid(const char* text, ssize_t length) {
  ssize_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  long long pid = 0;
  int digits = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9' && digits <= 10; ++i, ++digits) {
    pid = pid * 10 + (text[i] - '0');
  }
  while (i < length && (text[i] == '\n' || text[i] == ' ')) ++i;
  const bool number_alone = digits > 0 && digits <= 10 && i == length;
  return number_alone && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// The holder a lock file names, in either of the forms programs write: ASCII
// or a 4-byte binary int. 0 for anything else: too long, not a positive
// number, not a regular file, a link (the directory is world-writable: never
// followed). -1 when there is no lock file. Async-signal-safe.
pid_t lock_holder(const char* path) {
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  struct stat file;
  char text[16];
  ssize_t length = -1;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode)) length = read(fd, text, sizeof text);
  close(fd);
  if (length <= 0 || length == sizeof text) return 0;
  if (const pid_t pid = ascii_pid(text, length)) return pid;
  int binary = 0;
  if (length != sizeof binary) return 0;
  std::memcpy(&binary, text, sizeof binary);
  return binary > 0 ? binary : 0;
}

// A process of another user still counts: kill() is refused, not failed.
// The run's own PID in a lock is a leftover of a process that had it before.
bool holder_alive(pid_t pid, pid_t run) { return pid > 0 && pid != run && (kill(pid, 0) == 0 || errno == EPERM); }

// Readable by all, whatever the umask: the other programs read whose it is.
bool create_lock_file(const char* path, pid_t run) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(run));
  const bool written = fchmod(fd, 0644) == 0 && write(fd, text, length) == length;
  if (close(fd) != 0 || !written) {
    unlink(path);
    errno = EIO;
    return false;
  }
  return true;
}

enum class claim { taken, not_held, held_by_another };

claim claim_lock_file(const char* path, pid_t run) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (create_lock_file(path, run)) return claim::taken;
    // No directory, or one the run may not write to: what is there is still
    // honoured.
    const bool may_create = errno == EEXIST;
    const pid_t holder = lock_holder(path);
    if (holder_alive(holder, run)) return claim::held_by_another;
    if (!may_create) return claim::not_held;
    // Gone meanwhile: try again. A stale lock this run may not remove
    // (another user's, in the sticky directory) claims nothing; nor can the
    // run hold one of its own.
    if (holder >= 0 && unlink(path) != 0) return claim::not_held;
  }
  return claim::held_by_another;
}

// "DIRECTORY/LCK..NAME" for the last component of device_path; false if it
// has none or does not fit.
bool lock_path(const char* directory, const char* device_path, char (&path)[PATH_MAX]) {
  const char* slash = std::strrchr(device_path, '/');
  const char* name = slash ? slash + 1 : device_path;
  if (*name == '\0') return false;
  const int length = std::snprintf(path, sizeof path, "%s/LCK..%s", directory, name);
  return length > 0 && static_cast<size_t>(length) < sizeof path;
}

}  // namespace

bool uucp_lock_take(const char* directory, const char* device_path, uucp_lock* lock) {
  std::memset(lock, 0, sizeof *lock);
  lock->owner = getpid();
  // A program opened on the device a link points to (ttyAMA2 behind a udev
  // link at ttyS2) locks the device's own name.
  char* target = nullptr;
  struct stat node;
  if (lstat(device_path, &node) == 0 && S_ISLNK(node.st_mode)) target = realpath(device_path, nullptr);
  char candidates[2][PATH_MAX];
  if (!lock_path(directory, device_path, candidates[0])) candidates[0][0] = '\0';
  if (!target || !lock_path(directory, target, candidates[1]) || std::strcmp(candidates[0], candidates[1]) == 0) {
    candidates[1][0] = '\0';
  }
  std::free(target);

  for (int i = 0; i < 2; ++i) {
    if (candidates[i][0] == '\0') continue;
    const claim result = claim_lock_file(candidates[i], lock->owner);
    if (result == claim::held_by_another) {
      uucp_lock_release(*lock);
      lock->paths[0][0] = '\0';
      return false;
    }
    if (result == claim::taken) std::memcpy(lock->paths[i], candidates[i], sizeof candidates[i]);
  }
  return true;
}

void uucp_lock_release(const uucp_lock& lock) {
  for (const char* path : lock.paths) {
    if (path[0] != '\0' && lock_holder(path) == lock.owner) unlink(path);
  }
}
