#!/usr/bin/env bash
# The install scripts, run by a user who is not root and has no sudo, stop
# with one sentence saying what to run instead.
#   check_no_sudo.sh SCRIPTS_DIR
set -uo pipefail
scripts=$1
[ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null || { echo "needs root to become another user"; exit 77; }
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
chmod 755 "$bin"
# A PATH with what the script needs, and no sudo in it.
for tool in bash env dpkg-query grep id dirname; do ln -s "$(command -v $tool)" "$bin/$tool"; done
out=$(runuser -u nobody -- env -i PATH="$bin" bash "$scripts/apt-install.sh" cmake trimora-no-such-package 2>&1)
status=$?
failures=0
[ $status -eq 1 ] || { echo "FAIL: exit status $status"; failures=1; }
[ "$(wc -l <<<"$out")" -eq 1 ] || { echo "FAIL: more than one line"; failures=1; }
grep -q "apt-get install --no-install-recommends trimora-no-such-package'" <<<"$out" ||
  { echo "FAIL: does not say what to run"; failures=1; }
echo "$out"
[ $failures -eq 0 ]
