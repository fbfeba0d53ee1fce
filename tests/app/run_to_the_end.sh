#!/usr/bin/env bash
# Starts the real `trimora` as a process, lets the preloaded user hook tap the
# cross, and checks that the program ends with status 0.
#   run_to_the_end.sh TRIMORA HOOK_LIBRARY offscreen|x11
# On "x11" the program runs on Xvfb and the cross is clicked with xdotool, as
# a user's pointer clicks it; exit 77 (skipped) when those tools are missing.
set -uo pipefail
trimora=$1 hook=$2 mode=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# In a sanitizer build, leaks that are not the program's own are let pass:
# Qt Widgets' built-in resources, whose clean-up order changes when the hook
# preloads Qt, and the system's D-Bus library on X11. Suppressions already
# asked for are kept.
{
  echo "leak:qRegisterResourceData"
  echo "leak:libdbus-1.so"
  sed -n 's/.*suppressions=\([^:]*\).*/\1/p' <<<"${LSAN_OPTIONS-}" | xargs -r cat
} >"$work/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/lsan.supp"

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs trimora with the given arguments; leaves the status in $status and the
# hook's lines in $work/report.
run_trimora() {
  rm -f "$work/report"
  if [ "$mode" = offscreen ]; then
    env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen TRIMORA_HOOK_REPORT="$work/report" TRIMORA_HOOK_CROSS=tap \
      LD_PRELOAD="$hook" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
      timeout 60 "$trimora" "$@" >"$work/out" 2>"$work/err"
    status=$?
  else
    xvfb-run -a -s "-screen 0 640x480x24" bash -c '
      report=$1 trimora=$2 hook=$3; shift 3
      env -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR TRIMORA_HOOK_REPORT="$report" TRIMORA_HOOK_CROSS=point \
        LD_PRELOAD="$hook" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        "$trimora" "$@" &
      pid=$!
      for _ in $(seq 300); do
        grep -q "^cross " "$report" 2>/dev/null && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
      done
      if read -r _ x y < <(grep "^cross " "$report"); then
        xdotool mousemove "$x" "$y" click 1
      fi
      # Give it a while to end, but never hang the test.
      for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
      kill -0 $pid 2>/dev/null && { echo "still running after the click" >&2; kill -KILL $pid; }
      wait $pid
    ' bash "$work/report" "$trimora" "$hook" "$@" >"$work/out" 2>"$work/err"
    status=$?
  fi
}

expect_status() {
  if [ "$status" -ne "$1" ]; then
    fail "$2: exit status $status, expected $1"
    sed 's/^/  stderr: /' "$work/err"
  fi
}

expect_line() {
  grep -qxF -- "$1" "$work/report" 2>/dev/null || { fail "$2: no line \"$1\" in"; sed 's/^/  /' "$work/report" 2>/dev/null; }
}

if [ "$mode" = x11 ]; then
  command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || { echo "xvfb-run or xdotool missing"; exit 77; }
fi

# Nothing loaded: the splash, then the cross.
run_trimora --root "$work"
expect_status 0 "closed on the splash"
expect_line "status Selected format: 15.2x10.2 cm" "closed on the splash"
# Qt's complaint about XDG_RUNTIME_DIR (root on a console has none) is noise.
grep -q XDG_RUNTIME_DIR "$work/err" && fail "the start is noisy: $(cat "$work/err")"

# A photograph named on the command line is open when the window shows: its
# red fills the preview area's centre. The camera's upper-case name is found.
mkdir -p "$work/card/DCIM"
convert -size 1600x1200 xc:'rgb(200,30,40)' "$work/card/DCIM/IMG_0001.JPG"
run_trimora "$work/card/DCIM/IMG_0001.JPG"
expect_status 0 "closed with a photograph"
expect_line "status Selected format: 15.2x10.2 cm" "closed with a photograph"
if ! grep -q "^centre 2[0-9][0-9] [0-5][0-9] [0-5][0-9]$" "$work/report" || grep -q "^message" "$work/report"; then
  fail "photograph on the command line not shown:"; sed 's/^/  /' "$work/report"
fi

# One that cannot be opened: the open command's messages, then the splash.
echo "not a photograph" >"$work/card/bad.jpg"
convert -size 799x600 xc:gray "$work/card/small.jpg"
run_trimora --root "$work/card" "$work/card/bad.jpg"
expect_status 0 "closed after a bad photograph"
expect_line "message Cannot open this file" "closed after a bad photograph"
expect_line "centre 255 255 255" "closed after a bad photograph (splash)"
run_trimora "$work/card/small.jpg"
expect_status 0 "closed after a small photograph"
if [ "$(grep ^message "$work/report" 2>/dev/null)" != "message Image must be lagrer then 800x600
message Cannot open this file" ]; then
  fail "small photograph:"; sed 's/^/  /' "$work/report"
fi

# Page Down twice from the first photograph (named as a camera names it, the
# browser lists it lower-cased): the damaged one between is
# passed over without a message box, the title names the last one and its
# place, and the print's resolution stands beside the status line.
mkdir -p "$work/walk/DCIM"
convert -size 1600x1200 xc:'rgb(200,30,40)' "$work/walk/DCIM/IMG_0001.JPG"
echo "damaged" >"$work/walk/DCIM/img_0002.jpg"
convert -size 1000x800 xc:'rgb(30,40,200)' "$work/walk/DCIM/img_0003.jpg"
TRIMORA_HOOK_KEYS=PageDown,PageDown run_trimora --root "$work/walk" "$work/walk/DCIM/IMG_0001.JPG"
expect_status 0 "walked the folder"
expect_line "title img_0003.jpg (3 of 3)" "walked the folder"
expect_line "resolution 167 dpi" "walked the folder"
expect_line "status Selected format: 15.2x10.2 cm" "walked the folder"
grep -q "^message" "$work/report" && fail "walking the folder showed a message: $(grep ^message "$work/report")"
# The two photographs walked (the damaged one is passed over) are an order;
# the cross offers once to save it, and No closes.
if [ "$(grep -c "^question The order of 2 photographs is not saved. Save it?" "$work/report")" != 1 ]; then
  fail "closing after the walk did not ask once to save the order:"; sed 's/^/  /' "$work/report"
fi
if ! grep -q "^centre [0-9]\{1,2\} [0-9]\{1,2\} 2[0-9][0-9]$" "$work/report"; then
  fail "the third photograph is not shown:"; sed 's/^/  /' "$work/report"
fi

[ $failures -eq 0 ] && echo "all cases passed ($mode)"
[ $failures -eq 0 ]
