#!/usr/bin/env bash
# The real binary on an X server (Xvfb): its main window's icon name, which
# taskbars and icon boxes show, is the application title, while the window's
# caption stays the main window's own.
#   taskbar-label.sh <binary> <schema.sql>
set -u
binary="$1"; schema="$2"; pid=""; xvfb_pid=""
. "$(dirname "$0")/../support/private-display.sh"
dir="$(mktemp -d)"; trap 'kill $pid $xvfb_pid 2>/dev/null; rm -rf "$dir"' EXIT
private_display || { echo "Xvfb did not start"; exit 1; }
sqlite3 "$dir/FileName.mdb" < "$schema" || exit 1
# Under this name the title is "Vantelo": cut at the first ".", lowered after the first letter.
cp "$binary" "$dir/VANTELO.Bin"
cd "$dir"
QT_QPA_PLATFORM=xcb ./VANTELO.Bin &
pid=$!
window=""
for _ in $(seq 50); do
  for w in $(xwininfo -root -tree | awk '/"/ {print $1}'); do
    if [ "$(xprop -id "$w" _NET_WM_PID 2>/dev/null)" = "_NET_WM_PID(CARDINAL) = $pid" ] &&
       xprop -id "$w" _NET_WM_NAME 2>/dev/null | grep -q '批量'; then
      window="$w"
    fi
  done
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then echo "the main window did not appear"; exit 1; fi
icon="$(xprop -id "$window" _NET_WM_ICON_NAME)"
caption="$(xprop -id "$window" _NET_WM_NAME)"
echo "$icon"; echo "$caption"
status=0
[ "$icon" = '_NET_WM_ICON_NAME(UTF8_STRING) = "Vantelo"' ] || { echo "the icon name is not the title"; status=1; }
case "$caption" in
  *'文件名称批量修改器"') ;;
  *) echo "the caption changed"; status=1 ;;
esac
exit $status
