// SPDX-License-Identifier: MIT
// A private /dev for the command: the sim's own mount namespace, with a
// fresh tmpfs on /dev and a pseudo-terminal slave standing at /dev/ttyS2,
// and a fresh lock directory (/var/lock). The host's /dev and lock files are
// never touched; everything goes when the processes do.
#pragma once

#include <string>

// What stands at /dev/ttyS2, as boards and containers get it wrong.
enum class device_node {
  tty,        // the pseudo-terminal slave
  link,       // a symlink to the pseudo-terminal slave, as a udev rule makes one
  none,       // nothing at all
  directory,  // an empty directory
  file,       // a regular file holding "x\n", as `echo x > /dev/ttyS2` leaves on a tmpfs
  null,       // the null device, as a container may map it
  fifo,       // a named pipe
  dangling,   // a symlink to a node that is not there
};

// The pseudo-terminal whose slave the command finds at /dev/ttyS2.
struct sim_line {
  int master = -1;  // the MICOM's end
  int slave = -1;   // kept open by the sim: the master never reads EIO between runs
};

// Enters the namespace (as root directly, otherwise inside a new user
// namespace), builds /dev and opens the pseudo-terminal. Whatever `device`
// puts at /dev/ttyS2, the pseudo-terminal is opened; with `exclusive` the
// sim's own descriptor of it claims the line (TIOCEXCL).
bool enter_private_dev(device_node device, bool exclusive, sim_line* line, std::string* error);
