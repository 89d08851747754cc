#!/usr/bin/env bash
# The real binary starts in a folder holding a fresh FileName.mdb, shows its
# window and keeps running until it is told to stop; it must not crash first.
set -u
binary="$1"; schema="$2"
dir="$(mktemp -d)"; trap 'rm -rf "$dir"' EXIT
sqlite3 "$dir/FileName.mdb" < "$schema" || exit 1
cd "$dir"
"$binary" &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"; echo "vantelo ended early with status $?"; exit 1
fi
kill -TERM "$pid"; wait "$pid" 2>/dev/null
echo "vantelo ran and stopped on request"
exit 0
