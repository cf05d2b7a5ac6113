#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh), unpacks it into a scratch
# root with dpkg -x and checks what a user gets: the files, the computed
# dependencies, --version and --help of the installed programs against their
# manual pages and the bash completion, the desktop entry, a conversion of the
# demo database by the installed ferrowane-convert, and lintian. Needs a
# server's env sourced (scripts/mariadb.sh). One line per check; exits
# non-zero at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
: "${FERROWANE_MYSQL_HOST:?source the env of a server from scripts/mariadb.sh first}"

pass() { echo "package-test: ok: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

scratch=$(mktemp -d /tmp/ferrowane-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# The build's output only when it fails.
bash scripts/package.sh >"$scratch/package.log" 2>&1 || { cat "$scratch/package.log" >&2; fail "scripts/package.sh"; }
deb=$(tail -n 1 "$scratch/package.log")
[ -f "$deb" ] || fail "scripts/package.sh made no package"
pass "built $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
version=$(dpkg-deb -f "$deb" Version)
root=$scratch/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin

for f in usr/bin/ferrowane usr/bin/ferrowane-convert usr/bin/ferrowane-mdb \
         usr/share/applications/ferrowane.desktop \
         usr/share/icons/hicolor/scalable/apps/ferrowane.svg usr/share/icons/hicolor/48x48/apps/ferrowane.png \
         usr/share/man/man1/ferrowane.1.gz usr/share/man/man1/ferrowane-convert.1.gz \
         usr/share/man/man1/ferrowane-mdb.1.gz \
         usr/share/bash-completion/completions/ferrowane-convert \
         usr/share/bash-completion/completions/ferrowane-mdb \
         usr/share/doc/ferrowane/copyright usr/share/doc/ferrowane/changelog.gz \
         usr/share/doc/ferrowane/help-en.md usr/share/doc/ferrowane/help-zh.md; do
  [ -e "$root/$f" ] || fail "the package has no /$f"
done
pass "the package holds the programs, desktop entry, icons, manual pages, completion and documents"

depends=$(dpkg-deb -f "$deb" Depends)
# libqt6keychain1: the wizard keeps the MySQL password in the desktop's keyring.
for lib in libc6 libqt6widgets6 libmariadb3 libqt6keychain1; do
  [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] || fail "Depends lacks $lib: $depends"
done
pass "Depends computed from the binaries: $depends"

desktop-file-validate "$root/usr/share/applications/ferrowane.desktop" || fail "the desktop entry is not valid"
pass "the desktop entry is valid"

for p in ferrowane ferrowane-convert ferrowane-mdb; do
  answer=$(QT_QPA_PLATFORM=offscreen "$bin/$p" --version) || fail "$p --version failed"
  [ "$answer" = "$p $version" ] || fail "$p --version says \"$answer\", not \"$p $version\""
done
pass "ferrowane, ferrowane-convert and ferrowane-mdb --version say $version"

# Every option --help lists is in the manual page; those of the two
# command-line programs are in the bash completion as well.
options_of() { grep -o -E -- '--[a-z][a-z-]*' | grep -v -x -- '--' | sort -u; }
completion=$root/usr/share/bash-completion/completions/ferrowane-convert
for p in ferrowane ferrowane-convert ferrowane-mdb; do
  help=$(QT_QPA_PLATFORM=offscreen "$bin/$p" --help) || fail "$p --help failed"
  page=$root/usr/share/man/man1/$p.1.gz
  rendered=$(MANWIDTH=100 man -l "$page" 2>/dev/null | col -b)
  [[ $rendered == *"EXIT STATUS"* && $rendered == *EXAMPLES* ]] || fail "the manual page of $p does not render"
  # The options in the page's source, where no line break splits them.
  manual=$(zcat "$page" | sed 's/\\-/-/g')
  for o in $(options_of <<<"$help"); do
    grep -q -E -- "$o([^a-z-]|\$)" <<<"$manual" || fail "$p --help lists $o, its manual page does not"
    if [ "$p" != ferrowane ]; then
      grep -q -E -- "$o([^a-z-]|\$)" "$completion" || fail "$p --help lists $o, the bash completion does not"
    fi
  done
done
pass "every option of --help is in the manual pages and the bash completion"

# The completion answers in bash as bash-completion loads it.
completes() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           if [ "$1" = ferrowane-mdb ]; then _ferrowane_mdb; else _ferrowane_convert; fi
           echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[ "$(completes ferrowane-convert --password-f)" = --password-file ] || fail "completion of ferrowane-convert --password-f"
[ "$(completes ferrowane-convert --existing m)" = merge ] || fail "completion of ferrowane-convert --existing m"
[ "$(completes ferrowane-mdb ch)" = check ] || fail "completion of ferrowane-mdb ch"
pass "the bash completion completes options, their values and ferrowane-mdb's commands"

# The installed converter converts the demo database; the installed checker accepts the file.
$FERROWANE_MYSQL_CLIENT <resources/demo/demo.sql
login=(--host "$FERROWANE_MYSQL_HOST" --port "$FERROWANE_MYSQL_PORT" --user "$FERROWANE_MYSQL_USER"
       --database ferrowane_demo)
out=$scratch/demo.mdb
MYSQL_PWD="$FERROWANE_MYSQL_PASSWORD" "$bin/ferrowane-convert" "${login[@]}" --output "$out" --format 2000 \
  >"$scratch/demo.log" || { cat "$scratch/demo.log" >&2; fail "the installed ferrowane-convert did not convert the demo"; }
"$bin/ferrowane-mdb" check "$out" >/dev/null || fail "ferrowane-mdb check rejects the demo file"
expected=$(MYSQL_PWD="$FERROWANE_MYSQL_PASSWORD" "$bin/ferrowane-convert" "${login[@]}" --list-tables | sort)
[ "$("$bin/ferrowane-mdb" tables "$out" | sort)" = "$expected" ] || fail "the demo file lacks tables"
pass "the installed programs converted the demo database ($(wc -l <<<"$expected") tables) and checked the file"

lintian_out=$(lintian --fail-on error --allow-root "$deb" 2>&1) || {
  echo "$lintian_out" >&2
  fail "lintian reports errors"
}
pass "lintian reports no errors${lintian_out:+:}"
[ -z "$lintian_out" ] || echo "$lintian_out" | sed 's/^/  /'
