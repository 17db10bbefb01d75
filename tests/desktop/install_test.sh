#!/usr/bin/env bash
# Installs the build into a prefix of its own and checks what a desktop
# needs: the programs, the reset songs where the program looks for them, the
# engines module where the program finds it (the installed program plays a
# song), a valid desktop entry and metainfo, and the icon in the theme's
# sizes.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; find "$prefix" -type f | sort; exit 1; }

for f in bin/plimra bin/plimra-render bin/plimra-mci \
         share/plimra/GS.MID share/plimra/GM.MID share/plimra/XG.MID \
         share/applications/org.plimra.Plimra.desktop share/metainfo/org.plimra.Plimra.metainfo.xml \
         share/icons/hicolor/scalable/apps/plimra.svg; do
  [ -s "$prefix/$f" ] || fail "$f is missing"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/plimra.png
  [ -s "$png" ] || fail "no ${size}px icon"
  # PNG width and height are big-endian at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
                  awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
  [ "$w $h" = "$size $size" ] || fail "the ${size}px icon is $w x $h"
done
modules=("$prefix"/lib*/plimra/plimra-engines.so "$prefix"/lib/*/plimra/plimra-engines.so)
[ -s "${modules[0]}" ] || [ -s "${modules[1]}" ] || fail "the engines module is missing"

# The installed program plays a song given to it (A, 440 Hz, half a second)
# through its engines: SDL's disk driver catches the sound.
song=$prefix/a.mid
printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\14\0\220\105\144\140\200\105\0\0\377\57\0' >"$song"
(cd "$prefix" && exec env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=offscreen \
   SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$prefix/out.raw" "$prefix/bin/plimra" "$song" \
   >"$prefix/out.log" 2>&1) &
pid=$!
heard=0
for _ in $(seq 100); do
  [ -s "$prefix/out.raw" ] && [ "$(tr -d '\0' <"$prefix/out.raw" | head -c 1 | wc -c)" = 1 ] &&
    { heard=1; break; }
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
[ "$heard" = 1 ] || { cat "$prefix/out.log"; fail "the installed program played nothing"; }

desktop-file-validate "$prefix/share/applications/org.plimra.Plimra.desktop" ||
  fail "desktop entry"
grep -qx 'MimeType=audio/midi;audio/x-midi;' "$prefix/share/applications/org.plimra.Plimra.desktop" ||
  fail "the desktop entry does not open MIDI files"
appstreamcli validate --no-net "$prefix/share/metainfo/org.plimra.Plimra.metainfo.xml" ||
  fail "metainfo"
echo "install test passed"
