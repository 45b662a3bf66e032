#!/usr/bin/env bash
# Starts the desktop program under a virtual X server with an empty ports folder and a fresh
# profile, lets it picture itself (--snapshot), and checks what the first page shows.
set -euo pipefail
program=$1
out=$2
rm -rf "$out"
mkdir -p "$out/ports" "$out/config" "$out/data"

if compgen -G "/dev/ttyUSB*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null; then
  echo "serial devices present on this machine: the no-ports case cannot be shown here"
  exit 77
fi

export TARVEX_PORTS_DIR="$out/ports" XDG_CONFIG_HOME="$out/config" XDG_DATA_HOME="$out/data"
unset QT_QPA_PLATFORM
run=(timeout 60 xvfb-run -a "$program" --snapshot "$out/snap")
if compgen -G "/dev/ttyS*" >/dev/null; then
  # A machine with real UARTs: hide the kernel's tty list from the program only.
  mkdir -p "$out/no-tty"
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "this machine has serial ports and cannot hide them: the no-ports case cannot be shown here"
    exit 77
  fi
  unshare -m --propagation private sh -c 'mount --bind "$0" /sys/class/tty && exec "$@"' "$out/no-tty" "${run[@]}"
else
  "${run[@]}"
fi

states="$out/snap/controls.txt"
grep -qx 'lbNoPorts visible enabled "No Ports available - Check the USB-Bridge is connected to the PC!"' "$states"
grep -q '^btnConnect visible disabled ' "$states"
grep -qx 'frmMain visible enabled "Flash Programmer"' "$states"
test -s "$out/snap/window.png"
test -s "$out/snap/advisory.png"  # a fresh profile shows the advisory dialog
echo "no ports: warning shown, Connect disabled; pictures in $out/snap"
