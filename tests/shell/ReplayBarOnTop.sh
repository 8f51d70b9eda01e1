#!/usr/bin/env bash
# `VantrelTool --replay FILE` under a real window manager, with tool windows restored at
# start: the replay bar ends above them, not underneath.
#   ReplayBarOnTop.sh VANTRELTOOL
set -uo pipefail
tool="$1"
for t in Xvfb openbox xwininfo xprop; do command -v "$t" >/dev/null || { echo "no $t"; exit 77; }; done

. "$(dirname "$0")/XSession.sh"
start_x_session replaybar 181 220 1920x1080x24

printf '# vantrel-capture 1\n# link: usb\n0 H>D 5 024C020400\n5000 D>H 5 024C020441\n' >"$tmp/s.capture"
printf '[HID]\nVID1=8829\nPID1=258\nOSType1=2\n[STARTUP]\nWaveWindow=1\nXYWindow=1\nSendWindow=1\n' \
  >"$tmp/ZUZIvor.ini"
TMPDIR="$tmp" QT_QPA_PLATFORM=xcb HIDPIPE_SIM="$tmp/none.sock" "$tool" --config "$tmp/ZUZIvor.ini" \
  --replay "$tmp/s.capture" >"$tmp/tool.log" 2>&1 &
pids+=($!)

id_of() { xwininfo -name "$1" 2>/dev/null | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p'; }
# Position of a client in the window manager's stacking list (bottom first).
level() {
  local id=$(($1)) k=0
  for w in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'); do
    [ $((w)) -eq "$id" ] && { echo "$k"; return; }
    k=$((k + 1))
  done
  echo -1
}
names=("Replay - s.capture" "Wave Window" "XY Window" "Firmware Control Window")
for _ in $(seq 600); do
  all=1
  for n in "${names[@]}"; do [ -n "$(id_of "$n")" ] || all=0; done
  [ "$all" = 1 ] && break
  sleep 0.05
done
sleep 1  # the window manager stacks what came last
bar="$(level "$(id_of "${names[0]}")")"
echo "replay bar at level $bar"
for n in "${names[@]:1}"; do
  id="$(id_of "$n")"
  [ -n "$id" ] || { echo "$n was not shown"; cat "$tmp/tool.log"; exit 1; }
  l="$(level "$id")"
  echo "$n at level $l"
  if [ "$l" -ge "$bar" ]; then
    echo "the replay bar is underneath $n"
    exit 1
  fi
done
