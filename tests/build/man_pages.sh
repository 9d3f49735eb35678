#!/usr/bin/env bash
# The manual pages made from the programs' --help at build time:
# each renders without a groff warning, and kx627-cli's holds its --help's
# list of commands and of exit codes, every line of both.
# Run as: man_pages.sh <dir with the .1.gz pages> <dir with the programs>
set -euo pipefail
man_dir="$1" bin_dir="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
status=0
# One long line per paragraph (no filling, no hyphenation), blanks squeezed.
squeeze() { tr -s ' \n' '  '; }
for program in kx627-cli adapter-sim kx627-config; do
  page="$man_dir/$program.1.gz"
  [ -f "$page" ] || { echo "FAIL: $page is missing"; status=1; continue; }
  zcat "$page" | groff -man -Tascii -P-cbou -rLL=2000n -ww >"$tmp/$program.txt" 2>"$tmp/warnings"
  if [ -s "$tmp/warnings" ]; then
    echo "FAIL: $program.1: groff warns:"; cat "$tmp/warnings"; status=1
  fi
done
# A section of --help: the lines after its heading, up to the next heading.
section() { awk -v h="$1" '$0 == h { on = 1; next } on && /^[^ ]/ { exit } on' "$tmp/help"; }
"$bin_dir/kx627-cli" --help >"$tmp/help"
man="$(squeeze <"$tmp/kx627-cli.txt")"
for heading in "Commands:" "Exit codes:"; do
  body="$(section "$heading" | squeeze)"
  [ -n "${body// /}" ] || { echo "FAIL: kx627-cli --help has no \"$heading\""; status=1; continue; }
  if [[ "$man" != *"${body# }"* ]]; then
    echo "FAIL: man kx627-cli lacks the lines under \"$heading\" of kx627-cli --help"; status=1
  fi
done
[ $status -eq 0 ] && echo "3 manual pages, kx627-cli's with every command and exit code"
exit $status
