#!/usr/bin/env bash
# The bash completion offers every command and, for each, every option its help lists; --port
# offers the ports the program lists. Usage: completion-test.sh <completion script> <tarvex-flash>
set -euo pipefail
script=$1
exe=$2
# shellcheck disable=SC1090
source "$script"
shopt -s extglob
ports=$(mktemp -d)
trap 'rm -rf "$ports"' EXIT
ln -s /dev/null "$ports/COM42"  # a registered port
export TARVEX_PORTS_DIR=$ports

complete_words() {  # the line's words; prints the offers
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tarvex_flash
  printf '%s\n' "${COMPREPLY[@]}"
}
fail=0
offers=$(complete_words "$exe" "")
for c in flash info history status ports help --version; do
  grep -qx -- "$c" <<<"$offers" || { echo "command $c not offered"; fail=1; }
done
for c in flash info history status ports; do
  offers=$(complete_words "$exe" "$c" "--")
  for o in $("$exe" "$c" --help | grep -oE '^  (-h, )?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
    grep -qx -- "$o" <<<"$offers" || { echo "$c: option $o not offered"; fail=1; }
  done
done
offers=$(complete_words "$exe" flash --port "")
expected=$("$exe" ports)
[ "$offers" = "$expected" ] || { echo "--port offers '$offers', the program lists '$expected'"; fail=1; }
grep -qx COM42 <<<"$offers" || { echo "the registered COM42 is not offered"; fail=1; }
exit $fail
