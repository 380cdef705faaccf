#!/usr/bin/env bash
# The demo: builds everything (installing what it needs), then plays a front-end session with
# Tandrel: the start-up report, a command, a stopped task.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
BIN=build/bin

echo "== Tandrel under tandrelctl: start-up report, a stop command, a command for the stopped task"
printf '%s\n' \
  '{"cmd":600,"task":1001,"json":{"info":{"task_id":"5005"}}}' \
  '{"cmd":600,"task":5005,"json":{"info":{"task_id":"1"}}}' \
  '{"cmd":600,"task":1002,"json":"this is not JSON"}' |
  "$BIN/tandrelctl" session --linger-ms 1500
echo "(task 5005 was stopped before it arrived, so it got no reply; task 1002 was answered with code 21)"
