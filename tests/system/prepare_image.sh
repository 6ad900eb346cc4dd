#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes what the image test boots: a Debian 12 armhf system as a board
# integrator's image holds it (systemd, udev, apt, Debian's armmp kernel),
# built by mmdebstrap from Debian's archive, with micom's package and the
# checks to run in it added.
#
#   prepare_image.sh CACHE_DIR DEB OUT_DIR
#
# The root file system is built once and kept in CACHE_DIR/image, named by a
# hash of how it is built; a change to that builds a new one. Its initramfs
# holds only the modules that mount the root on -M virt's virtio disk:
# initramfs-tools' default takes most of the kernel's modules and, under
# qemu-user, adds many minutes to the build. Leaves OUT_DIR/vmlinuz,
# OUT_DIR/initrd.img and OUT_DIR/root.img, an ext4 image of the system with
# DEB in /root and the checks (image_checks.sh, started at boot by
# micom-image-checks.service). Runs as root: the image's files belong to its
# users. Installs mmdebstrap, qemu-user-static, binfmt-support, e2fsprogs and
# qemu-system-arm with apt-get when missing; mounts binfmt_misc and enables
# qemu-arm in it when this machine has not. Exits 77 (the test skips) when
# the system cannot be had, 1 on any other failure.
set -eu

cache=$1/image
deb=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  echo "prepare_image: $* - image test skipped" >&2
  exit 77
}

[ "$(id -u)" = 0 ] || skip "building a Debian system image needs root"
[ -f "$deb" ] || { echo "prepare_image: no package at $deb" >&2; exit 1; }

mkdir -p "$cache" "$out"
exec 9>"$cache/.lock"
flock 9

missing=
for p in mmdebstrap qemu-user-static binfmt-support e2fsprogs qemu-system-arm; do
  dpkg-query -W -f='${Status}' $p 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "prepare_image: installing$missing" >&2
  apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >&2; }
  apt_get install -y --no-install-recommends $missing ||
    { apt_get update || true; apt_get install -y --no-install-recommends $missing; } ||
    skip "cannot install$missing: Debian's package archive is not reachable"
fi

# armhf programs run here through qemu-arm, which the kernel finds by binfmt_misc.
if [ ! -f /proc/sys/fs/binfmt_misc/status ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
[ -f /proc/sys/fs/binfmt_misc/qemu-arm ] || update-binfmts --enable qemu-arm
grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-arm || { echo "prepare_image: qemu-arm not enabled in binfmt_misc" >&2; exit 1; }

# Debian's main suite alone, from its own archive: a mirror of another suite
# that lags behind it has broken the build before.
mirror="deb http://deb.debian.org/debian bookworm main"
packages=systemd-sysv,udev,passwd,apt,linux-image-armmp
# The initramfs: what mounts / from -M virt's virtio disk, and the virtio console.
initramfs_modules="virtio_pci virtio_blk ext4 virtio_console"
recipe="$mirror|$packages|$initramfs_modules|1"
key=$(printf %s "$recipe" | sha256sum | cut -c1-16)
rootfs=$cache/rootfs-$key

if [ ! -d "$rootfs" ]; then
  rm -rf "$cache"/rootfs-*
  started=$(date +%s)
  echo "prepare_image: building the root file system ($recipe)" >&2
  # Before the kernel comes in: initramfs-tools then builds its initramfs once,
  # with these modules and those they need.
  setup_hook="mkdir -p \"\$1/etc/initramfs-tools/conf.d\" \"\$1/usr/share/initramfs-tools/modules.d\"
    echo MODULES=list >\"\$1/etc/initramfs-tools/conf.d/micom-image\"
    printf '%s\n' $initramfs_modules >\"\$1/usr/share/initramfs-tools/modules.d/micom-image\""
  customize_hook="echo micom-board >\"\$1/etc/hostname\""
  # With only the standard descriptors: mmdebstrap hands its own to dpkg's
  # hooks as `cat >&N`, which dash refuses for N above 9, and ours (the lock
  # on 9, whatever the test harness left open) push N up.
  if ! perl -MPOSIX -e 'POSIX::close($_) for 3 .. 1023; exec @ARGV or die "$ARGV[0]: $!\n"' \
    mmdebstrap --mode=root --architectures=armhf --variant=apt --include="$packages" \
    --setup-hook="$setup_hook" --customize-hook="$customize_hook" \
    bookworm "$rootfs.new" "$mirror" >"$cache/mmdebstrap.log" 2>&1; then
    tail -n 30 "$cache/mmdebstrap.log" >&2
    rm -rf "$rootfs.new"
    if grep -qE 'Failed to fetch|Temporary failure resolving|Could not resolve|Unable to connect|Network is unreachable' \
      "$cache/mmdebstrap.log"; then
      skip "cannot build the root file system: Debian's package archive is not reachable, and none is cached"
    fi
    echo "prepare_image: mmdebstrap failed (log: $cache/mmdebstrap.log)" >&2
    exit 1
  fi
  mv "$rootfs.new" "$rootfs"
  echo "prepare_image: root file system built in $(($(date +%s) - started)) s" >&2
fi

cp "$rootfs"/boot/vmlinuz-* "$out/vmlinuz"
cp "$rootfs"/boot/initrd.img-* "$out/initrd.img"

# The image, made afresh from a copy of the cached system with this run's package and checks.
started=$(date +%s)
stage=$out/stage
rm -rf "$stage" "$out/root.img"
cp -a "$rootfs" "$stage"
cp "$deb" "$stage/root/"
install -m 755 "$here/image_checks.sh" "$stage/usr/local/sbin/image_checks.sh"
install -m 644 "$here/micom-image-checks.service" "$stage/etc/systemd/system/"
ln -s /etc/systemd/system/micom-image-checks.service "$stage/etc/systemd/system/multi-user.target.wants/"
mkfs.ext4 -q -F -L root -d "$stage" "$out/root.img" 2G
rm -rf "$stage"
echo "prepare_image: image made in $(($(date +%s) - started)) s" >&2
