// SPDX-License-Identifier: MIT
#include "front/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one.
    if (open("/dev/null", O_RDWR) != fd) return false;
  }
  return true;
}

int status_after_output(int status) {
  // A write error may have been seen at any line; closing flushes the rest.
  bool lost = std::ferror(stdout) != 0;
  if (std::fclose(stdout) != 0) lost = true;
  return lost && status == 0 ? 1 : status;
}
