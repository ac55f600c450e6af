#!/usr/bin/env bash
# The installed program and its package, checked from the outside.
# Usage: dist_test.sh <check> <build dir> <install root>
#   install   cmake --install into <install root> (DESTDIR, prefix /usr); the
#             files a desktop needs are there, and nothing else
#   desktop   desktop-file-validate on the installed entry
#   appstream appstreamcli validate on the installed metadata
#   run       the installed program, started with a fresh HOME from a folder it
#             cannot write, makes its own folder in $XDG_DATA_HOME
#   drive     a session window, in a program started from a folder it cannot
#             write, keeps an account, a rule and a download in
#             $XDG_DATA_HOME/brevan/ (the installed_folder_tests program)
#   window    the installed program on a real (virtual) X display: its frame
#             carries the window class the desktop entry names, the program's
#             icon, and exactly the title the program gives it
#   package   cpack makes a .deb whose Depends name what the program loads and
#             whose files are exactly those of the install; its copyright is
#             machine-readable, and its changelog, Version and the metadata
#             name the same release
#   lintian   lintian finds no error and no warning in the .deb
# Exit 77 means the tool the check needs is not installed (the test skips).
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
root=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
skip=77

fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || { echo "SKIP: $1 is not installed"; exit $skip; }; }

id=com.example.brevan
# The installed programs: one per manual page in dist/, which every program
# must have.
programs() {
  for page in "$src"/dist/*.1; do basename "$page" .1; done
}
# Every file of the install, relative to the root, sorted.
expected_files() {
  printf '%s\n' \
    usr/share/applications/$id.desktop \
    usr/share/metainfo/$id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg \
    usr/share/doc/brevan/copyright \
    usr/share/doc/brevan/changelog.gz
  for p in $(programs); do
    echo "usr/bin/$p"
    echo "usr/share/man/man1/$p.1.gz"
  done
  for s in 16 22 24 32 48 64 128 256; do
    echo "usr/share/icons/hicolor/${s}x${s}/apps/$id.png"
  done
}

# Builds the .deb in a folder of its own (removed at exit), from what the
# build folder holds; sets $out and $deb. Several may run at once.
make_deb() {
  need cpack
  need dpkg-deb
  need dpkg-shlibdeps
  out=$(mktemp -d /tmp/brevan-cpack-XXXXXX)
  trap 'rm -rf "$out"' EXIT
  (cd "$out" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1) ||
    fail "cpack: $(tail -20 "$out/log")"
  deb=$(ls "$out"/*.deb)
}

# A copyright file in Debian's machine-readable format: the Format line
# first; every Files paragraph with its Copyright and License; the text of
# every license named, in its paragraph or in a License paragraph of its own.
check_copyright() {
  awk 'BEGIN { RS = ""; FS = "\n"; bad = 0 }
    NR == 1 {
      if ($1 != "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/") { print "no Format line"; bad = 1 }
      next
    }
    {
      files = 0; copyright = 0; license = ""; text = 0; key = ""
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^[ \t]/) { if (key == "License") text = 1; continue }
        key = $i; sub(/:.*/, "", key)
        value = $i; sub(/^[^:]*:[ \t]*/, "", value)
        if (key == "Files") files = 1
        else if (key == "Copyright") copyright = 1
        else if (key == "License") license = value
      }
      if (license == "") { print "paragraph " NR " names no License"; bad = 1 }
      if (files && !copyright) { print "paragraph " NR " has no Copyright"; bad = 1 }
      if (files) used[license] = 1
      if (text) given[license] = 1
      if (files && $1 == "Files: *") all = 1
    }
    END {
      if (!all) { print "no Files: * paragraph"; bad = 1 }
      for (l in used) if (!(l in given)) { print "no text for the license " l; bad = 1 }
      exit bad
    }' "$1" >"$out/copyright-check" || fail "copyright: $(cat "$out/copyright-check")"
}

case $check in
install)
  [ -d "$root" ] && chmod -R u+w "$root"
  rm -rf "$root"
  mkdir -p "$root"
  DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
  # A root that others can walk, for the check that runs as an ordinary user.
  chmod -R a+rX "$root"
  actual=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  wanted=$(expected_files | LC_ALL=C sort)
  [ "$actual" = "$wanted" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$wanted") <(echo "$actual"))"
  for p in $(programs); do
    [ -x "$root/usr/bin/$p" ] || fail "$p is not executable"
    gzip -t "$root/usr/share/man/man1/$p.1.gz" || fail "the manual page of $p is not a gzip file"
    zcat "$root/usr/share/man/man1/$p.1.gz" | grep -q '^\.TH [^ ]* 1 ' || fail "the manual page of $p has no title line"
  done
  zcat "$root/usr/share/man/man1/brevan.1.gz" | grep -q '^\.TH BREVAN 1' || fail "brevan(1) has no title line"
  # The icon named by the desktop entry is the one installed, and the window
  # class it names is the one Qt gives the program's windows.
  grep -qx "Icon=$id" "$root/usr/share/applications/$id.desktop" || fail "Icon= does not name the icon"
  grep -qx "StartupWMClass=Brevan" "$root/usr/share/applications/$id.desktop" || fail "StartupWMClass"
  for s in 16 22 24 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${s}x${s}/apps/$id.png"
    # Width and height of a PNG are the big-endian words at bytes 16 and 20.
    size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}')
    [ "$size" = "${s}x${s}" ] || fail "$png is $size"
  done
  ;;
desktop)
  need desktop-file-validate
  desktop-file-validate "$root/usr/share/applications/$id.desktop"
  ;;
appstream)
  need appstreamcli
  appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
  ;;
run)
  # The program folder must be one the program cannot write. Root writes
  # everywhere, so as root the program runs as the user "nobody".
  work=$(mktemp -d /tmp/brevan-run-XXXXXX)
  trap 'chmod u+w "$root/usr/bin"; rm -rf "$work"' EXIT
  chmod 755 "$work"
  mkdir -p "$work/home"
  as_user=()
  if [ "$(id -u)" = 0 ]; then
    need setpriv
    chown nobody "$work/home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  fi
  [ "$(id -u)" != 0 ] && chmod a-w "$root/usr/bin"
  installed=$(ls -A "$root/usr/bin")
  data="$work/home/data"
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_DATA_HOME="$data" QT_QPA_PLATFORM=offscreen \
    "${as_user[@]}" "$root/usr/bin/brevan" >"$work/out" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    [ -d "$data/brevan" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.3
  alive=0
  kill -0 "$pid" 2>/dev/null && alive=1
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ "$alive" = 1 ] || fail "the program ended at start: $(cat "$work/out")"
  [ -d "$data/brevan" ] || fail "no folder $data/brevan"
  mode=$(stat -c %a "$data/brevan")
  [ "$mode" = 700 ] || fail "$data/brevan has mode $mode"
  [ "$(ls -A "$root/usr/bin")" = "$installed" ] || fail "files written beside the installed program"
  ;;
drive)
  driver="$build/tests/session/installed_folder_tests"
  [ -x "$driver" ] || fail "$driver is not built"
  work=$(mktemp -d /tmp/brevan-drive-XXXXXX)
  trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
  chmod 755 "$work"
  mkdir -p "$work/bin" "$work/home"
  cp "$driver" "$work/bin/"
  chmod 555 "$work/bin"
  as_user=()
  if [ "$(id -u)" = 0 ]; then
    need setpriv
    chown nobody "$work/home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  fi
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_DATA_HOME="$work/home/data" QT_QPA_PLATFORM=offscreen \
    BREVAN_INSTALLED_RUN=1 "${as_user[@]}" "$work/bin/installed_folder_tests" >"$work/out" 2>&1 ||
    fail "$(cat "$work/out")"
  cat "$work/out"
  grep -q '^\[  PASSED  \] 1 test' "$work/out" || fail "the window test did not run"
  ! grep -q SKIPPED "$work/out" || fail "the window test skipped"
  [ "$(ls -A "$work/bin")" = installed_folder_tests ] || fail "files written beside the program"
  ;;
window)
  need xvfb-run
  need xwininfo
  need xprop
  work=$(mktemp -d /tmp/brevan-window-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  mkdir -p "$work/home"
  as_user=()
  if [ "$(id -u)" = 0 ]; then
    need setpriv
    chown nobody "$work/home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  fi
  # -ac: the program, run as another user, may not read the display's key.
  HOME="$work/home" XDG_DATA_HOME="$work/home/data" BREVAN_AS_USER="${as_user[*]}" \
    xvfb-run -a -s "-ac -screen 0 1024x768x24" bash -c '
      $BREVAN_AS_USER env HOME="$HOME" XDG_DATA_HOME="$XDG_DATA_HOME" DISPLAY="$DISPLAY" "$0" &
      pid=$!
      frame=""
      for _ in $(seq 1 100); do
        for w in $(xwininfo -root -children | awk "/^ +0x/ {print \$1}"); do
          xprop -id "$w" WM_CLASS 2>/dev/null | grep -q "\"brevan\", \"Brevan\"" && frame=$w
        done
        [ -n "$frame" ] && xprop -id "$frame" _NET_WM_NAME | grep -q "\[" && break
        sleep 0.1
      done
      if [ -n "$frame" ]; then
        xprop -id "$frame" _NET_WM_NAME WM_CLASS
        echo "icons: $(xprop -id "$frame" _NET_WM_ICON | grep -o "Icon ([0-9]* x [0-9]*)" | tr "\n" " ")"
      else
        echo "no window"
      fi
      kill "$pid"
      wait "$pid" 2>/dev/null
      exit 0' "$root/usr/bin/brevan" >"$work/out" 2>&1 || true
  cat "$work/out"
  grep -qx '_NET_WM_NAME(UTF8_STRING) = "Brevan主控台 - \[Brevan v3.3 (未連線)\]"' "$work/out" ||
    fail "the frame's title is not the program's own"
  grep -qx 'WM_CLASS(STRING) = "brevan", "Brevan"' "$work/out" || fail "window class"
  # The program's pictures from the smallest up (Qt hands X no more than
  # 128 pixels).
  for size in "16 x 16" "32 x 32" "48 x 48" "128 x 128"; do
    grep "^icons: " "$work/out" | grep -qF "Icon ($size)" || fail "the window lacks the $size icon"
  done
  ;;
package)
  need dpkg-parsechangelog
  make_deb
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # One alternative of a group satisfies it: a CJK font, whichever is there.
  for lib in libssl3 libqt6widgets6 libqt6gui6 libqt6core6 'libicu[0-9]+' libpcre3 libsqlite3-0 qt6-qpa-plugins \
    'fonts-noto-cjk \| fonts-arphic-uming \| fonts-wqy-zenhei'; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//' | grep -Eq "^$lib( |$)" || fail "Depends lacks $lib"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = brevan ] || fail "package name"
  # The same files as the install, under the same names.
  packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)
  wanted=$(expected_files | LC_ALL=C sort)
  [ "$packaged" = "$wanted" ] || fail "packaged files differ:"$'\n'"$(diff <(echo "$wanted") <(echo "$packaged"))"
  dpkg-deb -x "$deb" "$out/x"
  doc="$out/x/usr/share/doc/brevan"
  check_copyright "$doc/copyright"
  # The release: the changelog's newest entry, the package and the metadata.
  zcat "$doc/changelog.gz" >"$out/changelog"
  version=$(dpkg-deb -f "$deb" Version)
  logged=$(dpkg-parsechangelog -l "$out/changelog" -S Version)
  [ "$logged" = "$version" ] || fail "the changelog's newest entry is $logged, the package $version"
  logged_date=$(date -u -d "@$(dpkg-parsechangelog -l "$out/changelog" -S Timestamp)" +%F)
  release=$(grep -o '<release version="[^"]*" date="[^"]*"' "$out/x/usr/share/metainfo/$id.metainfo.xml" | head -1)
  [ "$release" = "<release version=\"$version\" date=\"$logged_date\"" ] ||
    fail "the metadata's newest release is $release, the changelog's $version of $logged_date"
  homepage=$(sed -n 's|.*<url type="homepage">\(.*\)</url>.*|\1|p' "$out/x/usr/share/metainfo/$id.metainfo.xml")
  [ "$(dpkg-deb -f "$deb" Homepage)" = "$homepage" ] || fail "Homepage is not the metadata's $homepage"
  ;;
lintian)
  need lintian
  make_deb
  # Info tags may stay; an error or a warning fails. No user or site
  # configuration may hide a tag.
  TMPDIR="$out" lintian --no-cfg --fail-on error,warning --display-info "$deb" >"$out/tags" 2>&1 ||
    fail "lintian:"$'\n'"$(cat "$out/tags")"
  cat "$out/tags"
  ! grep -E '^[EW]: ' "$out/tags" || fail "lintian reports errors or warnings"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
echo "ok: $check"
