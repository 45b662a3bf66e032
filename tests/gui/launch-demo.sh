#!/usr/bin/env bash
# Starts the desktop program with --demo under a virtual X server and a fresh profile, lets it
# picture itself (--snapshot), and checks that the simulated panel was on offer and that nothing
# of the demonstration outlives the program.
set -euo pipefail
program=$1
out=$2
rm -rf "$out"
mkdir -p "$out/config" "$out/data" "$out/tmp"

export XDG_CONFIG_HOME="$out/config" XDG_DATA_HOME="$out/data" TMPDIR="$out/tmp"
unset QT_QPA_PLATFORM TARVEX_PORTS_DIR
timeout 60 xvfb-run -a "$program" --demo --snapshot "$out/snap" >"$out/stdout" 2>"$out/stderr"

grep -q '^Demonstration: a simulated panel on COM[0-9]*; ' "$out/stdout"
states="$out/snap/controls.txt"
grep -q '^lbNoPorts hidden ' "$states"
grep -q '^btnConnect visible enabled ' "$states"
test -s "$out/snap/window.png"
# The emulator and its temporary folder went with the program; the installer's settings were
# never written.
if [ -n "$(ls -A "$out/tmp" | grep '^tarvex-demo-' || true)" ]; then
  echo "the demonstration's temporary folder was left behind"
  exit 1
fi
if [ -e "$out/config/tarvex-flash-programmer/settings.reg" ]; then
  echo "the demonstration wrote the installer's settings"
  exit 1
fi
echo "demo: simulated panel offered; nothing left behind; pictures in $out/snap"
