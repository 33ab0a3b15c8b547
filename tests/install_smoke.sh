#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a scratch root and starts the installed console offscreen on a loopback
# node list: it must still be running after two seconds. Usage: install_smoke.sh BUILD_DIR
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
DESTDIR="$scratch/root" cmake --install "$1" >/dev/null
prefix=$(find "$scratch/root" -path '*/bin/vantor' -printf '%h\n' | head -n1)
test -x "$prefix/vantor" && test -x "$prefix/vantor-agent" && test -x "$prefix/vantor-check"
find "$scratch/root" -name vantor-agent.service | grep -q systemd/system
find "$scratch/root" -name vantor.desktop | grep -q applications
# The manual pages are installed compressed and render without a warning from man.
for page in vantor vantor-check vantor-agent; do
  file=$(find "$scratch/root" -path "*/man1/$page.1.gz")
  [ -n "$file" ] || { echo "no manual page for $page" >&2; exit 1; }
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man $page: $warnings" >&2; exit 1; }
done

export HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/Vantor/config"
node='{"id":"%s","name":"%s","address":"http://127.0.0.1:9/metrics","token":""}'
printf "[$node,$node,$node]" a A b B c C >"$XDG_DATA_HOME/Vantor/config/nodes.json"
status=0
QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/vantor" || status=$?
[ "$status" -eq 124 ] || { echo "installed console exited early with status $status" >&2; exit 1; }
