#!/usr/bin/env bash
# Installs the build into a temporary folder and checks what a desktop gets:
# the tree, the desktop entry and metainfo (validated where the tools are),
# the man pages against each program's own help, the icons' sizes, the bash
# completion, and the installed programs' versions.
#   check_install.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$stage" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
id=io.github.trimora.Trimora

expected="bin/trimora
bin/trimora-cli
share/applications/$id.desktop
share/bash-completion/completions/trimora-cli"
for s in 16 24 32 48 64 128 256; do expected+=$'\n'"share/icons/hicolor/${s}x${s}/apps/$id.png"; done
expected+="
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/trimora-cli.1.gz
share/man/man1/trimora.1.gz
share/metainfo/$id.metainfo.xml"
actual=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  fail "the install tree differs:"
  diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") | sed 's/^/  /'
fi

# The programs, run from where they were installed.
[ "$("$stage/bin/trimora" --version)" = "trimora $version" ] || fail "trimora --version"
[ "$("$stage/bin/trimora-cli" --version)" = "trimora-cli $version" ] || fail "trimora-cli --version"

desktop="$stage/share/applications/$id.desktop"
grep -qx "Exec=trimora %f" "$desktop" || fail "desktop entry: Exec"
grep -qx "MimeType=image/jpeg;" "$desktop" || fail "desktop entry: MimeType"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry: Icon"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  echo "desktop-file-validate not there: not validated"
fi
metainfo="$stage/share/metainfo/$id.metainfo.xml"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo: no release $version"
if command -v appstreamcli >/dev/null; then
  # The screenshot and home page are on the web; offline they cannot be checked.
  out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
else
  echo "appstreamcli not there: not validated"
fi

for s in 16 24 32 48 64 128 256; do
  size=$(identify -format '%wx%h' "$stage/share/icons/hicolor/${s}x${s}/apps/$id.png" 2>/dev/null)
  [ "$size" = "${s}x${s}" ] || fail "icon ${s}x${s} is $size"
done
grep -q '<svg' "$stage/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"

# Man pages: they render without complaint, and describe every option the
# program's own help lists.
man_text() { zcat "$stage/share/man/man1/$1.1.gz" | sed 's/\\-/-/g'; }
gui_help=$("$stage/bin/trimora" --help)
gui_page=$(man_text trimora)
cli_page=$(man_text trimora-cli)
for page in trimora trimora-cli; do
  warnings=$(zcat "$stage/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$page(1): $warnings"
  if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$stage/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" || fail "man -l $page(1)"
  fi
done
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$gui_help" | sort -u); do
  grep -qF -- "$option" <<<"$gui_page" || fail "trimora(1) does not describe $option"
done
cli_help=""
for c in "" formats export preview curve; do cli_help+=$'\n'$("$stage/bin/trimora-cli" $c --help); done
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$cli_help" | sort -u); do
  grep -qF -- "$option" <<<"$cli_page" || fail "trimora-cli(1) does not describe $option"
done

# Bash completion, as bash-completion loads it.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_words() {
    bash -c '
      source /usr/share/bash-completion/bash_completion
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _trimora_cli
      printf "%s\n" "${COMPREPLY[@]}"' bash "$stage/share/bash-completion/completions/trimora-cli" "$@"
  }
  cli="$stage/bin/trimora-cli"
  [ "$(complete_words "$cli" ex)" = export ] || fail "completion of a command"
  [ "$(complete_words "$cli" export --fr)" = --frame ] || fail "completion of an option"
  [ "$(complete_words "$cli" export --format A | sort | tr '\n' ' ')" = "A4 A5 A6 " ] || fail "completion of --format"
  complete_words "$cli" export --preset Little | grep -qx 'Little\\ dark' || fail "completion of --preset"
else
  echo "bash-completion not there: completion not tried"
fi

[ $failures -eq 0 ] && echo "install tree checked"
[ $failures -eq 0 ]
