#!/usr/bin/env bash
# Runs the real i686 Windows programs' tests (build/win32: unit tests, both
# end-to-end tests, the static checks) under wine32 inside an emulated
# x86_64 machine, for machines whose kernel runs no 32-bit code.
#
#   bash scripts/test-i686-vm.sh          build, boot, test, power off
#
# The machine is Debian 12 made by debootstrap from Debian's packages into
# build/vm/root (kept), with Debian's kernel, wine32, Xvfb and Python. Its
# disk, build/vm/root.img, is made once from that folder with mkfs.ext4 -d
# (no loop device) and kept, so the Wine prefix made at its first boot stays
# for the next run. QEMU emulates it in software (there is no KVM). The
# source tree is shared (9p); the guest copies it, the Windows build and the
# native tool to its own disk at their own paths, so the build's CTest files
# work unchanged, and copies the results back as build/results-vm/win32.xml.
#
# Environment: VEZOVUD_BUILD (build folder), VEZOVUD_TIMEOUT_SCALE (the
# factor for the tests' time bounds under emulation, default 6),
# VEZOVUD_VM_MIRROR (Debian mirror for debootstrap), VEZOVUD_VM_MINUTES (the
# whole boot's limit, default 60).
#
# The guest runs this same script with --guest, from the image's init.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The guest's init, baked into the disk image: it mounts the shared source
# tree at /mnt/source and hands over to this script there, so that all the
# guest does comes from the tree of the run.
guest_init() {
  cat <<'EOF'
#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /mnt/source
mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288,cache=mmap source /mnt/source
bash /mnt/source/scripts/test-i686-vm.sh --guest
echo o >/proc/sysrq-trigger
sleep 60
EOF
}

# The value of vezovud.NAME on the guest kernel's command line.
guest_arg() {
  tr ' ' '\n' </proc/cmdline | sed -n "s/^vezovud\.$1=//p"
}

guest_job() {
  # Inside the machine, as its init; this script runs from the shared tree.
  # The tests run from a copy on the machine's own disk, at the paths the
  # build recorded: the source tree, the Windows build and the native tool.
  local source out shared_out status=0
  export HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  # The initramfs hands over /proc, /sys and /dev already mounted.
  mountpoint -q /dev/pts || { mkdir -p /dev/pts && mount -t devpts devpts /dev/pts; }
  mountpoint -q /dev/shm || { mkdir -p /dev/shm && mount -t tmpfs tmpfs /dev/shm; }
  mount -t tmpfs tmpfs /tmp
  mount -t tmpfs tmpfs /run
  hostname vezovud-vm
  source=$(guest_arg source)
  out=$(guest_arg build)
  shared_out="$root/${out#"$source"/}"
  if [ "$(guest_arg build_shared)" = 1 ]; then
    mkdir -p /mnt/build
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288,cache=mmap build /mnt/build
    shared_out=/mnt/build
  fi
  VEZOVUD_TIMEOUT_SCALE=$(guest_arg scale)
  export VEZOVUD_TIMEOUT_SCALE=${VEZOVUD_TIMEOUT_SCALE:-6}
  rm -rf "$source" "$out"
  mkdir -p "$source" "$out/native/cli"
  (cd "$root" && tar --exclude=./.git --exclude="./${out#"$source"/}" -cf - .) |
    tar -C "$source" -xf -
  tar -C "$shared_out" -cf - win32 | tar -C "$out" -xf -
  cp "$shared_out/native/cli/vezovud" "$out/native/cli/"
  cd "$source"
  . scripts/wine-session.sh
  detect_wine_kind
  echo "guest: $WINE_KIND_WHY"
  # Every two minutes a line of what runs, so that a stuck test shows.
  (while sleep 120; do
    echo "guest: running: $(ps --ppid 2 -p 2 --deselect -o comm= | sort -u | tr '\n' ' ')"
  done) &
  local watcher=$!
  # The prefix lives on the machine's own disk, kept between runs.
  mkdir -p /root/vezovud
  start_wine_session /root/vezovud 91 win32 || status=1
  if [ $status -eq 0 ]; then
    ctest --test-dir "$out/win32" --output-on-failure \
      --output-junit "$out/results-vm/win32.xml" || status=1
  fi
  stop_wine_session
  trap - EXIT
  kill "$watcher" 2>/dev/null || true
  mkdir -p "$shared_out/results-vm" "$shared_out/screenshots" "$shared_out/vm"
  cp "$out/results-vm/win32.xml" "$shared_out/results-vm/" 2>/dev/null || true
  cp -r "$out/screenshots/." "$shared_out/screenshots/" 2>/dev/null || true
  echo "$status" >"$shared_out/vm/guest-status"
  sync
}

if [ "${1:-}" = --guest ]; then
  guest_job
  exit 0
fi

cd "$root"
out=${VEZOVUD_BUILD:-build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
vm="$out/vm"
mirror=${VEZOVUD_VM_MIRROR:-http://deb.debian.org/debian}
started=$(date +%s)
say() { echo "[vm $(($(date +%s) - started)) s] $*"; }

# The host's tools: QEMU, debootstrap, and mkfs.ext4 with -d (e2fsprogs).
missing=()
for p in qemu-system-x86 debootstrap e2fsprogs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

say "building"
bash scripts/build.sh >"$out/vm-build.log" 2>&1 || {
  tail -n 30 "$out/vm-build.log"
  echo "the build failed (log: $out/vm-build.log)"
  exit 1
}

# The root folder: Debian 12 with its kernel and what the Windows tests use.
guest_packages=(
  linux-image-amd64 kmod procps
  wine wine32 xvfb xdotool x11-utils
  python3 imagemagick openssl osslsigncode libminizip1 cmake
  binutils-mingw-w64-i686 icoutils
)
rootdir="$vm/root"
if [ ! -f "$rootdir/.vezovud-root" ]; then
  say "making the root folder with debootstrap (some minutes)"
  rm -rf "$rootdir"
  mkdir -p "$vm"
  debootstrap --variant=minbase bookworm "$rootdir" "$mirror" >"$vm/debootstrap.log" 2>&1 || {
    tail -n 20 "$vm/debootstrap.log"
    echo "debootstrap failed (log: $vm/debootstrap.log)"
    exit 1
  }
  touch "$rootdir/.vezovud-root"
fi
# The guest's packages, installed again when their list changes.
if [ "$(cat "$rootdir/.vezovud-packages" 2>/dev/null)" != "${guest_packages[*]}" ]; then
  mount -t proc proc "$rootdir/proc"
  mount --bind /dev "$rootdir/dev"
  mount -t sysfs sys "$rootdir/sys"
  cleanup_mounts() { umount "$rootdir/sys" "$rootdir/dev" "$rootdir/proc" 2>/dev/null || true; }
  trap cleanup_mounts EXIT
  say "installing the guest's packages (some minutes)"
  chroot "$rootdir" /bin/sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    ${guest_packages[*]}" >"$vm/apt.log" 2>&1 || {
    tail -n 20 "$vm/apt.log"
    echo "the guest's packages could not be installed (log: $vm/apt.log)"
    exit 1
  }
  chroot "$rootdir" apt-get clean
  cleanup_mounts
  trap - EXIT
  rm -f "$vm/root.img"
  echo "${guest_packages[*]}" >"$rootdir/.vezovud-packages"
fi

# The disk image is made again only when the root folder or its init changed.
image="$vm/root.img"
guest_init >"$vm/init.new"
if ! cmp -s "$vm/init.new" "$rootdir/vezovud-init"; then
  install -m 755 "$vm/init.new" "$rootdir/vezovud-init"
  rm -f "$image"
fi
if [ ! -f "$image" ]; then
  say "making the disk image"
  mkfs.ext4 -q -F -L vezovud -d "$rootdir" "$image" 8G
fi
kernel=$(ls "$rootdir"/boot/vmlinuz-* | sort -V | tail -n 1)
initrd=$(ls "$rootdir"/boot/initrd.img-* | sort -V | tail -n 1)

# The build folder is shared as well when it lies outside the source tree.
shares=(-virtfs "local,path=$root,mount_tag=source,security_model=none,id=source")
cmdline="root=/dev/vda rw console=ttyS0 quiet init=/vezovud-init vezovud.source=$root"
cmdline+=" vezovud.build=$out vezovud.scale=${VEZOVUD_TIMEOUT_SCALE:-6}"
case "$out/" in
  "$root"/*) ;;
  *)
    shares+=(-virtfs "local,path=$out,mount_tag=build,security_model=none,id=build")
    cmdline+=" vezovud.build_shared=1"
    ;;
esac

rm -f "$vm/guest-status" "$out/results-vm/win32.xml"
say "booting the emulated machine (console: $vm/console.log)"
booted=$(date +%s)
timeout $((${VEZOVUD_VM_MINUTES:-60} * 60)) qemu-system-x86_64 \
  -accel tcg,thread=multi -cpu max,-smap -smp "$(nproc)" -m 6144 \
  -display none -no-reboot -monitor none -serial "file:$vm/console.log" \
  -kernel "$kernel" -initrd "$initrd" -append "$cmdline" \
  -drive "file=$image,format=raw,if=virtio" "${shares[@]}" </dev/null || true
say "the machine is off after $(($(date +%s) - booted)) s"

# The guest's summary lines, without the colours CTest gives a console.
sed 's/\x1b\[[0-9;]*m//g' "$vm/console.log" |
  grep -E '^(guest: [^r]| *[0-9]+/[0-9]+ Test|.*tests passed|.*tests failed)' || true
if [ ! -f "$vm/guest-status" ]; then
  tail -n 40 "$vm/console.log"
  echo "the guest ended without a result (console: $vm/console.log)"
  exit 1
fi
read -r passed failed < <(python3 - "$out/results-vm/win32.xml" <<'PY'
import sys, xml.etree.ElementTree as tree
cases = list(tree.parse(sys.argv[1]).getroot().iter("testcase"))
passed = sum(1 for case in cases if case.get("status") == "run")
print(passed, len(cases) - passed)
PY
)
echo "i686 programs in the emulated machine: $passed passed, $failed failed"
[ "$(cat "$vm/guest-status")" = 0 ] && [ "$failed" -eq 0 ]
