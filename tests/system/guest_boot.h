// SPDX-License-Identifier: MIT
// One boot of the test guest: Debian's stock kernel under qemu, with a 16550
// wired to micom-sim that the 8250 driver is to make ttyS2, running a list of
// micom cases and powering off.
#pragma once

#include <string>
#include <vector>

#include "device_tree.h"
#include "guest_report.h"
#include "uart_trace.h"

enum class guest_machine {
  x86_64,  // qemu-system-x86_64 -M pc: the UART at I/O 0x3e8, IRQ 4, and no other
  armhf,   // qemu-system-arm -M virt: the third port of a pci-serial-4x card
  // qemu-system-arm -M orangepi-pc: an Allwinner H3 whose UART2 (0x01c28800)
  // goes to the sim; ttyS2 is whatever the board's device tree makes it
  orangepi_pc,
  // qemu-system-arm -M virt as armhf, booting a Debian 12 system (systemd,
  // udev, apt) from a virtio disk; the board's package is installed in it and
  // image_checks.sh reports (see prepare_image.sh). It ignores the case list.
  armhf_image,
};

struct guest_setup {
  guest_machine machine;
  std::string name;                   // names the run's folder in the build tree
  std::vector<std::string> sim_args;  // how micom-sim answers
  std::string cases;                  // the guest's case list, comma-separated (see guest_init.sh)
  // orangepi_pc: set in a copy of the board's device tree before the boot
  std::vector<dt_property> board_device_tree;
  // The UART's far end a host pseudo-terminal instead of a socket: qemu then
  // asks that for the modem lines, which it cannot give, and the UART reads
  // no carrier (nor CTS, DSR, RI).
  bool no_carrier = false;
};

struct guest_outcome {
  std::string skip;    // set: what this machine cannot give the tests
  std::string error;   // set: the run itself went wrong
  std::string dir;     // console.log, results.txt, trace.log, sim.log, qemu.log, prepare.log
  std::string accel;   // "kvm" or "tcg"
  double seconds = 0;  // qemu's run, boot to power-off
  guest_report report;
  std::vector<uart_access> uart;  // the sim's UART's register accesses, boot to power-off
  std::vector<int> sim_received;  // the bytes that reached micom-sim
};

// Prepares the kernel and initramfs (or the image), then boots. An x86_64
// guest runs with KVM when /dev/kvm works; one that shows no sign of life
// soon is given up for TCG. The ARM guests need the board's (static) build
// of micom, the image its Debian package. A guest still running some time
// after it reported "done" is ended: its run counts as complete.
guest_outcome run_guest(const guest_setup& setup);
