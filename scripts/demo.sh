#!/usr/bin/env bash
# The demo behind `./run demo`: starts the local recognition service with the sample catalogue on
# 127.0.0.1:8765 (the address the library ships configured with) and walks the sample host program
# through what the library does. Stops the service on the way out.
#
#   scripts/demo.sh BUILD_DIR
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$1"
SERVICE="$BUILD/devservice/kestrel-devservice"
SCAN="$BUILD/examples/kestrel-scan"
FILM="$BUILD/devservice/kestrel-devservice-film"
PHOTO="$ROOT/examples/photos/harbour-news-p1-angled.jpg"
PORT="${KESTREL_DEMO_PORT:-8765}"

WORK="$(mktemp -d)"
SERVICE_PID=""
cleanup() {
    [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null && wait "$SERVICE_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
# The demo's settings (API key, scan preferences) live in a folder of its own, not in ~/.config.
export XDG_CONFIG_HOME="$WORK/config"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "The local recognition service: the sample catalogue"
"$SERVICE" import "$ROOT/devservice/catalogue" --db "$WORK/catalogue.sqlite"
"$SERVICE" serve --db "$WORK/catalogue.sqlite" --port "$PORT" >"$WORK/service.log" 2>&1 &
SERVICE_PID=$!
for _ in $(seq 1 300); do
    grep -q '^listening on ' "$WORK/service.log" && break
    kill -0 "$SERVICE_PID" 2>/dev/null || { cat "$WORK/service.log"; exit 1; }
    sleep 0.1
done
grep '^listening on ' "$WORK/service.log" || { echo "the service did not start" >&2; exit 1; }
SERVICE_URL="http://127.0.0.1:$PORT"
SCAN_ARGS=()
[ "$PORT" != 8765 ] && SCAN_ARGS=(--service "$SERVICE_URL")

step "kestrel-scan set-api-key (stored once, sent with every request)"
"$SCAN" set-api-key demo-key-0001

step "kestrel-scan recognize: a hand-held photo of a catalogue page, taken at an angle"
echo "photo: ${PHOTO#"$ROOT"/}"
"$SCAN" "${SCAN_ARGS[@]}" recognize "$PHOTO" --click

step "The service counted the click"
"$SERVICE" stats --db "$WORK/catalogue.sqlite"

step "kestrel-scan search: the catalogue's pictures ranked against the same photo"
"$SCAN" "${SCAN_ARGS[@]}" search "$PHOTO"

step "kestrel-scan scan: camera frames played into a scanner (a hand sweeping the phone, then still)"
"$FILM" "$ROOT/devservice/catalogue" "$WORK/frames" --seconds 4 --fps 15 --size 1280x720 \
    --moving 1.5 --second-page 0
"$SCAN" "${SCAN_ARGS[@]}" scan "$WORK/frames" --fps 15

step "kestrel-scan code: an action built locally from a scanned QR code"
"$SCAN" code "https://harbour-news.example/ferry"

step "Done"
echo "Run the service yourself: $SERVICE serve --db FILE (see devservice/README.md)."
