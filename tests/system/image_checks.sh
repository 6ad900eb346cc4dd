#!/bin/sh
# SPDX-License-Identifier: MIT
# The image test's checks, inside the booted Debian system: micom as a board
# integrator gets it and runs it. Reports each case to the virtio port
# "results" in the system tests' format (boot, case N NAME, KEY VALUE, out
# LINE, err LINE, done) and, line for line, to the console. Cases, in order:
#   install         apt-get install of the package in /root
#   integrator      micom v and micom s as a user in dialout; whether micom's
#                   lock file stands in /run/lock during the s run, and what
#                   it holds
#   nobody          micom v as nobody (not in dialout)
#   service         the packaged micom-status.service, copied and started as
#                   it is; whether micom's lock file stands during its run
#   read-only-lock  the same with /run/lock read-only to it
#   no-bind         the same without its BindPaths= line
#   timer           the packaged micom-status.timer started, until it fired
#   remove          apt-get remove, and what is left of micom
set -u
results=/dev/virtio-ports/results
lock=/run/lock/LCK..ttyS2
deb=$(ls /root/micom_*_armhf.deb)
examples=/usr/share/doc/micom/examples
unit=micom-status.service

exec 4>>$results
report() {
  echo "$@" >&4
  echo "image-check: $*"
}
n=0
case_begins() {
  n=$((n + 1))
  report "case $n $1"
}
# A command's output and error, as out and err lines.
report_output() {  # OUT_FILE ERR_FILE
  while IFS= read -r line; do report "out $line"; done <"$1"
  while IFS= read -r line; do report "err $line"; done <"$2"
}

# Watches for micom's lock file until the flag file goes, in the background;
# leaves what it saw in /tmp/lock-seen: the file's first line (spaces as _),
# its mode and owner, and the name of the process it names.
watch_lock() {
  rm -f /tmp/lock-seen /tmp/watcher-up
  touch /tmp/watching
  (
    touch /tmp/watcher-up
    while [ -e /tmp/watching ]; do
      if [ -e $lock ]; then
        text=$(head -n 1 $lock)
        holder=$(cat /proc/$(echo $text)/comm)
        {
          echo "lock-text $(echo "$text" | sed 's/ /_/g')"
          echo "lock-holder $holder"
          echo "lock-mode $(stat -c '%a %U' $lock)"
        } >/tmp/lock-seen
        break
      fi
      sleep 0.05
    done
  ) &
  watcher=$!
  # Watching before micom starts.
  while [ ! -e /tmp/watcher-up ]; do sleep 0.05; done
}
lock_report() {
  rm -f /tmp/watching
  wait $watcher
  if [ -f /tmp/lock-seen ]; then
    report "lock-seen yes"
    while IFS= read -r line; do report "$line"; done </tmp/lock-seen
  else
    report "lock-seen no"
  fi
  if [ -e $lock ]; then report "lock-after present"; else report "lock-after absent"; fi
}

# micom run as USER, its output and status reported.
micom_as() {  # USER ARG
  timeout 20 runuser -u "$1" -- micom "$2" >/tmp/out 2>/tmp/err
  report "status $?"
  report_output /tmp/out /tmp/err
}

# What micom wrote in all the unit's runs so far, from the journal, as out
# lines; how many runs ended, and how the last did, as systemd said it
# ("Deactivated successfully." or "Failed with result ...").
unit_output() {
  journalctl --sync
  journalctl -o cat _SYSTEMD_UNIT=$unit >/tmp/out
  journalctl -o cat _PID=1 | sed -n "s/^$unit: \(Deactivated successfully\.\|Failed with result .*\)\$/\1/p" >/tmp/ends
  while IFS= read -r line; do report "out $line"; done </tmp/out
  report "runs $(wc -l </tmp/ends)"
  report "ended $(tail -n 1 /tmp/ends)"
}

# Starts the unit by hand and reports its run, with the lock file seen
# during it.
start_unit() {
  watch_lock
  timeout 60 systemctl start $unit
  report "status $?"
  lock_report
  unit_output
}

report boot

case_begins install
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >/tmp/apt.log 2>&1
status=$?
report "status $status"
[ $status = 0 ] || report_output /dev/null /tmp/apt.log
report "dpkg $(dpkg-query -W -f='${Status} ${Version}' micom 2>&1)"
report "examples $(ls $examples 2>&1 | tr '\n' ' ')"
report "ttys2 $(stat -c '%A %U %G' /dev/ttyS2)"

case_begins integrator
useradd --create-home --groups dialout integrator >/tmp/out 2>/tmp/err || report_output /tmp/out /tmp/err
micom_as integrator v
watch_lock
micom_as integrator s
lock_report

case_begins nobody
micom_as nobody v

case_begins service
cp $examples/micom-status.service $examples/micom-status.timer /etc/systemd/system/
systemctl daemon-reload
start_unit

case_begins read-only-lock
# The same unit where /run/lock is read-only to it, as ProtectSystem=strict
# leaves it in a unit without ProtectKernelTunables=, ProtectControlGroups=,
# ProtectProc= and ProcSubset= (each of which, with systemd 252, leaves it
# writable): micom goes on with its flock alone, and says nothing of it.
mkdir -p /etc/systemd/system/$unit.d
printf '[Service]\nReadOnlyPaths=/run/lock\n' >/etc/systemd/system/$unit.d/lock.conf
systemctl daemon-reload
start_unit
rm -r /etc/systemd/system/$unit.d
systemctl daemon-reload

case_begins no-bind
# The same unit without its BindPaths= line: PrivateDevices= leaves ttyS2
# out of its /dev, whatever DeviceAllow= grants.
mkdir -p /etc/systemd/system/$unit.d
printf '[Service]\nBindPaths=\n' >/etc/systemd/system/$unit.d/no-bind.conf
systemctl daemon-reload
timeout 60 systemctl start $unit
report "status $?"
unit_output
rm -r /etc/systemd/system/$unit.d
systemctl daemon-reload

case_begins timer
systemctl start micom-status.timer
report "timer-active $(systemctl is-active micom-status.timer)"
# Started after OnBootSec= has passed, the timer fires at once.
fired=no
for i in $(seq 180); do
  if [ "$(systemctl show -P LastTriggerUSecMonotonic micom-status.timer)" != 0 ] &&
    [ "$(systemctl show -P ActiveState $unit)" = inactive ]; then
    fired=yes
    break
  fi
  sleep 1
done
systemctl stop micom-status.timer
report "fired $fired"
unit_output

case_begins remove
rm /etc/systemd/system/micom-status.service /etc/systemd/system/micom-status.timer
systemctl daemon-reload
DEBIAN_FRONTEND=noninteractive apt-get remove -y micom >>/tmp/apt.log 2>&1
report "status $?"
report "dpkg $(dpkg-query -W -f='${Status}' micom 2>&1)"
# Every file whose name mentions micom, but this test's own and the package file.
find / -xdev -name '*micom*' ! -path /root/micom_*.deb ! -path /usr/local/sbin/image_checks.sh \
  ! -path /etc/systemd/system/micom-image-checks.service ! -path '/etc/systemd/system/*.wants/micom-image-checks.service' \
  ! -path /etc/initramfs-tools/conf.d/micom-image ! -path /usr/share/initramfs-tools/modules.d/micom-image |
  while IFS= read -r path; do report "left $path"; done
[ -e $lock ] && report "left $lock"

report done
exec 4>&-
