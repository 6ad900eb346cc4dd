// What the guest's driver did to the 16550's registers, read back from qemu's
// trace of the UART's register writes (-trace serial_write).
#pragma once

#include <string>
#include <vector>

// One register write: the offset from the UART's base and the value.
struct uart_write {
  unsigned offset;
  unsigned value;
};

// The serial_write events of a qemu trace log, in order. Other lines are skipped.
std::vector<uart_write> parse_uart_writes(const std::string& trace);

// Register offsets, and the bits the tests look at.
constexpr unsigned uart_thr_dll = 0;  // transmit register, or divisor low byte while LCR.DLAB is set
constexpr unsigned uart_ier_dlm = 1;  // interrupt enable, or divisor high byte while LCR.DLAB is set
constexpr unsigned uart_lcr = 3;
constexpr unsigned uart_mcr = 4;
constexpr unsigned uart_scr = 7;  // scratch: the guest's marks around each micom run
constexpr unsigned uart_lcr_dlab = 0x80;
constexpr unsigned uart_mcr_rts = 0x02;
constexpr unsigned uart_mark_end = 0x80;  // a run's end mark is its start mark | this

// The line as the registers set it: baud = 115200 / divisor.
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
};

// One micom run, between the scratch writes of mark and mark | uart_mark_end.
struct uart_run {
  bool found;        // both marks were in the trace
  uart_line before;  // as at the start mark
  uart_line after;   // as at the end mark
  std::vector<uart_sent_byte> sent;
};

// Replays the writes from the start of the trace and cuts out the run of mark.
uart_run uart_run_of(const std::vector<uart_write>& writes, unsigned mark);
