#!/usr/bin/env bash
# End to end on a virtual display: starts the real TessivoPlus, drops a
# folder of photos on its window over XDND, starts the run with F5, takes
# screenshots of the batch window while it runs, of the error-log window
# (one photo of the folder is cut short) and of the main window with its
# list and the thumbnail window, and checks the outputs on disk with
# ImageMagick's identify.
#
#   end_to_end.sh BUILD_DIR [SHOTS_DIR]
#
# Exit 77 (skipped) when xvfb-run, xdotool or ImageMagick is missing,
# unless CI=true, where that fails.
set -euo pipefail
build=$(cd "$1" && pwd)
shots=${2:-$build/window-shots}

for tool in xvfb-run xdotool import identify; do
  if ! command -v "$tool" >/dev/null; then
    echo "end_to_end: $tool is missing (scripts/install-deps)" >&2
    [ "${CI:-}" = "true" ] && exit 1
    exit 77
  fi
done
if [ -z "${TESSIVO_E2E_DISPLAY:-}" ]; then
  exec env TESSIVO_E2E_DISPLAY=1 xvfb-run -a -s '-screen 0 1600x1000x24' "$0" "$build" "$shots"
fi

work=$(mktemp -d /tmp/tessivo-e2e-XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "end_to_end: $*" >&2
  [ -f "$work/program.log" ] && sed "s/^/TessivoPlus: /" "$work/program.log" >&2
  exit 1
}

# A window with this exact title, visible, within Seconds; its id on stdout.
wait_window() {
  local title=$1 seconds=$2 id
  for _ in $(seq $((seconds * 10))); do
    id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

mkdir -p "$shots" "$work/data/ini" "$work/photos"
export TESSIVOPLUS_DATA=$work/data
"$build/make-sample-photos" --count 16 --size 3000x2000 "$work/photos" >/dev/null
photos=$(ls "$work/photos" | wc -l)
# A photo cut off after 40 % of its bytes: it is listed (the header is
# whole), fails in the run with its line in the error log and leaves no
# output behind.
first=$(ls "$work/photos" | head -1)
head -c $(( $(stat -c %s "$work/photos/$first") * 4 / 10 )) "$work/photos/$first" > "$work/photos/cut-short.jpg"
cat > "$work/data/ini/TessivoPlus.ini" <<INI
[File]
FileNameFormat=$work/out/<old>
SameDirectory=0
ShowDirectory=0
[System]
ThumbnailSize=2
MaxThread=2
[Resize]
Rule=1
Size1=50,800
[Window]
Left=10
Top=10
ClientWidth=1150
ClientHeight=700
INI

"$build/TessivoPlus" >"$work/program.log" 2>&1 &
pid=$!
main=$(wait_window "TessivoPlus  - TessivoPlus.ini" 20) || fail "the main window did not show"
"$build/tests/xdnd-drop" "$main" "$work/photos" || fail "the drop was not taken"

# F5 runs only with entries in the list, so it is pressed until the batch
# window shows.
batch=
for _ in $(seq 100); do
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  xdotool key F5
  batch=$(wait_window "処理中" 1) && break
done
[ -n "$batch" ] || fail "the batch window did not show"
# Taken at once: on free cores the whole run lasts about a third of a second.
import -window root "$shots/batch-window-running.png"

errlog=$(wait_window "ErrorLog" 120) || fail "the error-log window did not show"
sleep 0.3
import -window root "$shots/error-log-window.png"
xdotool windowfocus --sync "$errlog" 2>/dev/null || true
xdotool key Escape
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^ErrorLog$' >/dev/null 2>&1 || break
  sleep 0.1
done

# Outputs: every whole photo, its long side 800; nothing of the one cut short.
[ ! -e "$work/out/cut-short.jpg" ] || fail "the photo cut short left an output"
count=0
for f in "$work"/photos/*.jpg; do
  [ "$(basename "$f")" = cut-short.jpg ] && continue
  out="$work/out/$(basename "$f")"
  [ -f "$out" ] || fail "no output for $(basename "$f")"
  read -r w h < <(identify -format '%w %h\n' "$out")
  [ $(( w > h ? w : h )) -eq 800 ] || fail "$out is ${w}x$h, not 800 on the long side"
  count=$((count + 1))
done
[ "$count" -eq "$photos" ] || fail "$count outputs of $photos photos"

# A click on the list selects a row and shows its thumbnail.
xdotool mousemove --window "$main" 300 260 click 1
wait_window "$first" 10 >/dev/null || wait_window "[^ ]*\\.jpg" 10 >/dev/null || fail "no thumbnail window"
sleep 0.5
import -window root "$shots/main-window-list-thumbnail.png"
echo "end_to_end: $count outputs checked; screenshots in $shots"
