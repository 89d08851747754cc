#!/usr/bin/env bash
# The real binary through the real AT-SPI bus, as a screen reader meets it:
# on a private session bus and X server, atspi_dump.py walks the window's
# accessible tree, checks that every control has its name, fills the fields,
# presses "搜索文件" and reads the grid's rows and current row back.
#   atspi-dump.sh <binary> <schema.sql>
# Exits 77 (skipped) with its reason when the bus or its tools are missing.
set -u
binary="$1"; schema="$2"; here="$(cd "$(dirname "$0")" && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
launcher=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [ -x "$candidate" ] && launcher="$candidate"
done
[ -n "$launcher" ] || skip "at-spi2-core is not installed"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is missing (dbus)"
command -v Xvfb >/dev/null || skip "Xvfb is missing"
command -v sqlite3 >/dev/null || skip "sqlite3 is missing"
# Debian's own interpreter, where python3-pyatspi installs its module.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"
if [ -z "${ATSPI_DUMP_INNER:-}" ]; then
  ATSPI_DUMP_INNER=1 exec dbus-run-session -- "$0" "$@"
fi

dir="$(mktemp -d)"; pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$dir"' EXIT
. "$here/../support/private-display.sh"
private_display || skip "Xvfb did not start"
pids+=("$xvfb_pid")
"$launcher" --launch-immediately >/dev/null 2>&1 &
pids+=($!)
# The accessibility bus answers once the launcher has started it.
for _ in $(seq 50); do
  address="$(dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2>/dev/null | sed -n 's/.*string "\(.*\)"/\1/p')"
  [ -n "$address" ] && break
  sleep 0.1
done
[ -n "${address:-}" ] || skip "the accessibility bus did not start"

mkdir "$dir/start" "$dir/work"
sqlite3 "$dir/start/FileName.mdb" < "$schema" || exit 1
for name in a1.txt b1.txt c1.txt other.txt; do echo "$name" > "$dir/work/$name"; done
cd "$dir/start"
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$binary" &
app=$!
pids+=($app)
"$python" "$here/atspi_dump.py" "$app" "$dir/work"
