#!/usr/bin/env bash
# Runs a test program as a client of a headless Weston compositor of its own,
# on Qt's Wayland platform: on-weston.sh <program> [arguments...]
# Exits 77 (which CTest counts as skipped) with the reason when no compositor
# or no Qt Wayland plugin is there, or when Weston cannot start on this machine.
set -uo pipefail
skip() { echo "SKIP: $*"; exit 77; }
command -v weston >/dev/null || skip "weston is not installed (Debian package weston)"
plugin=$(find /usr/lib/*/qt6/plugins/platforms -name 'libqwayland-generic.so' 2>/dev/null | head -n 1)
[ -n "$plugin" ] || skip "Qt's Wayland plugin is not installed (Debian package qt6-wayland)"

runtime=$(mktemp -d "${TMPDIR:-/tmp}/reqlark-weston.XXXXXX")
chmod 700 "$runtime"
socket=wayland-reqlark
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket=$socket --idle-time=0 \
    --no-config >"$runtime/weston.log" 2>&1 &
weston_pid=$!
cleanup() { kill "$weston_pid" 2>/dev/null; wait "$weston_pid" 2>/dev/null; rm -rf "$runtime"; }
trap cleanup EXIT
for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    kill -0 "$weston_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
    tail -n 20 "$runtime/weston.log"
    skip "weston could not start here"
fi
XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland "$@"
