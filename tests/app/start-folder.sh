#!/usr/bin/env bash
# The real binary started from a folder without FileName.mdb, as from the
# desktop's menu: it opens the database in the user's data folder, made for
# it there, and keeps running in the folder it was started in (where the
# chooser opens and a typed relative folder resolves). When the data folder
# cannot be made, it makes nothing and says why.
#   start-folder.sh <binary>
set -u
binary="$1"; pid=""
dir="$(mktemp -d)"; trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
mkdir "$dir/start"
cd "$dir/start" || exit 1
start="$(pwd -P)"
status=0

# Runs the tool with XDG_DATA_HOME=$1 until the command $2 succeeds (at
# most ten seconds), then checks where it runs and that the start folder is
# untouched.
run() {
  XDG_DATA_HOME="$1" "$binary" 2>"$dir/stderr" &
  pid=$!
  for _ in $(seq 100); do eval "$2" && break; sleep 0.1; done
  eval "$2" || { echo "not so after ten seconds: $2"; status=1; }
  cwd="$(readlink "/proc/$pid/cwd")"
  [ "$cwd" = "$start" ] || { echo "runs in $cwd, not in $start where it started"; status=1; }
  kill "$pid"; wait "$pid" 2>/dev/null; pid=""
  [ -z "$(ls -A "$start")" ] || { echo "made in the start folder:"; ls -A "$start"; status=1; }
}

# The connection puts the list's database into write-ahead logging when it
# opens it: the log beside it shows that it was opened.
run "$dir/xdg" '[ -e "$dir/xdg/vantelo/FileName.mdb-wal" ]'
echo "data folder: $(ls -A "$dir/xdg/vantelo" | tr '\n' ' ')"

# A file where the data folder's parent should be: noted, nothing made.
: >"$dir/blocker"
run "$dir/blocker/xdg" 'grep -q "数据库创建失败" "$dir/stderr"'
[ -f "$dir/blocker" ] || { echo "the blocking file was replaced"; status=1; }
exit $status
