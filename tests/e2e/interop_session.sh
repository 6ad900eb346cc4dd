#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A serial terminal program in a tmux pane and micom on the same line, run
# inside micom-sim: one of them takes the line first, the other comes while it
# holds it, or after micom was killed. Prints what happened, one KEY=VALUE
# line each.
#
#   interop_session.sh program-first|micom-first|micom-killed PROGRAM CLAIMED MICOM...
#
# PROGRAM is the program's command line, setting the line to 115200, run by
# the pane's shell with $dir a scratch directory of its own; CLAIMED is a
# shell condition that holds once the program has claimed the line; MICOM...
# runs micom.
#
# program-first: the program claims the line; `timeout 3 micom v`
#   (while_held_status, while_held_out); whether the program still runs
#   (program, program_said); the program's pane is closed; `micom v`
#   (after_status, after_out).
# micom-first: `micom s` sets the line up and waits for its reply (the sim's
#   --delay, over 3 s); the program is started and given up to 3 s to give up
#   or to set the line; the line's speed then (speed_during); whether the
#   program gave up (program, program_said); micom's end (micom_status,
#   micom_out).
# micom-killed: `micom s` sets the line up, waits for a reply that never
#   comes (the sim's --reply S=) and is killed outright; whether it left its
#   lock file, with its PID (stale_lock); the program is started and given up
#   to 3 s to give up or to claim the line (program, program_said; claimed
#   for one that runs); the program's pane is closed; `micom v` (after_status,
#   after_out).
# micom's output has its lines joined by "|". held=never, micom_speed=never
# and line_freed=never say that a step never came.
set -u
order=$1 program=$2 claimed=$3
shift 3
line=/dev/ttyS2
# cu opens the line as user uucp.
chmod 0666 $line
dir=$(mktemp -d)
export dir
# A tmux server of its own, so that no user's tmux is ever touched.
printf 'set -g default-shell /bin/sh\n' >"$dir/tmux.conf"
pane() { tmux -S "$dir/tmux" -f "$dir/tmux.conf" "$@"; }
trap 'pane kill-server 2>/dev/null; rm -rf "$dir"' EXIT

# Tries a condition every 0.05 s, for up to $2 seconds.
within() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do
    eval "$1" && return 0
    sleep 0.05
  done
  return 1
}
speed() { stty -F $line speed 2>/dev/null; }
# The processes that have the line open, but for the sim.
holders() { fuser $line 2>/dev/null | tr -s ' ' '\n' | grep -E '^[0-9]+$' | grep -vx "$PPID"; }
program_ended() {
  local pid
  for pid in $program_pids; do kill -0 "$pid" 2>/dev/null && return 1; done
  return 0
}
program_exited() { [ -s "$dir/status" ]; }
# Its last words on the screen.
program_said() { pane capture-pane -p -J -t interop | grep -v '^\s*$' | tail -n 1; }
report_program() {
  if program_exited; then
    # What it printed may reach the pane a moment after it ended.
    within '[ -n "$(program_said)" ]' 2
    echo "program=exited status $(cat "$dir/status")"
  else
    echo "program=running"
  fi
  echo "program_said=$(program_said)"
}
# The pane's shell outlives a hang-up to reap the program (one left to init
# may stay a zombie for a while, whose PID counts as alive in the lock file it
# held), and the pane outlives the program, so that tmux reads all it printed.
start_program() {
  pane new-session -d -x 150 -y 25 -s interop "trap : HUP; $program; echo \$? >\"\$dir/status\"; exec sleep 600"
}
# Closes the pane as closing a terminal window does: the program gets SIGHUP
# (from the shell, as an interactive one passes it on to its jobs) and its
# terminal goes. Then waits until the program has ended and the line is free.
end_program() {
  program_pids=$(ps -o pid= --ppid "$(pane display -p -t interop '#{pane_pid}')")
  kill -HUP $program_pids 2>/dev/null
  pane kill-server 2>/dev/null
  if ! within '[ -z "$(holders)" ] && program_ended' 10; then
    echo "line_freed=never"
    kill -KILL $(holders) 2>/dev/null
  fi
  # The sim keeps the line open, so a TIOCEXCL (screen's) outlives the
  # program that set it; on a UART nobody else has open, the last close ends it.
  /usr/bin/python3 -c 'import fcntl, os, termios
fcntl.ioctl(os.open("/dev/ttyS2", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK), termios.TIOCNXCL)'
}
# One micom run, bounded by $2 seconds: KEY_status and KEY_out.
micom_run() {
  timeout "$2" "${@:3}" >"$dir/out"
  echo "$1_status=$?"
  echo "$1_out=$(tr '\n' '|' <"$dir/out")"
}

case $order in
  program-first)
    start_program
    within '[ "$(speed)" = 115200 ] && '"$claimed" 10 || echo "held=never"
    micom_run while_held 3 "$@" v
    report_program
    end_program
    micom_run after 10 "$@" v
    ;;
  micom-first)
    micom_run micom 15 "$@" s &
    micom=$!
    within '[ "$(speed)" = 57600 ]' 10 || echo "micom_speed=never"
    start_program
    # Until the program gives up or sets the line its way; a slow start
    # counts as waiting.
    within 'program_exited || [ "$(speed)" != 57600 ]' 3
    echo "speed_during=$(speed)"
    report_program
    wait $micom
    end_program
    ;;
  micom-killed)
    "$@" s >/dev/null &
    micom=$!
    within '[ "$(speed)" = 57600 ]' 10 || echo "micom_speed=never"
    kill -KILL $micom
    wait $micom 2>/dev/null
    [ "$(tr -d ' \n' </var/lock/LCK..ttyS2)" = $micom ] && echo "stale_lock=yes"
    start_program
    within 'program_exited || { [ "$(speed)" = 115200 ] && '"$claimed"'; }' 3
    program_exited || echo "claimed=$(eval "$claimed" && echo yes)"
    report_program
    end_program
    micom_run after 10 "$@" v
    ;;
esac
