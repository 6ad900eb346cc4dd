#!/bin/busybox sh
# SPDX-License-Identifier: MIT
# /init of the test guest. Runs micom on /dev/ttyS2 (a 16550 port of the 8250
# driver) for each case named in "cases=" on the kernel command line, reports
# every case on the results port and powers off. The results port is the
# virtio port "results", or the UART named by "results=" on the command line
# (a board without virtio). Cases:
#   run:ARG            micom ARG on a line left at 9600 7E1, canonical, echo
#   stale:LETTER:ARG   the same, but another process holds the line open, sends
#                      LETTER and waits until its answer sits unread in the
#                      line's input before micom ARG starts
#   slot:N:ARG         micom ARG on whatever /dev/ttySN is, standing at
#                      /dev/ttyS2 (N=2: /dev/ttyS2 as the board numbered it)
#   leader:ARG         the same as run:ARG, but another process holds the line
#                      open while micom runs in a session of its own (setsid,
#                      as a service is started); reports whether the holder's
#                      descriptor still works afterwards
#   nocarrier:ARG      the same as run:ARG, with -clocal on the line, as a getty
#                      or `stty -clocal` leaves it
#   locked:ARG         the same as run:ARG, while a live process holds the
#                      line's lock file (/var/lock/LCK..ttyS2), as minicom or cu
#                      does; reports whether the lock file was kept as it was
# Writes to the UART's scratch register mark where each run, stale, leader, nocarrier or locked case's
# micom begins (the case number) and ends (the number + 0x80), so the host can
# find the run in qemu's register trace.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

if [ -n "$results" ]; then
  results=/dev/$results
  exec >/dev/console 2>&1
  stty -F $results raw -echo
else
  exec >/dev/kmsg 2>&1  # until the virtio console is up
  for m in $(cat /lib/modules/load-order); do
    insmod /lib/modules/$m.ko || echo "guest: insmod $m failed"
  done
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
fi
# Held open to the end: the last close waits until the port has sent it all.
exec 4>>$results
echo boot >&4

tty=/dev/ttyS2

# The driver's own counters and modem lines for ttyS2.
uart_line() {
  grep '^2:' /proc/tty/driver/serial
}

# Writes to ttyS2's scratch register, through I/O ports or memory as the
# driver reaches the UART. Found on first use: a board without a UART at
# ttyS2 runs no marked cases.
mark() {
  if [ -z "$scratch" ]; then
    s=/sys/class/tty/ttyS2
    if [ "$(cat $s/io_type)" = 0 ]; then
      scratch="port $(($(cat $s/port) + 7))"
    else
      scratch="mem $(($(cat $s/iomem_base) + (7 << $(cat $s/iomem_reg_shift))))"
    fi
  fi
  case $scratch in
  port*) printf "\\$(printf %o $1)" | dd of=/dev/port bs=1 seek=${scratch#port } 2>/dev/null ;;
  mem*) devmem ${scratch#mem } 8 $1 ;;
  esac
}

uart_rx() {
  uart_line | sed -n 's/.* rx:\([0-9]*\).*/\1/p'
}

# The device and driver behind ttySN, as sysfs names them.
device_of() {  # N
  device=$(readlink /sys/class/tty/ttyS$1/device)
  driver=$(readlink /sys/class/tty/ttyS$1/device/driver)
  echo "${device##*/} ${driver##*/}"
}

prior_line() {  # [-echo]
  stty -F $tty sane 9600 cs7 parenb -parodd -cstopb icanon ${1:-echo}
}

# micom ARG, its status left in $status.
micom_run() {  # ARG
  timeout 20 $launch /bin/micom "$1" >/tmp/out 2>/tmp/err
  status=$?
}

micom_report() {
  echo "status $status"
  sed 's/^/out /' /tmp/out
  sed 's/^/err /' /tmp/err
}

# Runs micom ARG between the two marks of case N and reports it.
run_micom() {  # N ARG
  before=$(stty -g -F $tty)
  uart_before=$(uart_line)
  mark $1
  micom_run "$2"
  mark $(($1 | 128))
  {
    echo "device $(device_of 2)"
    echo "stty-before $before"
    echo "stty-after $(stty -g -F $tty)"
    echo "uart-before $uart_before"
    echo "uart-after $(uart_line)"
    micom_report
  } >&4
}

# Every port of the driver, as "serial-N LINE" and "device-N DEVICE DRIVER".
report_ports() {
  grep '^[0-9]*:' /proc/tty/driver/serial | while read -r line; do
    n=${line%%:*}
    echo "serial-$n $line"
    echo "device-$n $(device_of $n)"
  done >&4
}

n=0
for c in $(echo "$cases" | tr , ' '); do
  n=$((n + 1))
  echo "case $n $c" >&4
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
    echo "stale-received $(($(uart_rx) - rx))" >&4
    run_micom $n "${rest#*:}"
    exec 3<&-
    ;;
  slot:*)
    rest=${c#slot:}
    slot=${rest%%:*}
    [ $slot = 2 ] || mount --bind /dev/ttyS$slot $tty
    report_ports
    micom_run "${rest#*:}"
    micom_report >&4
    [ $slot = 2 ] || umount $tty
    ;;
  leader:*)
    # Had micom taken the line as its controlling terminal, its exit as a
    # session leader would hang the line up under the holder.
    exec 3<>$tty
    prior_line
    launch=setsid
    run_micom $n "${c#leader:}"
    launch=
    if stty -g <&3 >/dev/null 2>&1; then echo "holder-after open" >&4; else echo "holder-after hung-up" >&4; fi
    exec 3<&-
    ;;
  nocarrier:*)
    prior_line
    stty -F $tty -clocal
    run_micom $n "${c#nocarrier:}"
    ;;
  locked:*)
    mkdir -p /var/lock
    sleep 600 &
    holder=$!
    printf '%10d\n' $holder >/var/lock/LCK..ttyS2
    prior_line
    run_micom $n "${c#locked:}"
    if [ "$(cat /var/lock/LCK..ttyS2)" = "$(printf %10d $holder)" ]; then
      echo "lock-after kept" >&4
    else
      echo "lock-after changed" >&4
    fi
    kill $holder
    rm /var/lock/LCK..ttyS2
    ;;
  *)
    echo "error unknown case" >&4
    ;;
  esac
done
echo "done" >&4
exec 4>&-
poweroff -f
