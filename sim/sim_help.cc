// SPDX-License-Identifier: MIT
#include "sim_help.h"

#include "sim_options.h"

namespace {

// Everything before the options' own lines.
constexpr char head[] = R"HELP(NAME
    micom-sim - a simulated MICOM on /dev/ttyS2 for testing micom without the board

SYNOPSIS
    micom-sim [OPTIONS] -- COMMAND [ARGS...]
    micom-sim [REPLY OPTIONS] --socket PATH
    micom-sim [REPLY OPTIONS] --pty-link PATH

DESCRIPTION
    Runs COMMAND in a private mount namespace whose /dev is a fresh tmpfs
    holding null, zero, full, tty, a new devpts instance and /dev/ttyS2: the
    slave of a pseudo-terminal, and whose /var/lock is a fresh, empty tmpfs
    (mode 1777) for the command's lock files. The sim plays the
    microcontroller on the master side: every command letter the line
    delivers (S V W H R) is answered as set below; other bytes are logged and
    ignored. The host's /dev and lock files are untouched and nothing is left
    behind. Root gets a plain mount namespace; other users
    a user namespace (where neither is allowed the sim says so and exits 2).

    COMMAND's standard input, output and error are the sim's own; the sim
    writes nothing to standard output. Its log goes to standard error or to
    --log FILE, one event per line, in the order they happen:
        line before: SETTINGS       the line as COMMAND finds it
        stale 0xNN t=SECONDS        a byte put on the line before COMMAND
        stale settled waiting=N echo-discarded=N
        child pid=PID
        rx 0xNN t=SECONDS           a byte received from the line
        line during: SETTINGS       the line when COMMAND wrote that byte
        tx 0xNN t=SECONDS           a byte sent back
        hangup t=SECONDS            the line was hung up (--hangup-after;
                                    "hangup (master closed only)" otherwise)
        signal N forwarded t=SECONDS
        line after: SETTINGS        the line once COMMAND has ended
        exit status=N | exit signal=N
    SETTINGS is "BAUD 8N1 raw iflag=0xN oflag=0xN cflag=0xN lflag=0xN
    line=N vmin=N vtime=N ispeed=BAUD ospeed=BAUD cc=HEX": the output speed,
    data bits, parity (N, E or O) and stop bits, "cooked" (ICANON) or "raw",
    then every field (flags in hex, cc the control characters two hex digits
    each); "unavailable (REASON)" after a hang-up. A pseudo-terminal keeps 8
    data bits and no parity whatever is asked of it, so 9600 7E1 shows as
    9600 8N1.
    The sim reads the line's settings once a byte has come. When they are
    then the same as before COMMAND started, it cannot tell what was in force
    when the byte was written (micom puts the line back right after H and R)
    and says so: "line during: unknown (as before the command when the sim
    looked: already put back, or never changed)".
    t= counts seconds since the sim started.

    With --summary the sim ends with one line on standard error, e.g.
        micom-sim: received V at 57600 8N1 raw; sent 01 00 02 00; full log in try.log
    "(line settings unknown)" or "(line unavailable)" stands for "at
    SETTINGS" where the log says unknown or unavailable, and "(N times)"
    follows a reception that came N times in a row. After H and R micom
    puts the line back at once, mostly before the sim can look, so their
    settings are mostly unknown: which comes first varies from run to run.

    With --socket the sim listens on a unix stream socket at PATH (logging
    "listening path=PATH" once it does), accepts one connection ("connected
    t=..."), answers on it the same way and exits 0 when the peer closes
    ("peer closed t=..."). Only the reply options, --stale (sent as soon
    as the peer connects), --log and --summary apply there.
    --pty-link works the same way on a pseudo-terminal.

OPTIONS
)HELP";

// Everything after them.
constexpr char tail[] = R"HELP(
DEFAULT REPLIES
    S   00 00 00 01   status word 0x00000001
    V   01 00 02 00   firmware version 1.0.2.0
    W   57 41 4B 45   "WAKE", the wake acknowledgement
    H   nothing
    R   nothing

EXIT STATUS
    COMMAND's exit status, or 128 + the signal that ended it. With --socket,
    0 when the peer closes, 128 + signal when stopped. 2 for a mistake in the
    sim's options, a command that cannot be run, or a namespace or /dev that
    cannot be set up. SIGINT, SIGTERM and SIGHUP sent to the sim are passed
    on to COMMAND.

EXAMPLES
    micom-sim -- ./build/native/micom v
    micom-sim --reply S=01020304 --gap 200 -- micom s
    PATH=$PWD/build/native:$PATH micom-sim --reply S=00000000,00000001 -- sh poll.sh
    micom-sim --silent --log sim.log -- micom v          (stop it with ^C)
    micom-sim --hangup-after 2 -- micom w
    micom-sim --device file -- micom v
    micom-sim --prior cooked-9600-7e1 --stale 4142 -- micom v
    micom-sim --socket /tmp/uart.sock --log uart.log
)HELP";

// The column an option's text starts at, on the option's own line when its name and value leave room.
constexpr std::size_t text_column = 22;

// One option under OPTIONS: name and value word, then its text from text_column on.
std::string option_help(const sim_option& option) {
  std::string label = std::string("    ") + option.name + (option.value ? std::string(" ") + option.value : "");
  const std::string indent(text_column, ' ');
  std::string text =
      label.size() + 2 <= text_column ? label + std::string(text_column - label.size(), ' ') : label + "\n" + indent;
  for (const char* c = option.help; *c; ++c) {
    text += *c;
    if (*c == '\n') text += indent;
  }
  return text + "\n";
}

}  // namespace

std::string sim_help_text() {
  std::string text = head;
  for (int i = 0; i < sim_option_count; ++i) text += option_help(sim_option_table[i]);
  return text + tail;
}
