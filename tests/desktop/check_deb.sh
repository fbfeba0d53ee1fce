#!/usr/bin/env bash
# Makes the Debian package from the build and looks inside it: its name, the
# dependencies dpkg-shlibdeps found, and that it holds the install tree.
#   check_deb.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2
command -v dpkg-shlibdeps >/dev/null && command -v dpkg-deb >/dev/null || { echo "dpkg-dev missing"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
deb="$out/trimora_${version}_amd64.deb"
[ -f "$deb" ] || { fail "no $(basename "$deb")"; ls "$out"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libjpeg62-turbo liblcms2-2 libexiv2-27 libheif1 libde265-0 libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/trimora ./usr/bin/trimora-cli ./usr/share/applications/io.github.trimora.Trimora.desktop \
         ./usr/share/man/man1/trimora.1.gz; do
  grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
done
grep -qiE "readme.txt|Trimora.ini|installer.exe" <<<"$contents" && fail "the Windows package folder is in the .deb"
[ $failures -eq 0 ] && echo "$(basename "$deb"): $depends"
[ $failures -eq 0 ]
