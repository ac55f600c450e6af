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
#             whose files are exactly those of the install
# Exit 77 means the tool the check needs is not installed (the test skips).
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
root=$3
skip=77

fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || { echo "SKIP: $1 is not installed"; exit $skip; }; }

id=com.example.brevan
# Every file of the install, relative to the root, sorted.
expected_files() {
  printf '%s\n' \
    usr/bin/brevan \
    usr/bin/brevan-learn \
    usr/share/applications/$id.desktop \
    usr/share/metainfo/$id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg \
    usr/share/man/man1/brevan.1.gz \
    usr/share/man/man1/brevan-learn.1.gz
  for s in 16 22 24 32 48 64 128 256; do
    echo "usr/share/icons/hicolor/${s}x${s}/apps/$id.png"
  done
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
  [ -x "$root/usr/bin/brevan" ] || fail "brevan is not executable"
  gzip -t "$root/usr/share/man/man1/brevan.1.gz" || fail "the manual page is not a gzip file"
  zcat "$root/usr/share/man/man1/brevan.1.gz" | grep -q '^\.TH BREVAN 1' || fail "the manual page has no title line"
  [ -x "$root/usr/bin/brevan-learn" ] || fail "brevan-learn is not executable"
  zcat "$root/usr/share/man/man1/brevan-learn.1.gz" | grep -q '^\.TH BREVAN-LEARN 1' ||
    fail "brevan-learn's manual page has no title line"
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
  [ -z "$(ls -A "$root/usr/bin" | grep -vxE 'brevan|brevan-learn')" ] || fail "files written beside the installed program"
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
  need cpack
  need dpkg-deb
  need dpkg-shlibdeps
  out=$(mktemp -d /tmp/brevan-cpack-XXXXXX)
  trap 'rm -rf "$out"' EXIT
  (cd "$out" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1) ||
    fail "cpack: $(tail -20 "$out/log")"
  deb=$(ls "$out"/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for lib in libssl3 libqt6widgets6 libqt6gui6 libqt6core6 'libicu[0-9]+' libpcre3 libsqlite3-0 qt6-qpa-plugins; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//' | grep -Eq "^$lib( |$)" || fail "Depends lacks $lib"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = brevan ] || fail "package name"
  # The same files as the install, under the same names.
  packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)
  wanted=$(expected_files | LC_ALL=C sort)
  [ "$packaged" = "$wanted" ] || fail "packaged files differ:"$'\n'"$(diff <(echo "$wanted") <(echo "$packaged"))"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
echo "ok: $check"
