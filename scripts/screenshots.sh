#!/usr/bin/env bash
# Takes screenshots of the desktop window in each language pack, on a virtual X display:
#   scripts/screenshots.sh [OUTPUT_DIR]        (default docs/screenshots)
# For the packs en (rc_en.dll) and cn (rc_cn.dll) it writes main-<pack>.png (the window with
# a few log lines), settings-<pack>.png (File > Settings...) and about-<pack>.png
# (File > About...). Builds the release preset and installs what is missing first.
# The server listens on 127.0.0.1 only, on free ports picked at random. JOBS (default 2) sets
# the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

scripts/install-deps.sh --with-screenshots
[ -f build/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-2}" --target revuzada language_packs

title="Morvane QUARDEX Server"
work=$(mktemp -d /tmp/revuzada-shots.XXXXXX)
xvfb_pid=""
app_pid=""

cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap 'cleanup || true' EXIT

fail() {
  echo "screenshots.sh: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  program: /' "$work/app.log" >&2
  exit 1
}

# A UDP port on 127.0.0.1 that nothing uses right now (the kernel's pick, from its high range).
free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths=$1
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Starts Xvfb with a cookie on the first free display from 90 on; sets display (exported as
# DISPLAY for xdotool) and xvfb_pid.
start_xvfb() {
  export XAUTHORITY=$work/Xauthority
  : >"$XAUTHORITY"
  local cookie
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  for ((n = 90; n < 190; n++)); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    xauth -q -f "$XAUTHORITY" add ":$n" MIT-MAGIC-COOKIE-1 "$cookie"
    Xvfb ":$n" -auth "$XAUTHORITY" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_for 100 env DISPLAY=":$n" xdotool getdisplaygeometry; then
      display=":$n"
      export DISPLAY=$display
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  fail "no free X display between :90 and :189"
}

stop_xvfb() {
  kill "$xvfb_pid"
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}

# The caption of dialog $2 in pack file $1 (the dialog's window title).
caption() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["dialogs"][sys.argv[2]]["caption"])' "$1" "$2"
}

# The ids of the program's visible windows (main window, dialogs, open menus).
visible_windows() {
  xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null || true
}

menu_open() {
  [ "$(visible_windows | wc -l)" -gt 1 ]
}

window_gone() {
  ! visible_windows | grep -qx "$1"
}

# The visible window of the program titled $1, waited for up to 5 seconds.
window_named() {
  local w
  for ((i = 0; i < 50; i++)); do
    for w in $(visible_windows); do
      [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

# Opens File > <item> with the keyboard (Alt+F, then the item's letter), waits for the dialog
# titled $3, captures it into $2 and closes it with Escape. $4 is the main window.
shoot_dialog() {
  local letter=$1 file=$2 expected=$3 main=$4 dialog
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers alt+f
  wait_for 50 menu_open || fail "Alt+F opened no menu"
  xdotool key "$letter"
  dialog=$(window_named "$expected") || fail "File > ($letter) did not open \"$expected\""
  sleep 0.5  # painted
  import -display "$display" -strip -window "$dialog" "$file"
  xdotool windowfocus --sync "$dialog"
  xdotool key Escape
  wait_for 50 window_gone "$dialog" || fail "the dialog \"$expected\" did not close"
}

shoot_pack() {
  local pack=$1
  local bin=$work/$pack/bin serve=$work/$pack/serve
  mkdir -p "$bin" "$serve"
  cp build/bin/revuzada build/bin/rc_en.dll build/bin/rc_cn.dll "$bin/"
  printf '[lang]\r\nrc=rc_%s.dll\r\n' "$pack" >"$bin/revuzada.ini"
  head -c 3000 /dev/urandom >"$serve/firmware.bin"
  : >"$bin/fwpack.img"

  local tftp_port notify_port
  tftp_port=$(free_port)
  notify_port=$(free_port)
  while [ "$notify_port" = "$tftp_port" ]; do notify_port=$(free_port); done

  start_xvfb
  [ -d "$work/runtime" ] || mkdir -m 700 "$work/runtime"
  (
    cd "$bin"
    exec env XDG_RUNTIME_DIR="$work/runtime" REVUZADA_INSTANCE_NAME="shots-$$" ./revuzada \
      --bind 127.0.0.1 --tftp-port "$tftp_port" --notify-port "$notify_port" --serve-dir "$serve"
  ) >"$work/app.log" 2>&1 &
  app_pid=$!

  local main
  wait_for 100 xdotool search --onlyvisible --name "^$title\$" ||
    fail "the window \"$title\" did not appear ($pack)"
  main=$(xdotool search --onlyvisible --name "^$title\$" | head -n1)

  # A few log lines: a download, a file that is not there, a firmware query, a notification.
  wait_for 50 curl -sf --tftp-no-options "tftp://127.0.0.1:$tftp_port/firmware.bin" \
    -o "$work/download.bin" || fail "the download failed ($pack)"
  cmp -s "$work/download.bin" "$serve/firmware.bin" || fail "the download differs ($pack)"
  curl -s --max-time 5 --tftp-no-options "tftp://127.0.0.1:$tftp_port/missing.bin" \
    -o /dev/null && fail "a missing file was served ($pack)"
  python3 - "$notify_port" <<'EOF' || fail "the firmware query was not answered ($pack)"
import socket, struct, sys, time
address = ("127.0.0.1", int(sys.argv[1]))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1)
for attempt in range(10):  # the listener may still be starting
    try:
        s.sendto(b"NQVZ" + struct.pack("<Ii", 0, 0) + bytes(8), address)
        reply = s.recv(64)
        break
    except OSError:
        time.sleep(0.5)
else:
    sys.exit(1)
assert len(reply) == 20, reply
s.sendto(b"NQVZ" + struct.pack("<Ii", 8, 42) + bytes(8), address)  # only logged
EOF
  sleep 1  # the lines reach the view through the GUI thread's queue

  import -display "$display" -strip -window "$main" "$out/main-$pack.png"
  shoot_dialog s "$out/settings-$pack.png" "$(caption "res/rc_$pack.json" 130)" "$main"
  shoot_dialog a "$out/about-$pack.png" "$(caption "res/rc_$pack.json" 100)" "$main"

  kill -TERM "$app_pid"
  local status=0
  wait "$app_pid" || status=$?
  app_pid=""
  [ "$status" -eq 0 ] || fail "the program exited with status $status after SIGTERM ($pack)"
  stop_xvfb
  echo "$pack: $out/main-$pack.png $out/settings-$pack.png $out/about-$pack.png"
}

for pack in en cn; do
  shoot_pack "$pack"
done
