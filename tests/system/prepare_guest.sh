#!/bin/sh
# SPDX-License-Identifier: MIT
# Gets what the system tests boot: Debian's stock kernel for the guest's
# architecture (only vmlinuz, the virtio modules the guest loads and, for
# armhf, the Orange Pi PC's device tree; never installed on this machine) and
# an initramfs with busybox, the micom under test and its shared libraries.
#
#   prepare_guest.sh ARCH CACHE_DIR MICOM OUT_DIR      (ARCH: amd64 or armhf)
#
# Installs qemu, busybox-static, cpio, (amd64) xz-utils and (armhf)
# device-tree-compiler with apt-get when missing. armhf packages are looked up
# with a private apt state in CACHE_DIR, so this machine's own apt setup is
# left alone. Leaves OUT_DIR/initramfs.gz and the kernel: OUT_DIR/vmlinux for
# amd64 (the ELF image inside vmlinuz), OUT_DIR/vmlinuz and OUT_DIR/board.dtb
# for armhf. Exits 77 (the tests skip) when the packages or the kernel cannot
# be had, 1 on any other failure.
set -eu

arch=$1
cache=$2/$arch
micom=$3
out=$4
here=$(cd "$(dirname "$0")" && pwd)
# In load order; those built into the kernel are not in its package.
modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_console"

skip() {
  echo "prepare_guest: $* - system tests skipped" >&2
  exit 77
}

case $arch in
amd64) host_packages="qemu-system-x86 xz-utils" kernel_meta=linux-image-amd64 ;;
armhf) host_packages="qemu-system-arm device-tree-compiler" kernel_meta=linux-image-armmp ;;
*) echo "prepare_guest: unknown architecture $arch" >&2; exit 1 ;;
esac

mkdir -p "$cache" "$out"
# Test programs running side by side share the cache.
exec 9>"$2/.lock"
flock 9

apt_get() {
  apt-get -o DPkg::Lock::Timeout=600 -o APT::Sandbox::User=root "$@"
}

# apt for the guest's packages: this machine's own for amd64, a private one for armhf.
guest_apt() {
  tool=$1
  shift
  if [ "$arch" = amd64 ]; then
    $tool -o APT::Sandbox::User=root "$@"
  else
    mkdir -p "$cache/apt/lists/partial" "$cache/apt/archives/partial"
    $tool -o APT::Sandbox::User=root -o APT::Architecture=armhf -o APT::Architectures::=armhf \
      -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt" -o Dir::State::status=/dev/null "$@"
  fi
}

missing=
for p in $host_packages busybox-static cpio; do
  dpkg-query -W -f='${Status}' $p 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  [ "$(id -u)" = 0 ] || skip "missing packages:$missing (installing them needs root)"
  echo "prepare_guest: installing$missing" >&2
  if ! DEBIAN_FRONTEND=noninteractive apt_get install -y --no-install-recommends $missing >&2; then
    apt_get update >&2 || true
    DEBIAN_FRONTEND=noninteractive apt_get install -y --no-install-recommends $missing >&2 ||
      skip "cannot install$missing: Debian's package archive is not reachable"
  fi
fi

# The kernel package that the meta package currently points at.
kernel_package() {
  guest_apt apt-cache depends $kernel_meta 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1
}
package=$(kernel_package)
if [ -z "$package" ]; then
  guest_apt apt-get update >&2 || true
  package=$(kernel_package)
fi
if [ -z "$package" ]; then
  # Offline: a kernel fetched earlier still does.
  package=$(cat "$cache/kernel/package" 2>/dev/null) ||
    skip "apt cannot tell which kernel $kernel_meta is (Debian's package archive not reachable?)" \
      "and no kernel is cached"
fi

# Fetches .deb files of the guest's architecture into $cache/download.
download() {
  rm -rf "$cache/download"
  mkdir -p "$cache/download"
  (cd "$cache/download" && guest_apt apt-get download "$@" >&2) && return
  # The package lists may be older than the archive.
  guest_apt apt-get update >&2 || true
  (cd "$cache/download" && guest_apt apt-get download "$@" >&2) ||
    skip "cannot download $*: Debian's package archive is not reachable"
}

# The SoC board's device tree ships in the armhf kernel package.
board_dtb=
[ "$arch" = armhf ] && board_dtb=sun8i-h3-orangepi-pc.dtb

# Unpacked again for a new kernel, and for a cache filled before the board's
# device tree was part of it.
if [ "$(cat "$cache/kernel/package" 2>/dev/null)" != "$package" ] ||
  { [ -n "$board_dtb" ] && [ ! -f "$cache/kernel/$board_dtb" ]; }; then
  rm -rf "$cache/kernel"
  if [ "$arch" = amd64 ]; then download "$package"; else download "$package" busybox-static; fi
  deb=$(ls "$cache/download"/linux-image-*.deb)
  version=${package#linux-image-}
  dpkg-deb -c "$deb" >"$cache/download/contents"
  members="./boot/vmlinuz-$version"
  [ -n "$board_dtb" ] && members="$members ./usr/lib/linux-image-$version/$board_dtb"
  for m in $modules; do
    members="$members $(sed -n "s|.* \(\./lib/modules/$version/kernel/.*/$m\.ko\)$|\1|p" "$cache/download/contents")"
  done
  # Only these files, not the whole package.
  mkdir -p "$cache/unpacked" "$cache/kernel/modules"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$cache/unpacked" $members
  mv "$cache/unpacked/boot/vmlinuz-$version" "$cache/kernel/vmlinuz"
  for m in $modules; do
    found=$(find "$cache/unpacked" -name "$m.ko")
    [ -z "$found" ] && continue
    mv "$found" "$cache/kernel/modules/"
    echo $m >>"$cache/kernel/modules/load-order"
  done
  if [ "$arch" = armhf ]; then
    mv "$cache/unpacked/usr/lib/linux-image-$version/$board_dtb" "$cache/kernel/"
    dpkg-deb --fsys-tarfile "$cache/download"/busybox-static_*.deb | tar -x -O ./bin/busybox >"$cache/kernel/busybox"
  fi
  rm -rf "$cache/unpacked" "$cache/download"
  echo "$package" >"$cache/kernel/package"
fi

# qemu boots the x86 kernel's ELF image by its PVH entry: the guest is spared
# seconds of unpacking itself under TCG. It is the xz stream in vmlinuz that
# unpacks to an ELF file.
if [ "$arch" = amd64 ] && [ ! -f "$cache/kernel/vmlinux" ]; then
  for at in $(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$cache/kernel/vmlinuz" | cut -d: -f1); do
    tail -c +$((at + 1)) "$cache/kernel/vmlinuz" | xz -dc --single-stream >"$cache/kernel/vmlinux.new" 2>/dev/null &&
      [ "$(head -c 4 "$cache/kernel/vmlinux.new" | tail -c 3)" = ELF ] && break
    rm -f "$cache/kernel/vmlinux.new"
  done
  [ -f "$cache/kernel/vmlinux.new" ] || { echo "prepare_guest: no ELF kernel image in vmlinuz" >&2; exit 1; }
  mv "$cache/kernel/vmlinux.new" "$cache/kernel/vmlinux"
fi

# The initramfs, rebuilt every time: micom changes between runs.
root="$out/root"
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib/modules" "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
busybox=$cache/kernel/busybox
[ "$arch" = amd64 ] && busybox=/bin/busybox
cp "$busybox" "$root/bin/busybox"
cp "$micom" "$root/bin/micom"
# A foreign micom must be static: this machine's ldd cannot tell its libraries.
if [ "$arch" = amd64 ]; then
  for lib in $(ldd "$micom" 2>/dev/null | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
fi
cp "$cache/kernel/modules/"* "$root/lib/modules/"
cp "$here/guest_init.sh" "$root/init"
chmod 755 "$root/init" "$root/bin/micom" "$root/bin/busybox"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz.new"
mv "$out/initramfs.gz.new" "$out/initramfs.gz"
if [ "$arch" = amd64 ]; then cp "$cache/kernel/vmlinux" "$out/vmlinux"; else cp "$cache/kernel/vmlinuz" "$out/vmlinuz"; fi
# A copy: the tests edit it as the board's vendor would.
[ -n "$board_dtb" ] && cp "$cache/kernel/$board_dtb" "$out/board.dtb"
rm -rf "$root"
