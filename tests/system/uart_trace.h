// SPDX-License-Identifier: MIT
// What the guest's driver did to the 16550's registers, read back from qemu's
// trace of the UART's register accesses: serial_read and serial_write events
// for a port-mapped or PCI UART, memory_region_ops_read and _write events
// (absolute addresses) for a SoC's memory-mapped one.
#pragma once

#include <string>
#include <vector>

// One register access: the register's number (its offset from the UART's
// base in registers, not bytes) and the value read or written.
struct uart_access {
  bool read;
  unsigned offset;
  unsigned value;
};

// The serial_read and serial_write events of a qemu trace log, in order.
// Other lines are skipped.
std::vector<uart_access> parse_serial_trace(const std::string& trace);

// The memory_region_ops_read and _write events that fall on the UART at
// base, whose registers are 1 << reg_shift bytes apart, in order.
std::vector<uart_access> parse_mmio_trace(const std::string& trace, unsigned long base, unsigned reg_shift);

// Register numbers, and the bits the tests look at.
constexpr unsigned uart_thr_dll = 0;  // transmit register, or divisor low byte while LCR.DLAB is set
constexpr unsigned uart_ier_dlm = 1;  // interrupt enable, or divisor high byte while LCR.DLAB is set
constexpr unsigned uart_lcr = 3;
constexpr unsigned uart_mcr = 4;
constexpr unsigned uart_lsr = 5;
constexpr unsigned uart_msr = 6;
constexpr unsigned uart_scr = 7;  // scratch: the guest's marks around each micom run
constexpr unsigned uart_lcr_dlab = 0x80;
constexpr unsigned uart_mcr_rts = 0x02;
constexpr unsigned uart_msr_dcd = 0x80;                // carrier detect
constexpr unsigned uart_lsr_transmitter_empty = 0x60;  // THRE and TEMT: the last stop bit is out
constexpr unsigned uart_mark_end = 0x80;               // a run's end mark is its start mark | this

// The line as the registers set it: baud = UART clock / 16 / divisor.
struct uart_line {
  unsigned divisor;
  unsigned lcr;
};

// The frame an LCR value sets, such as "8N1" or "7E1".
std::string uart_frame(unsigned lcr);

// A byte written to the transmit register, with the registers at that moment.
struct uart_sent_byte {
  unsigned value;
  unsigned mcr;
  uart_line line;
  int next_mcr;  // the next value written to MCR within the run, -1 if none
  // The last LSR value read after that MCR write and before the driver next
  // sets LCR.DLAB to reprogram the divisor; -1 if it read none.
  int lsr_before_divisor;
};

// One micom run, between the scratch writes of mark and mark | uart_mark_end.
struct uart_run {
  bool found;        // both marks were in the trace
  uart_line before;  // as at the start mark
  uart_line after;   // as at the end mark
  std::vector<uart_sent_byte> sent;
  std::vector<unsigned> msr_reads;  // the modem status as the driver read it
};

// Replays the accesses from the start of the trace and cuts out the run of mark.
uart_run uart_run_of(const std::vector<uart_access>& accesses, unsigned mark);
