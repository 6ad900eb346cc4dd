#!/bin/busybox sh
# /init of the test guest. Runs micom on /dev/ttyS2 (a 16550 port of the 8250
# driver) for each case named in "cases=" on the kernel command line, reports
# every case on the virtio port "results" and powers off. Cases:
#   run:ARG            micom ARG on a line left at 9600 7E1, canonical, echo
#   stale:LETTER:ARG   the same, but another process holds the line open, sends
#                      LETTER and waits until its answer sits unread in the
#                      line's input before micom ARG starts
# Writes to the UART's scratch register mark where each micom run begins (the
# case number) and ends (the number + 0x80), so the host can find the run in
# qemu's register trace.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
exec >/dev/kmsg 2>&1  # until the virtio console is up

for m in $(cat /lib/modules/load-order); do
  insmod /lib/modules/$m.ko || echo "guest: insmod $m failed"
done

results=
for i in $(seq 100); do
  for p in /sys/class/virtio-ports/*; do
    [ "$(cat $p/name 2>/dev/null)" = results ] && [ -c /dev/${p##*/} ] && results=/dev/${p##*/}
  done
  [ -n "$results" ] && [ -c /dev/hvc0 ] && break
  sleep 0.1
done
if [ -c /dev/hvc0 ]; then
  exec >/dev/hvc0 2>&1
  dmesg  # what the kernel said before its console was up
fi
[ -n "$results" ] || { echo "guest: no results port"; poweroff -f; }
echo boot >>$results

tty=/dev/ttyS2

# The driver's own counters and modem lines for ttyS2.
uart_line() {
  grep '^2:' /proc/tty/driver/serial
}

# The UART's scratch register, by its I/O port.
scratch_port=$((0x$(uart_line | sed -n 's/.* port:\([0-9A-Fa-f]*\).*/\1/p') + 7))

mark() {
  printf "\\$(printf %o $1)" | dd of=/dev/port bs=1 seek=$scratch_port 2>/dev/null
}

uart_rx() {
  uart_line | sed -n 's/.* rx:\([0-9]*\).*/\1/p'
}

prior_line() {  # [-echo]
  stty -F $tty sane 9600 cs7 parenb -parodd -cstopb icanon ${1:-echo}
}

# Runs micom ARG between the two marks of case N and reports it.
run_micom() {  # N ARG
  before=$(stty -g -F $tty)
  uart_before=$(uart_line)
  mark $1
  timeout 20 /bin/micom "$2" >/tmp/out 2>/tmp/err
  status=$?
  mark $(($1 | 128))
  {
    echo "stty-before $before"
    echo "stty-after $(stty -g -F $tty)"
    echo "uart-before $uart_before"
    echo "uart-after $(uart_line)"
    echo "status $status"
    sed 's/^/out /' /tmp/out
    sed 's/^/err /' /tmp/err
  } >>$results
}

n=0
for c in $(echo "$cases" | tr , ' '); do
  n=$((n + 1))
  echo "case $n $c" >>$results
  case $c in
  run:*)
    prior_line
    run_micom $n "${c#run:}"
    ;;
  stale:*)
    rest=${c#stale:}
    exec 3<>$tty
    prior_line -echo  # echo would send the stale bytes back to the sim
    rx=$(uart_rx)
    printf %s "${rest%%:*}" >&3
    for i in $(seq 100); do
      [ $(uart_rx) -ge $((rx + 4)) ] && break
      sleep 0.1
    done
    echo "stale-received $(($(uart_rx) - rx))" >>$results
    run_micom $n "${rest#*:}"
    exec 3<&-
    ;;
  *)
    echo "error unknown case" >>$results
    ;;
  esac
done
echo "done" >>$results
poweroff -f
