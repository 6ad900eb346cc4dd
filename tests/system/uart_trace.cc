#include "uart_trace.h"

#include <cstdio>
#include <cstring>
#include <sstream>

std::vector<uart_write> parse_uart_writes(const std::string& trace) {
  std::vector<uart_write> writes;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    // "serial_write write addr 0x03 val 0x93", perhaps after a "pid@time:" prefix.
    const char* event = std::strstr(line.c_str(), "serial_write ");
    unsigned offset, value;
    if (event && std::sscanf(event, "serial_write write addr 0x%x val 0x%x", &offset, &value) == 2) {
      writes.push_back({offset, value});
    }
  }
  return writes;
}

std::string uart_frame(unsigned lcr) {
  const char* parity = "N";
  if (lcr & 0x08) {
    static const char* const kinds[] = {"O", "E", "M", "S"};  // by the even and stick bits
    parity = kinds[(lcr >> 4) & 3];
  }
  return std::to_string(5 + (lcr & 3)) + parity + ((lcr & 0x04) ? "2" : "1");
}

namespace {

struct registers {
  uart_line line{0, 0};
  unsigned mcr = 0;
};

void apply(registers* r, const uart_write& w) {
  bool dlab = r->line.lcr & uart_lcr_dlab;
  if (w.offset == uart_thr_dll && dlab) {
    r->line.divisor = (r->line.divisor & 0xff00) | w.value;
  } else if (w.offset == uart_ier_dlm && dlab) {
    r->line.divisor = (r->line.divisor & 0x00ff) | (w.value << 8);
  } else if (w.offset == uart_lcr) {
    r->line.lcr = w.value;
  } else if (w.offset == uart_mcr) {
    r->mcr = w.value;
  }
}

}  // namespace

uart_run uart_run_of(const std::vector<uart_write>& writes, unsigned mark) {
  uart_run run{false, {0, 0}, {0, 0}, {}};
  registers r;
  bool inside = false;
  for (const uart_write& w : writes) {
    if (w.offset == uart_scr && w.value == mark && !inside) {
      inside = true;
      run.before = r.line;
      continue;
    }
    if (w.offset == uart_scr && w.value == (mark | uart_mark_end) && inside) {
      run.found = true;
      run.after = r.line;
      break;
    }
    if (inside && w.offset == uart_thr_dll && !(r.line.lcr & uart_lcr_dlab)) {
      run.sent.push_back({w.value, r.mcr, r.line, -1});
    }
    if (inside && w.offset == uart_mcr) {
      for (uart_sent_byte& b : run.sent) {
        if (b.next_mcr < 0) b.next_mcr = static_cast<int>(w.value);
      }
    }
    apply(&r, w);
  }
  return run;
}
