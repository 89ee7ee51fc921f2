#!/usr/bin/env bash
# Runs a command where no real serial device can be reached: in a mount
# namespace of its own whose /dev is a fresh tmpfs holding only what the tests
# need (null, zero, full, random, urandom, tty, ptmx, pts, shm). A program
# under test that resolves "COM 1", and Wine, which links every serial device
# it finds to a COM port, find nothing real there. Refuses to run the command
# where it cannot hide the real ports.
#
#   tests/without_serial_devices.sh COMMAND [ARG...]
set -euo pipefail
serial_visible() {
  local node
  for node in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    [ -e "$node" ] && return 0
  done
  return 1
}

if [ "${RELAIS_PRIVATE_DEV:-}" != inside ]; then
  export RELAIS_PRIVATE_DEV=inside
  if [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; then
    exec unshare --mount --propagation private "$0" "$@"
  elif unshare --user --map-root-user --mount true 2>/dev/null; then
    exec unshare --user --map-root-user --mount --propagation private "$0" "$@"
  elif ! serial_visible; then
    exec "$@"
  fi
  echo "FAIL: real serial devices are visible here and no mount namespace can hide them" \
    "(needs root or unprivileged user namespaces); refusing to run $1" >&2
  exit 1
fi

mount --make-rprivate /
real=$(mktemp -d)
mount --rbind /dev "$real"
mount -t tmpfs -o mode=755 relaiskarte-dev /dev
for node in null zero full random urandom tty; do
  touch "/dev/$node"
  mount --bind "$real/$node" "/dev/$node"
done
for dir in pts shm; do
  mkdir "/dev/$dir"
  mount --bind "$real/$dir" "/dev/$dir"
done
ln -s pts/ptmx /dev/ptmx
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
umount -l "$real"
rmdir "$real"
if serial_visible; then
  echo "FAIL: a serial device is still visible; refusing to run $1" >&2
  exit 1
fi
exec "$@"
