#!/usr/bin/env bash
# The main window under a real window manager: its frame, title bar included, lies at the
# work area's top, so the client area starts below the title bar (never at y = 0 with the
# title bar above the screen).
#   TitleBarOnScreen.sh VANTRELTOOL TPCSIM
set -uo pipefail
tool="$1"
sim="$2"
for t in Xvfb openbox xwininfo; do command -v "$t" >/dev/null || { echo "no $t"; exit 77; }; done

. "$(dirname "$0")/XSession.sh"
start_x_session titlebar 140 180 1280x800x24

"$sim" --usb --socket "$tmp/s.sock" --no-stdin >"$tmp/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -S "$tmp/s.sock" ] && break; sleep 0.05; done
printf '[HID]\nVID1=8829\nPID1=258\nOSType1=2\n' >"$tmp/ZUZIvor.ini"
QT_QPA_PLATFORM=xcb HIDPIPE_SIM="$tmp/s.sock" "$tool" --config "$tmp/ZUZIvor.ini" \
  >"$tmp/tool.log" 2>&1 &
pids+=($!)

title="VantrelTool version"
# Up to 120 s: a loaded machine starts the program slowly.
deadline=$((SECONDS + 120))
while [ "$SECONDS" -lt "$deadline" ]; do
  info="$(xwininfo -name "$(xwininfo -root -tree | grep -o "\"$title[^\"]*\"" | head -1 | tr -d '"')" 2>/dev/null)"
  echo "$info" | grep -q "Map State: IsViewable" && break
  sleep 0.05
done
echo "$info" | grep -q "Map State: IsViewable" || { echo "the main window was not shown"; cat "$tmp/tool.log"; exit 1; }
# The window manager frames the window after it is mapped, later on a loaded machine: wait
# until the window sits in its frame (below the title bar), up to the same deadline.
while :; do
  info="$(xwininfo -name "$(xwininfo -root -tree | grep -o "\"$title[^\"]*\"" | head -1 | tr -d '"')")"
  relative_y="$(echo "$info" | sed -n 's/.*Relative upper-left Y: *//p')"
  [ "${relative_y:-0}" -gt 0 ] || [ "$SECONDS" -ge "$deadline" ] && break
  sleep 0.1
done
sleep 0.5  # the window manager may still move the frame into the work area
info="$(xwininfo -name "$(xwininfo -root -tree | grep -o "\"$title[^\"]*\"" | head -1 | tr -d '"')")"
client_y="$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *//p')"
frame_y=$((client_y - $(echo "$info" | sed -n 's/.*Relative upper-left Y: *//p')))
echo "client y $client_y, frame y $frame_y"
if [ "$frame_y" -lt 0 ] || [ "$client_y" -le 0 ]; then
  echo "the title bar is off the screen"
  exit 1
fi
