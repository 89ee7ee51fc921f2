#!/usr/bin/env bash
# Runs a command with a /dev that holds no serial device, inside a mount
# namespace the caller made (unshare --mount). Wine links every serial device
# it finds to a COM port; here it finds none, so no Windows program under
# test can reach a real port, and the test's own COM 1 link to a pty stays.
set -euo pipefail
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
if ls /dev | grep -Eq '^tty(S|USB|ACM)'; then
  echo "a serial device is still visible; refusing to run" >&2
  exit 1
fi
exec "$@"
