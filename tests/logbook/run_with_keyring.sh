#!/usr/bin/env bash
# Runs a test program inside a D-Bus session of its own with a Secret Service
# (gnome-keyring) whose keyring lives in a temporary home and is unlocked
# with a throwaway password. Exit 77 (skipped) when the tools are missing.
set -euo pipefail
command -v dbus-run-session >/dev/null && command -v gnome-keyring-daemon >/dev/null || exit 77
if [[ "${1:-}" != --inside ]]; then
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" \
    dbus-run-session -- "$0" --inside "$@"
  exit $?
fi
shift
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
eval "$(printf 'vela-test' | gnome-keyring-daemon --unlock --components=secrets)"
export GNOME_KEYRING_CONTROL
# The Secret Service up before the test asks (its start may be slow on a busy
# machine; the program gives a keyring only a few seconds).
dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.StartServiceByName string:org.freedesktop.secrets uint32:0 >/dev/null || true
status=0
VELA_KEYRING_TEST=1 "$@" || status=$?
[[ -n "${GNOME_KEYRING_PID:-}" ]] && kill "$GNOME_KEYRING_PID" 2>/dev/null || true
exit $status
