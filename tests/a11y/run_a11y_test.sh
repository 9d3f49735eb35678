#!/usr/bin/env bash
# Runs an accessibility test script against the window: a virtual X server,
# a private session bus (the AT-SPI registry starts on it when asked) and
# the system's Python with pyatspi.
#   run_a11y_test.sh SCRIPT KX627_CONFIG ADAPTER_SIM
# Exits 77 (skipped) when a tool is missing; scripts/install-deps installs
# them all.
set -euo pipefail
script=$1 config=$2 sim=$3
python=/usr/bin/python3
for tool in xvfb-run dbus-run-session "$python"; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
if ! "$python" -c 'import pyatspi' 2>/dev/null; then
  echo "skipped: python3-pyatspi is not installed (scripts/install-deps installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# xvfb-run -a takes a free display, so tests may run side by side.
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
  dbus-run-session -- "$python" "$script" "$config" "$sim" "$work"
