#!/usr/bin/env bash
# Installs a build into a temporary folder (prefix /usr, as the Debian package does) and
# checks what a desktop and a user would see there: the programs answer --version and
# --help without a display, the desktop entry, AppStream file and MIME type are valid and
# point at each other, the icon is there in every size, the manual pages render without
# warnings and document every command and option of the batch tool, and the bash
# completion offers them.
#   check-install.sh BUILD_DIR APP_ID VERSION
set -uo pipefail
build=$1 id=$2 version=$3
root=$(mktemp -d -t qv-install-XXXXXX)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
have() { command -v "$1" >/dev/null 2>&1; }

if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$root.log" 2>&1; then
  cat "$root.log" >&2; rm -f "$root.log"
  echo "FAIL: cmake --install" >&2
  exit 1
fi
rm -f "$root.log"
usr=$root/usr
share=$usr/share

# The layout.
for f in bin/quorvalin-cli bin/quorvalin libexec/quorvalin/quorvalin-cli-media; do
  [ -x "$usr/$f" ] || fail "$f is not installed as a program"
done
for f in applications/$id.desktop metainfo/$id.metainfo.xml mime/packages/$id.xml \
         icons/hicolor/scalable/apps/$id.svg bash-completion/completions/quorvalin-cli \
         man/man1/quorvalin.1.gz man/man1/quorvalin-cli.1.gz; do
  [ -s "$share/$f" ] || fail "share/$f is missing"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$id.png
  # Width and height from the PNG header.
  got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png" 2>/dev/null)
  [ "$got" = "${size}x${size}" ] || fail "icon ${size}x${size}: ${got:-missing}"
done
extra=$(cd "$root" && find . -type f | grep -v -E "^\./usr/(bin|libexec/quorvalin|share/(applications|metainfo|mime/packages|icons/hicolor|bash-completion/completions|man/man1))/")
[ -z "$extra" ] || fail "files outside the expected folders: $extra"

# The programs from the installed folder, without a display.
cli=$usr/bin/quorvalin-cli
out=$("$cli" --version 2>&1)
[ "$out" = "quorvalin-cli $version" ] || fail "quorvalin-cli --version says '$out'"
# The commands that need FFmpeg, OpenCV or dlib run in the private program: from the
# installed folder it must be found and get the arguments (here a project that is missing).
out=$("$cli" match "$root/none.grid" "$root/out.grid" 2>&1)
[ $? = 1 ] && [[ $out == *none.grid* && $out != *quorvalin-cli-media* ]] ||
  fail "quorvalin-cli match does not reach quorvalin-cli-media: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/quorvalin" --version 2>&1)
[ "$out" = "quorvalin $version" ] || fail "quorvalin --version says '$out'"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/quorvalin" --help 2>&1) &&
  [[ $out == Usage:\ quorvalin* ]] || fail "quorvalin --help without a display: $out"

# Desktop entry, AppStream and MIME type, and that they name each other.
desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
if have desktop-file-validate; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "desktop-file-validate not installed: desktop entry not validated"
fi
if have appstreamcli; then
  appstreamcli validate --no-net "$metainfo" >"$root/as.txt" 2>&1 || { cat "$root/as.txt"; fail "appstreamcli validate"; }
else
  echo "appstreamcli not installed: AppStream file not validated"
fi
grep -q "^Icon=$id\$" "$desktop" || fail "the desktop entry's icon is not $id"
grep -q "^Exec=quorvalin " "$desktop" || fail "the desktop entry does not start quorvalin"
mime=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$share/mime/packages/$id.xml")
grep -q "^MimeType=.*$mime;" "$desktop" || fail "the desktop entry does not open $mime"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "AppStream launchable"
grep -q "<release version=\"$version\"" "$metainfo" || fail "AppStream has no release notes for $version"
if have update-mime-database; then
  cp -r "$share/mime" "$root/mime"
  update-mime-database "$root/mime" >/dev/null 2>&1 || fail "update-mime-database"
  grep -q "^50:$mime:\*\.grid\$" "$root/mime/globs2" || fail "*.grid is not $mime"
fi

# Manual pages: no warnings from groff, and every command and option of the batch tool.
if have man; then
  for page in quorvalin quorvalin-cli; do
    file=$share/man/man1/$page.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page: $warnings"
  done
fi
manual=$(zcat "$share/man/man1/quorvalin-cli.1.gz")
commands=$("$cli" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p')
[ -n "$commands" ] || fail "quorvalin-cli --help lists no commands"
for c in $commands; do
  grep -q "^\.SS $c\$" <<<"$manual" ||
    fail "quorvalin-cli(1) has no section for the command $c: add '## $c' to packaging/man/quorvalin-cli.1.scd"
  for o in $("$cli" "$c" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
    # As a bold term of its own, not only inside an example.
    grep -q -F -- "\\fB$o\\fR" <<<"$manual" || fail "quorvalin-cli(1) does not document $c $o (packaging/man/quorvalin-cli.1.scd)"
  done
done

# Bash completion, run as bash would on a few command lines.
completion() {
  PATH="$usr/bin:$PATH" bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    cd "$(dirname "$0")" && _quorvalin_cli && for r in "${COMPREPLY[@]}"; do echo "$r"; done | sort' \
    "$root/work/x" "$share/bash-completion/completions/quorvalin-cli" "$@"
}
mkdir -p "$root/work/sub"
touch "$root/work/a.grid" "$root/work/b.jpg" "$root/work/s.wav"
got=$(completion quorvalin-cli "" | tr '\n' ' ')
want=$(printf '%s\n' $commands --help --version | sort | tr '\n' ' ')
[ "$got" = "$want" ] || fail "completing a command gives '$got', not '$want'"
got=$(completion quorvalin-cli avi a.grid --| tr '\n' ' ')
[ "$got" = "--colour-curve --duration --help --shape-curve --smooth --wav " ] ||
  fail "completing avi's options gives '$got'"
got=$(completion quorvalin-cli avi "" | tr '\n' ' ')
[ "$got" = "a.grid sub " ] || fail "completing avi's project gives '$got'"
got=$(completion quorvalin-cli avi a.grid --duration 3000 --wav "" | tr '\n' ' ')
[ "$got" = "s.wav sub " ] || fail "completing --wav gives '$got'"
# A usage that goes on over several lines: the options of every line are offered.
got=$(completion quorvalin-cli video a.grid --| tr '\n' ' ')
[ "$got" = "--colour-curve --duration --fps --help --pingpong --quality --shape-curve --smooth --wav " ] ||
  fail "completing video's options gives '$got'"
got=$(completion quorvalin-cli render a.grid --position "" | tr '\n' ' ')
[ -z "$got" ] || fail "completing --position's number gives '$got'"
got=$(completion quorvalin-cli render a.grid --position 5 "" | tr '\n' ' ')
[ "$got" = "a.grid b.jpg s.wav sub " ] || fail "completing render's output gives '$got'"

if [ "$failures" -ne 0 ]; then
  echo "$failures install check(s) failed" >&2
  exit 1
fi
echo "install layout, programs, desktop files, manual pages and completion: all checks passed"
