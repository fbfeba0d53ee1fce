#!/usr/bin/env bash
# The install scripts, run by a user who is not root and has no sudo, stop
# with one sentence saying what to run instead.
#   check_no_sudo.sh SCRIPTS_DIR
set -uo pipefail
scripts=$1
[ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null || { echo "needs root to become another user"; exit 77; }
id nobody >/dev/null 2>&1 || { echo "no user 'nobody' to run the script as"; exit 77; }
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
chmod 755 "$bin"
# A PATH with what the script needs, and no sudo in it.
for tool in bash env dpkg-query grep id dirname; do ln -s "$(command -v $tool)" "$bin/$tool"; done
# The checkout may lie where the other user cannot read it (root's home is
# mode 700), so the script runs from a copy in a folder that user can read.
install -m 644 "$scripts/apt-install.sh" "$bin/apt-install.sh"
runuser -u nobody -- test -r "$bin/apt-install.sh" ||
  { echo "user 'nobody' cannot read $bin (temporary folder not searchable)"; exit 77; }
out=$(runuser -u nobody -- env -i PATH="$bin" bash "$bin/apt-install.sh" cmake trimora-no-such-package 2>&1)
status=$?
failures=0
[ $status -eq 1 ] || { echo "FAIL: exit status $status"; failures=1; }
[ "$(wc -l <<<"$out")" -eq 1 ] || { echo "FAIL: more than one line"; failures=1; }
grep -q "apt-get install --no-install-recommends trimora-no-such-package'" <<<"$out" ||
  { echo "FAIL: does not say what to run"; failures=1; }
echo "$out"
[ $failures -eq 0 ]
