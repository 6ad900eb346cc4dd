// SPDX-License-Identifier: MIT
// The lock files by which serial programs that use no flock (minicom, cu,
// busybox microcom) claim a line: LCK..NAME in the lock directory, holding
// the PID of the process that has the line.
#pragma once

#include <sys/types.h>

#include <climits>

// Where those programs look for them (on Debian a link to /run/lock).
inline constexpr char uucp_lock_directory[] = "/var/lock";

// The lock files a run created and removes when it ends; "" where none.
struct uucp_lock {
  pid_t owner;  // the run, as its lock files name it
  char paths[2][PATH_MAX];
};

// Claims the line opened at device_path: LCK..NAME in directory for its
// name and, when that is a link, for the name of the device it points to.
// False, with nothing held, when a live process holds either. A stale lock
// (its process gone, or no PID in it) is removed and taken over. A lock that
// cannot be created (no directory, or one the run may not write to or remove
// a stale lock from) is not held: the run goes on without it.
bool uucp_lock_take(const char* directory, const char* device_path, uucp_lock* lock);

// Removes the run's lock files while they still name the run.
// Async-signal-safe: the signal guard calls it too.
void uucp_lock_release(const uucp_lock& lock);
