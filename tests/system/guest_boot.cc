// SPDX-License-Identifier: MIT
#include "guest_boot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "guarded_process.h"
#include "read_file.h"
#include "sim_log_reading.h"

namespace {

// A guest that reported "done" but does not power off (a board whose reset
// qemu does not model) is ended this long after.
constexpr double power_off_grace_s = 60;
constexpr double kvm_sign_of_life_s = 10;  // a KVM guest reaches /init in a few seconds
constexpr double sim_start_limit_s = 10;
constexpr int skip_status = 77;
// The kernel's crypto self-tests take seconds of a TCG boot and have nothing
// to do with the line.
const std::string kernel_args = "panic=-1 cryptomgr.notests";

// The H3's UART2, the sim's; UART3 carries the report (the board has no virtio).
constexpr unsigned long h3_uart2_base = 0x01c28800;
constexpr unsigned h3_uart_reg_shift = 2;  // registers 4 bytes apart
const char h3_uart3_node[] = "/soc/serial@1c28c00";

std::string last_line(const std::string& text) {
  std::string t = text.substr(0, text.find_last_not_of('\n') + 1);
  return t.substr(t.find_last_of('\n') + 1);
}

std::string tail(const std::string& text, std::size_t n) {
  return text.size() > n ? "..." + text.substr(text.size() - n) : text;
}

// The sim's end of the UART is up: its socket, or its link to a pseudo-terminal.
bool sim_listens(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && (S_ISSOCK(st.st_mode) || S_ISLNK(st.st_mode));
}

// What sets a guest apart before its boot, and how long each step may take.
struct guest_kind {
  const char* micom;                 // what the guest gets: micom built for it, or the board's package
  const char* micom_missing;         // how to make it, when it is not there
  std::vector<std::string> prepare;  // the script that prepares the guest, with its first arguments
  double prepare_limit_s;
  double boot_limit_s;
};

guest_kind kind_of(guest_machine machine) {
  // An initramfs guest: preparing it may install qemu and fetch the kernel; a
  // whole TCG run on a slow machine takes well under its limit.
  guest_kind kind = {MICOM_ARMHF_BINARY, " (build the armhf preset first)", {PREPARE_GUEST_SCRIPT, "armhf"}, 540, 150};
  if (machine == guest_machine::x86_64) {
    kind.micom = MICOM_BINARY;
    kind.prepare = {PREPARE_GUEST_SCRIPT, "amd64"};
  } else if (machine == guest_machine::armhf_image) {
    // The image's root file system is built under qemu-user (about 4 minutes
    // here, alone on the machine); its boot, apt and checks took 60 to 90 s.
    kind = {MICOM_ARMHF_DEB, " (the package tests' package_build makes it)", {PREPARE_IMAGE_SCRIPT}, 1800, 600};
  }
  return kind;
}

// Runs the guest's preparing script; sets out->skip or out->error when it cannot.
void prepare(const guest_kind& kind, const std::string& dir, guest_outcome* out) {
  if (access(kind.micom, R_OK) != 0) {
    out->skip = std::string("no micom for the guest at ") + kind.micom + kind.micom_missing;
    return;
  }
  std::vector<std::string> argv = {"sh"};
  argv.insert(argv.end(), kind.prepare.begin(), kind.prepare.end());
  argv.insert(argv.end(), {SYSTEM_CACHE_DIR, kind.micom, dir});
  std::string log = dir + "/prepare.log", error;
  pid_t pid = start_process(argv, log, &error);
  if (pid < 0) {
    out->error = error;
    return;
  }
  process_end end = wait_or_kill(pid, kind.prepare_limit_s);
  if (!end.in_time) {
    out->error = "preparing the guest overran and was killed, see " + log;
  } else if (WIFEXITED(end.wait_status) && WEXITSTATUS(end.wait_status) == skip_status) {
    out->skip = last_line(read_file(log));
  } else if (!WIFEXITED(end.wait_status) || WEXITSTATUS(end.wait_status) != 0) {
    out->error = "preparing the guest failed: " + tail(read_file(log), 2000);
  }
}

// qemu's arguments stay laid out by hand, an option with its value, one
// device or setting to a line.
// clang-format off
std::vector<std::string> qemu_command(const guest_setup& setup, const std::string& dir, const std::string& accel,
                                      const std::string& socket) {
  const guest_machine machine = setup.machine;
  const std::string& cases = setup.cases;
  const std::string uart = (setup.no_carrier ? "serial,id=uart,path=" : "socket,id=uart,path=") + socket;
  std::vector<std::string> c;
  if (machine == guest_machine::orangepi_pc) {
    // The machine's shape (4 cores, 1 GiB) is fixed; maxcpus=1 boots in a
    // third of the time under TCG. iomem=relaxed lets devmem reach the
    // UART's scratch register past the driver. The n-th -serial is UART n-1.
    return {"qemu-system-arm", "-accel", accel, "-M", "orangepi-pc",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
            "-kernel", dir + "/vmlinuz", "-dtb", dir + "/board.dtb", "-initrd", dir + "/initramfs.gz",
            "-append", "console=ttyS0,115200 " + kernel_args + " iomem=relaxed maxcpus=1 results=ttyS3 cases=" + cases,
            "-serial", "file:" + dir + "/console.log", "-serial", "null",
            "-chardev", uart, "-serial", "chardev:uart",
            "-serial", "file:" + dir + "/results.txt",
            // qemu's serial_* events do not tell the four UARTs apart; these carry the address.
            "-trace", "memory_region_ops_read", "-trace", "memory_region_ops_write", "-D", dir + "/trace.log"};
  }
  if (machine == guest_machine::armhf_image) {
    // systemd and apt want more memory than the initramfs guests. The
    // results port is named so that udev links it as /dev/virtio-ports/results.
    // systemd-firstboot would wait on the console for a locale and a password.
    return {"qemu-system-arm", "-accel", accel, "-M", "virt,highmem=off", "-cpu", "cortex-a15",
            "-smp", "1", "-m", "1024",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
            "-chardev", "null,id=port0", "-chardev", "null,id=port1", "-chardev", "null,id=port3",
            "-chardev", uart,
            "-device", "pci-serial-4x,chardev1=port0,chardev2=port1,chardev3=uart,chardev4=port3",
            "-drive", "file=" + dir + "/root.img,if=none,format=raw,id=root", "-device", "virtio-blk-pci,drive=root",
            "-kernel", dir + "/vmlinuz", "-initrd", dir + "/initrd.img",
            "-append", "console=hvc0 root=/dev/vda rw " + kernel_args + " systemd.firstboot=off",
            "-device", "virtio-serial-pci",
            "-chardev", "file,id=console,path=" + dir + "/console.log",
            "-device", "virtconsole,chardev=console",
            "-chardev", "file,id=results,path=" + dir + "/results.txt",
            "-device", "virtserialport,chardev=results,name=results",
            "-trace", "serial_read", "-trace", "serial_write", "-D", dir + "/trace.log"};
  }
  if (machine == guest_machine::x86_64) {
    c = {"qemu-system-x86_64", "-accel", accel, "-M", "pc",
         "-chardev", uart,
         "-device", "isa-serial,iobase=0x3e8,irq=4,chardev=uart"};
  } else {
    // The 8250 driver numbers the card's ports ttyS0 to ttyS3; the others stay unconnected.
    c = {"qemu-system-arm", "-accel", accel, "-M", "virt,highmem=off", "-cpu", "cortex-a15",
         "-chardev", "null,id=port0", "-chardev", "null,id=port1", "-chardev", "null,id=port3",
         "-chardev", uart,
         "-device", "pci-serial-4x,chardev1=port0,chardev2=port1,chardev3=uart,chardev4=port3"};
  }
  // The x86 kernel is its ELF image, booted by the PVH entry (see prepare_guest.sh).
  const char* kernel = machine == guest_machine::x86_64 ? "/vmlinux" : "/vmlinuz";
  c.insert(c.end(), {"-smp", "1", "-m", "256",
          "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
          "-kernel", dir + kernel, "-initrd", dir + "/initramfs.gz",
          "-append", "console=hvc0 " + kernel_args + " cases=" + cases,
          "-device", "virtio-serial-pci",
          "-chardev", "file,id=console,path=" + dir + "/console.log",
          "-device", "virtconsole,chardev=console",
          "-chardev", "file,id=results,path=" + dir + "/results.txt",
          "-device", "virtserialport,chardev=results,name=results",
          "-trace", "serial_read", "-trace", "serial_write", "-D", dir + "/trace.log"});
  return c;
}
// clang-format on

enum class boot_end { powered_off, no_sign_of_life, failed };

// Starts micom-sim on the socket and waits until it listens; -1 with
// out->error set when it does not come up.
pid_t start_sim(const guest_setup& setup, const std::string& socket, guest_outcome* out) {
  std::vector<std::string> argv = {MICOM_SIM_BINARY};
  argv.insert(argv.end(), setup.sim_args.begin(), setup.sim_args.end());
  argv.insert(argv.end(), {setup.no_carrier ? "--pty-link" : "--socket", socket, "--log", out->dir + "/sim.log"});
  pid_t pid = start_process(argv, out->dir + "/sim.out", &out->error);
  if (pid < 0) return -1;
  double start = monotonic_seconds();
  int status;
  while (!sim_listens(socket)) {
    bool ended = process_ended(pid, &status);
    if (ended || monotonic_seconds() - start > sim_start_limit_s) {
      if (!ended) kill_process(pid);
      out->error = "micom-sim did not come up: " + read_file(out->dir + "/sim.out");
      return -1;
    }
    usleep(20 * 1000);
  }
  return pid;
}

// Waits for qemu to power off, within the limits; kills it when it overruns,
// or when the guest is done but stays up.
boot_end watch_qemu(pid_t qemu, bool kvm, double limit_s, guest_outcome* out) {
  double start = monotonic_seconds();
  double done_at = -1;
  boot_end end = boot_end::failed;
  for (;;) {
    int status;
    if (process_ended(qemu, &status)) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        end = boot_end::powered_off;
      } else {
        out->error = "qemu failed: " + tail(read_file(out->dir + "/qemu.log"), 2000);
      }
      break;
    }
    double running = monotonic_seconds() - start;
    if (kvm && running > kvm_sign_of_life_s && !parse_guest_report(read_file(out->dir + "/results.txt")).booted) {
      kill_process(qemu);
      end = boot_end::no_sign_of_life;
      break;
    }
    if (done_at < 0 && parse_guest_report(read_file(out->dir + "/results.txt")).done) done_at = running;
    if (done_at >= 0 && running - done_at > power_off_grace_s) {
      kill_process(qemu);
      end = boot_end::powered_off;
      break;
    }
    if (running > limit_s) {
      kill_process(qemu);
      out->error = "qemu overran its " + std::to_string(static_cast<int>(limit_s)) + " s and was killed";
      break;
    }
    usleep(50 * 1000);
  }
  out->seconds = monotonic_seconds() - start;
  return end;
}

// One boot with the given accelerator, with a sim of its own.
boot_end boot(const guest_setup& setup, const std::string& accel, const std::string& socket, guest_outcome* out) {
  for (const char* f : {"console.log", "results.txt", "trace.log", "sim.log", "sim.out", "qemu.log"}) {
    std::remove((out->dir + "/" + f).c_str());
  }
  std::remove(socket.c_str());
  pid_t sim = start_sim(setup, socket, out);
  if (sim < 0) return boot_end::failed;
  out->accel = accel;
  std::vector<std::string> qemu_argv = qemu_command(setup, out->dir, accel, socket);
  pid_t qemu = start_process(qemu_argv, out->dir + "/qemu.log", &out->error);
  double limit_s = kind_of(setup.machine).boot_limit_s;
  boot_end end = qemu > 0 ? watch_qemu(qemu, accel == "kvm", limit_s, out) : boot_end::failed;
  // The sim ends when qemu hangs up; it gets a moment for that.
  wait_or_kill(sim, 2);
  return end;
}

// Where a host whose KVM left the guest hanging is remembered, by its kernel
// release, so that later runs go straight to TCG.
const char kvm_hangs_path[] = SYSTEM_CACHE_DIR "/kvm-hangs";

std::string host_release() {
  utsname u;
  return uname(&u) == 0 ? u.release : "";
}

bool kvm_worth_trying() {
  int fd = open("/dev/kvm", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return read_file(kvm_hangs_path) != host_release() + "\n";
}

void remember_kvm_hangs() {
  if (std::FILE* f = std::fopen(kvm_hangs_path, "w")) {
    std::fprintf(f, "%s\n", host_release().c_str());
    std::fclose(f);
  }
}

}  // namespace

guest_outcome run_guest(const guest_setup& setup) {
  static bool try_kvm = kvm_worth_trying();
  guest_outcome out;
  out.dir = std::string(SYSTEM_WORK_DIR) + "/" + setup.name;
  mkdir(SYSTEM_WORK_DIR, 0755);
  mkdir(out.dir.c_str(), 0755);
  prepare(kind_of(setup.machine), out.dir, &out);
  if (!out.skip.empty() || !out.error.empty()) return out;
  if (setup.machine == guest_machine::orangepi_pc) {
    std::vector<dt_property> tree = setup.board_device_tree;
    // The report's UART, enabled as ttyS3 whatever the setup does to UART2.
    tree.insert(tree.end(), {{h3_uart3_node, "status", "okay"}, {"/aliases", "serial3", h3_uart3_node}});
    out.error = set_dt_properties(out.dir + "/board.dtb", tree, out.dir + "/prepare.log");
    if (!out.error.empty()) return out;
  }

  // A short path: unix socket names are limited to 108 bytes.
  char socket_dir[] = "/tmp/micom-system.XXXXXX";
  if (!mkdtemp(socket_dir)) {
    out.error = "mkdtemp failed";
    return out;
  }
  std::string socket = std::string(socket_dir) + "/uart";
  boot_end end = boot_end::no_sign_of_life;
  if (try_kvm && setup.machine == guest_machine::x86_64) {
    end = boot(setup, "kvm", socket, &out);
    if (end == boot_end::no_sign_of_life) {
      std::printf("system tests: the KVM guest showed no sign of life in %.0f s; TCG from now on (%s)\n",
                  kvm_sign_of_life_s, kvm_hangs_path);
      try_kvm = false;
      remember_kvm_hangs();
    }
  }
  if (end == boot_end::no_sign_of_life) end = boot(setup, "tcg", socket, &out);
  std::remove(socket.c_str());
  rmdir(socket_dir);

  out.report = parse_guest_report(read_file(out.dir + "/results.txt"));
  std::string trace = read_file(out.dir + "/trace.log");
  out.uart = setup.machine == guest_machine::orangepi_pc ? parse_mmio_trace(trace, h3_uart2_base, h3_uart_reg_shift)
                                                         : parse_serial_trace(trace);
  out.sim_received = logged_bytes(read_file(out.dir + "/sim.log"), "rx");
  if (!out.report.done) {
    if (out.error.empty()) out.error = "the guest did not get through its cases";
    out.error += "; its console:\n" + tail(read_file(out.dir + "/console.log"), 3000);
  }
  std::printf("system tests: %s ran under %s in %.1f s; its files are in %s\n", setup.name.c_str(), out.accel.c_str(),
              out.seconds, out.dir.c_str());
  return out;
}
