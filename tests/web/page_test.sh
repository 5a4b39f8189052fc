#!/bin/bash
# The shop page as a browser gets it: a private mosquitto on loopback serves the page from
# http_dir on its WebSockets listener, retained states stand for the lines, and Debian's
# chromium headless loads the page and hands back the document it built.
set -u
web_dir=$1
work=$(mktemp -d)
trap 'kill "$broker_pid" 2>/dev/null; wait "$broker_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
check() { # what, haystack-file, needle
  if grep -qF -- "$3" "$2"; then echo "ok: $1"; else echo "FAIL: $1 (no '$3')"; fail=1; fi
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
mqtt_port=$(free_port); ws_port=$(free_port)
# A viewer reads the shop; the stand-in for the served lines writes it.
mosquitto_passwd -b -c "$work/passwd" viewer viewer-pw >/dev/null
mosquitto_passwd -b "$work/passwd" line line-pw >/dev/null
printf 'user viewer\ntopic read corvane/#\nuser line\ntopic readwrite corvane/#\n' >"$work/acl"
chmod 600 "$work/passwd" "$work/acl" 
# Run as root (a container), mosquitto would switch to its own user and lose its files.
cat > "$work/mosquitto.conf" <<CONF
user $(id -un)
per_listener_settings false
allow_anonymous false
password_file $work/passwd
acl_file $work/acl
listener $mqtt_port 127.0.0.1
listener $ws_port 127.0.0.1
protocol websockets
http_dir $web_dir
CONF
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
broker_pid=$!
for _ in $(seq 50); do grep -q "websockets listen socket" "$work/broker.log" && break; sleep 0.1; done
pub() { mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -u line -P line-pw -r -q 1 -t "$1" -m "$2"; }
pub corvane/mill1/state '{"line":"mill1","state":"sending","file":"/lib/O0012.NC","position":1200,"total":30500,"time":"2026-12-09T17:00:00Z","served":true}'
pub corvane/lathe2/state '{"line":"lathe2","state":"offline","file":"","position":0,"total":0,"time":"2026-12-09T15:10:00Z","served":false}'
pub corvane/mill1/library '{"files":[{"name":"O0077.NC","size":812,"modified":"2026-12-09T11:00:00Z"}],"more":0}'

page() { # out-file, query
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile-$RANDOM" --virtual-time-budget=5000 --dump-dom \
    "http://127.0.0.1:$ws_port/index.html?$2" >"$1" 2>/dev/null
}
page "$work/en.html" "user=viewer&password=viewer-pw"
check "every line from its retained state" "$work/en.html" 'data-line="mill1"'
check "the offline line too" "$work/en.html" 'data-line="lathe2"'
check "progress position/total" "$work/en.html" '1200 / 30500'
check "offline greyed with since" "$work/en.html" 'class="card offline"'
check "the library in the program list" "$work/en.html" '<option value="O0077.NC">'
page "$work/bad.html" "user=viewer&password=wrong"
check "a wrong password is told" "$work/bad.html" 'Wrong user or password.'
page "$work/ja.html" "user=viewer&password=viewer-pw&lang=ja"
check "the Japanese page" "$work/ja.html" 'サービス停止'
[ $fail = 0 ] || { echo "--- broker log"; cat "$work/broker.log"; }
exit $fail
