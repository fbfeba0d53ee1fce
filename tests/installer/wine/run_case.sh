#!/usr/bin/env bash
# Runs one Wine test of the Windows installer, or sets up / tears down the Wine
# prefix the cases share:
#   run_case.sh setup|cleanup|CASE --prefix DIR --installer EXE --driver EXE
#               --fake EXE --enabled ON|OFF
# Exits 77 (skipped) only when Wine, Xvfb or the cross compiler is missing.
set -u

SKIP=77
step=$1; shift
prefix= installer= driver= fake= enabled=
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2 ;;
    --installer) installer=$2 ;;
    --driver) driver=$2 ;;
    --fake) fake=$2 ;;
    --enabled) enabled=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done

for tool in wine Xvfb; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-installer-deps.sh installs it)"
    exit $SKIP
  fi
done
wineserver=$(command -v wineserver || true)
for candidate in /usr/lib/wine/wineserver /usr/lib/wine/wineserver64; do
  if [ -z "$wineserver" ] && [ -x "$candidate" ]; then wineserver=$candidate; fi
done
if [ -z "$wineserver" ]; then
  echo "SKIP: wineserver not found"
  exit $SKIP
fi
if [ "$enabled" != "ON" ]; then
  echo "SKIP: the installer was not cross-built (mingw-w64 missing)"
  exit $SKIP
fi

export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export LC_ALL=C
export HOME=${HOME:-$(dirname "$prefix")}
unset DISPLAY  # never a desktop the developer is looking at

# Runs a command line under Wine on a virtual X server of its own, and waits
# until everything Wine started for it has ended. Xvfb picks a free display
# itself (-displayfd), so parallel tests never fight over one.
in_wine_session() {
  local limit=$1 command=$2 scratch display xvfb rc
  scratch=$(mktemp -d)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
  xvfb=$!
  for _ in $(seq 200); do
    grep -q . "$scratch/display" 2>/dev/null && break
    kill -0 $xvfb 2>/dev/null || break
    sleep 0.1
  done
  display=$(head -n1 "$scratch/display" 2>/dev/null)
  if [ -z "$display" ]; then
    echo "FAIL: Xvfb did not start"
    cat "$scratch/xvfb.log"
    kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
    rm -rf "$scratch"
    return 1
  fi
  DISPLAY=:$display timeout --kill-after=10 "$limit" \
    bash -c "$command; rc=\$?; timeout 30 '$wineserver' -w || '$wineserver' -k; exit \$rc"
  rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    "$wineserver" -k >/dev/null 2>&1
  fi
  kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
  rm -rf "$scratch"
  return $rc
}

drive_c=$prefix/drive_c
fake_dir_win='C:\Fake ActiveSync'
fake_dir=$drive_c/Fake\ ActiveSync
record_win="$fake_dir_win\\cmdline.txt"
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CEAPPMGR.EXE'

case $step in
  setup)
    # A prefix of the tests' own, booted once for the whole run. Xvfb has no
    # window manager, so Wine is told to draw window captions itself: the
    # driver looks for the installer's icon in its caption.
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    in_wine_session 240 'wine wineboot --init >/dev/null 2>&1;
      wine reg add "HKCU\Software\Wine\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null;
      wine reg add "HKCU\Software\Wine\X11 Driver" /v Decorated /d N /f >/dev/null' || {
      echo "FAIL: could not create the Wine prefix $prefix"; exit 1; }
    if [ ! -f "$prefix/system.reg" ]; then
      echo "FAIL: the Wine prefix $prefix has no registry"
      exit 1
    fi
    echo "Wine prefix ready: $prefix"
    exit 0 ;;
  cleanup)
    if [ -d "$prefix" ]; then
      "$wineserver" -k >/dev/null 2>&1 || true
    fi
    exit 0 ;;
esac

for file in "$installer" "$driver" "$fake"; do
  if [ ! -f "$file" ]; then
    echo "FAIL: $file is missing; build the installer_win32 target first"
    exit 1
  fi
done
if [ ! -f "$prefix/system.reg" ]; then
  echo "FAIL: no Wine prefix at $prefix (the installer_wine_prefix_setup test makes it)"
  exit 1
fi

# Unix paths as Windows sees them, through drive Z:.
to_windows() { printf 'Z:%s' "${1//\//\\}"; }

mkdir -p "$fake_dir"
cp "$fake" "$fake_dir/CEAPPMGR.EXE"
rm -f "$fake_dir/cmdline.txt"

reg_delete="wine reg delete '$key' /f >/dev/null 2>&1"
case $step in
  key_missing)
    registry="$reg_delete" ;;
  key_without_default)
    registry="$reg_delete; wine reg add '$key' /v Path /d '$fake_dir_win' /f >/dev/null" ;;
  appmgr_missing)
    registry="wine reg add '$key' /ve /d 'C:\\No Such Folder\\CEAPPMGR.EXE' /f >/dev/null" ;;
  *)
    registry="$reg_delete; wine reg add '$key' /ve /d '$fake_dir_win\\CEAPPMGR.EXE' /f >/dev/null" ;;
esac

in_wine_session 150 "$registry; wine '$driver' '$step' '$(to_windows "$installer")' '$record_win'"
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "FAIL: the case did not finish in time"
fi
exit $rc
