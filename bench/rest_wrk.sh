#!/bin/bash
# wrk against print_texto over REST (receipt to /dev/null) with 1 and 64
# keep-alive connections, and the same wrk against nginx serving a static file
# of the same size as our answer, on loopback. Then the server's memory after
# 100,000 session-less requests (each one opens a session).
#
#   bench/rest_wrk.sh [build-dir] [seconds]
set -euo pipefail
BUILD=${1:-build}
SECS=${2:-5}
SERVER=$BUILD/bin/bench_rest_server
[ -x "$SERVER" ] || { echo "build bench_rest_server first: cmake --build $BUILD --target bench_rest_server" >&2; exit 1; }
command -v wrk >/dev/null && command -v nginx >/dev/null || { echo "needs wrk and nginx" >&2; exit 1; }

WORK=$(mktemp -d /tmp/rest_wrk.XXXXXX)
SRV_PID=""
cleanup() {
    [ -n "$SRV_PID" ] && kill "$SRV_PID" 2>/dev/null && wait "$SRV_PID" 2>/dev/null || true
    [ -f "$WORK/nginx.pid" ] && nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/error.log" -s quit 2>/dev/null || true
    sleep 0.2
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

start_server() {
    "$SERVER" 0 /dev/null > "$WORK/server.out" &
    SRV_PID=$!
    for _ in $(seq 100); do grep -q '^PORT' "$WORK/server.out" 2>/dev/null && break; sleep 0.05; done
    PORT=$(awk '/^PORT/{print $2}' "$WORK/server.out")
}
stop_server() { kill "$SRV_PID"; wait "$SRV_PID" || true; SRV_PID=""; }

# A receipt of ten lines, UTF-8, Base64, URL-encoded, then encoded once more
# for the path as a browser client does.
TEXT=$(for i in $(seq 10); do printf 'Item %02d  Produto de teste açúcar   R$ %d,90\n' "$i" "$i"; done)
B64=$(printf '%s' "$TEXT" | base64 -w0)
ENC=$(printf '%s' "$B64" | sed -e 's/+/%252B/g' -e 's/\//%252F/g' -e 's/=/%253D/g')
URL_PATH="/datasnap/rest/TServerMethods1/print_texto/USER/PASS/$ENC/"

start_server
BODY=$(curl -s "http://127.0.0.1:$PORT$URL_PATH")
[ "$BODY" = '{"result":["Realizada com sucesso."]}' ] || { echo "unexpected answer: $BODY" >&2; exit 1; }

NGX_PORT=$(free_port)
mkdir -p "$WORK/www" "$WORK/tmp"
printf '%s' "$BODY" > "$WORK/www/answer.txt"
cat > "$WORK/nginx.conf" <<NGX
worker_processes 2;
pid $WORK/nginx.pid;
error_log $WORK/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $WORK/tmp/body; proxy_temp_path $WORK/tmp/proxy;
  fastcgi_temp_path $WORK/tmp/fastcgi; uwsgi_temp_path $WORK/tmp/uwsgi; scgi_temp_path $WORK/tmp/scgi;
  server { listen 127.0.0.1:$NGX_PORT; root $WORK/www; }
}
NGX
nginx -p "$WORK" -c "$WORK/nginx.conf" -e "$WORK/error.log"
until curl -fs "http://127.0.0.1:$NGX_PORT/answer.txt" >/dev/null; do sleep 0.05; done

run() { # name connections threads url
    local out rps p99
    out=$(wrk -t"$3" -c"$2" -d"${SECS}s" --latency "$4")
    rps=$(awk '/^Requests\/sec/{print $2}' <<<"$out")
    p99=$(awk '$1=="99%"{print $2}' <<<"$out")
    printf '%-8s %3s conn  %10s req/s  p99 %s\n' "$1" "$2" "$rps" "$p99" >&2
    echo "$rps"
}

echo "answer: ${#BODY} bytes; path: ${#URL_PATH} bytes; $SECS s per run" >&2
for c in 1 64; do
    t=$([ "$c" = 1 ] && echo 1 || echo 2)
    ours=$(run rest "$c" "$t" "http://127.0.0.1:$PORT$URL_PATH")
    ref=$(run nginx "$c" "$t" "http://127.0.0.1:$NGX_PORT/answer.txt")
    awk -v a="$ours" -v b="$ref" -v c="$c" 'BEGIN{printf "ratio rest/nginx with %s connections: %.2f\n", c, a/b}' >&2
done

# Memory after 100,000 session-less requests on a fresh server.
stop_server
start_server
cat > "$WORK/count.lua" <<'LUA'
local n = 0
function response(status, headers, body)
    n = n + 1
    if n >= 50000 then wrk.thread:stop() end
end
LUA
wrk -t2 -c8 -d120s -s "$WORK/count.lua" "http://127.0.0.1:$PORT$URL_PATH" >/dev/null
grep -E 'VmRSS|VmHWM' "/proc/$SRV_PID/status" | sed 's/^/server after 100000 session-less requests: /' >&2
