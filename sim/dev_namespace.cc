// SPDX-License-Identifier: MIT
#include "dev_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool fail(std::string* error, const std::string& what) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

// Writes text to path, opened with O_WRONLY | O_CLOEXEC | extra_flags (O_CREAT
// | O_EXCL for a new file, made 0666 less the umask).
bool write_file(const char* path, const std::string& text, int extra_flags = 0) {
  int fd = open(path, O_WRONLY | O_CLOEXEC | extra_flags, 0666);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// Root gets a plain mount namespace; anyone else (or root where that is
// refused) a user namespace mapping them to root inside it.
bool unshare_mounts(std::string* error) {
  if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0) return true;
  uid_t uid = geteuid();
  gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    return fail(error, "cannot make a private mount namespace (needs root or user namespaces)");
  }
  if (!write_file("/proc/self/setgroups", "deny") ||
      !write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    return fail(error, "cannot map the user into the new user namespace");
  }
  return true;
}

bool bind_node(const std::string& from, const char* to, std::string* error) {
  // An empty regular file to bind the node onto.
  if (!write_file(to, "", O_CREAT | O_EXCL) || mount(from.c_str(), to, nullptr, MS_BIND, nullptr) != 0) {
    return fail(error, std::string("cannot bind ") + to);
  }
  return true;
}

bool make_device_node(device_node device, const std::string& slave, std::string* error) {
  const char* node = "/dev/ttyS2";
  bool made = true;
  switch (device) {
    case device_node::tty:
      return bind_node(slave, node, error);
    case device_node::link:
      made = symlink(slave.c_str(), node) == 0;
      break;
    case device_node::none:
      break;
    case device_node::directory:
      made = mkdir(node, 0755) == 0;
      break;
    case device_node::file:
      made = write_file(node, "x\n", O_CREAT | O_EXCL);
      break;
    case device_node::null:
      return bind_node("/dev/null", node, error);
    case device_node::fifo:
      made = mkfifo(node, 0666) == 0;
      break;
    case device_node::dangling:
      made = symlink("/dev/ttyAMA2", node) == 0;
      break;
  }
  return made || fail(error, "cannot make /dev/ttyS2");
}

// The command's lock files (LCK..ttyS2) go to a fresh, world-writable
// directory of the namespace's own, never the host's. A host without
// /var/lock keeps none.
bool make_private_lock_directory(std::string* error) {
  struct stat host_lock_directory;
  if (stat("/var/lock", &host_lock_directory) != 0) return true;
  if (mount("tmpfs", "/var/lock", "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=1777") != 0) {
    return fail(error, "cannot mount tmpfs on /var/lock");
  }
  return true;
}

// The host's nodes that the new /dev gets too, bound from descriptors held
// before the tmpfs covers them: a user namespace may not mknod.
constexpr const char* host_nodes[] = {"/dev/null", "/dev/zero", "/dev/full", "/dev/tty"};
constexpr int host_node_count = sizeof host_nodes / sizeof host_nodes[0];

// Opens each of host_nodes (O_PATH) into fds.
bool hold_host_nodes(int* fds, std::string* error) {
  for (int i = 0; i < host_node_count; ++i) {
    fds[i] = open(host_nodes[i], O_PATH | O_CLOEXEC);
    if (fds[i] < 0) return fail(error, std::string("cannot open ") + host_nodes[i]);
  }
  return true;
}

// Binds the held host_nodes into the new /dev and lets the descriptors go.
bool bind_host_nodes(const int* fds, std::string* error) {
  for (int i = 0; i < host_node_count; ++i) {
    if (!bind_node("/proc/self/fd/" + std::to_string(fds[i]), host_nodes[i], error)) return false;
    close(fds[i]);
  }
  return true;
}

// A tmpfs on /dev with a devpts instance of its own and the usual links.
bool mount_dev(std::string* error) {
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) return fail(error, "cannot mount tmpfs on /dev");
  if (mkdir("/dev/pts", 0755) != 0 ||
      mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620") != 0) {
    return fail(error, "cannot mount devpts on /dev/pts");
  }
  if (symlink("pts/ptmx", "/dev/ptmx") != 0 || symlink("/proc/self/fd", "/dev/fd") != 0 ||
      symlink("/proc/self/fd/0", "/dev/stdin") != 0 || symlink("/proc/self/fd/1", "/dev/stdout") != 0 ||
      symlink("/proc/self/fd/2", "/dev/stderr") != 0) {
    return fail(error, "cannot make the /dev links");
  }
  return true;
}

// Opens a pseudo-terminal of the new devpts, both ends; *slave gets the slave's path.
bool open_line(sim_line* line, std::string* slave, std::string* error) {
  line->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->master < 0 || grantpt(line->master) != 0 || unlockpt(line->master) != 0) {
    return fail(error, "cannot open a pseudo-terminal");
  }
  const char* slave_path = ptsname(line->master);
  if (!slave_path) return fail(error, "cannot name the pseudo-terminal slave");
  *slave = slave_path;
  line->slave = open(slave->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->slave < 0) return fail(error, "cannot open " + *slave);
  return true;
}

}  // namespace

bool enter_private_dev(device_node device, bool exclusive, sim_line* line, std::string* error) {
  if (!unshare_mounts(error)) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return fail(error, "cannot make / private");
  }
  int host_fd[host_node_count];
  if (!hold_host_nodes(host_fd, error) || !make_private_lock_directory(error) || !mount_dev(error) ||
      !bind_host_nodes(host_fd, error)) {
    return false;
  }
  std::string slave;
  if (!open_line(line, &slave, error)) return false;
  if (exclusive && ioctl(line->slave, TIOCEXCL) != 0) return fail(error, "cannot claim the line (TIOCEXCL)");
  return make_device_node(device, slave, error);
}
