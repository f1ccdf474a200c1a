#!/usr/bin/env bash
# kestrel-scan against kestrel-devservice with the sample catalogue, on a free port of 127.0.0.1:
# a photo taken at an angle is recognised as its page, a click on its first action is counted,
# picture search ranks that page first, a photo of no catalogue page is not recognised, a
# scanned code becomes an action without the network (also one whose text is not UTF-8), --service
# writes nothing through a link planted where it keeps its bundle copy and leaves no folder
# behind, each failure is named with its exit status: no API key (5), the service stopped (4), and
# a click made while the service is stopped is kept in the outbox and counted once it is back, and
# a filmed scan played into the scanner finds its two pages with no request while the camera moves.
#
#   scan_end_to_end.sh KESTREL_DEVSERVICE KESTREL_SCAN SOURCE_DIR KESTREL_DEVSERVICE_FILM
set -euo pipefail
SERVICE="$1" SCAN="$2" ROOT="$3" FILM="$4"
WORK="$(mktemp -d)"
PID=""
trap '[ -n "$PID" ] && kill "$PID" 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$SERVICE" import "$ROOT/devservice/catalogue" --db "$WORK/db.sqlite" >/dev/null
# start_service: serves the catalogue on a free port and sets URL.
start_service() {
    : >"$WORK/service.log"
    "$SERVICE" serve --db "$WORK/db.sqlite" --port 0 >"$WORK/service.log" 2>&1 &
    PID=$!
    for _ in $(seq 1 600); do
        grep -q '^listening on ' "$WORK/service.log" && break
        kill -0 "$PID" 2>/dev/null || fail "the service stopped: $(cat "$WORK/service.log")"
        sleep 0.1
    done
    URL="$(sed -n 's/^listening on \(http:[^ ]*\).*/\1/p' "$WORK/service.log" | head -1)"
    [ -n "$URL" ] || fail "the service did not start"
}
start_service
scan() { "$SCAN" --service "$URL" "$@"; }

scan set-api-key demo-key-0001 >/dev/null
scan recognize "$ROOT/examples/photos/harbour-news-p1-angled.jpg" --click --json >"$WORK/page.json" ||
    fail "recognize: $(cat "$WORK/page.json")"
scan search "$ROOT/examples/photos/harbour-news-p1-angled.jpg" --json >"$WORK/pictures.json" ||
    fail "search: exit $?"
"$FILM" "$ROOT/devservice/catalogue" "$WORK/frames" --seconds 3 --fps 10 --size 960x540 \
    --moving 1 --second-page 1 >/dev/null || fail "filming a scan"
scan scan "$WORK/frames" --fps 10 --continuous --json >"$WORK/scan.json" ||
    fail "scan: exit $?: $(cat "$WORK/scan.json")"
# expect_failure STATUS TEXT COMMAND...: the command fails with STATUS and says TEXT on stderr.
expect_failure() {
    local want="$1" text="$2" status=0
    shift 2
    "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" || status=$?
    [ "$status" = "$want" ] || fail "$*: exit $status, not $want: $(cat "$WORK/out.txt" "$WORK/err.txt")"
    grep -q "$text" "$WORK/err.txt" || fail "$*: no \"$text\" in: $(cat "$WORK/err.txt")"
}
expect_failure 3 "404" scan recognize "$ROOT/examples/photos/not-in-catalogue.jpg"
XDG_CONFIG_HOME="$WORK/no-key" expect_failure 5 "API key is missing" \
    scan recognize "$ROOT/examples/photos/harbour-news-p1-angled.jpg"
scan code "tel:+441234" --type PHONE --json >"$WORK/code.json"
scan code $'caf\xe9 \xff' --json >"$WORK/latin1.json" || fail "code with text that is not UTF-8"
scan code $'caf\xe9' >/dev/null || fail "code with text that is not UTF-8, readable form"
# Another user plants a link at the name a predictable temporary folder would have: the process
# id, which exec keeps.
mkdir -p "$WORK/tmp" "$WORK/victim"
TMPDIR="$WORK/tmp" bash -c 'ln -s "$1" "$TMPDIR/kestrel-scan-$$"
    exec "$2" --service "$3" code hello >/dev/null' _ "$WORK/victim" "$SCAN" "$URL" || fail "code with --service"
[ -z "$(ls -A "$WORK/victim")" ] || fail "--service wrote through a planted link: $(ls -R "$WORK/victim")"
[ "$(find "$WORK/tmp" -mindepth 1 -not -type l | wc -l)" = 0 ] || fail "--service left $(ls "$WORK/tmp")"
stats="$("$SERVICE" stats --db "$WORK/db.sqlite")" || fail "stats: exit $?"
kill "$PID" && wait "$PID" 2>/dev/null || true
PID=""
expect_failure 4 "refused" scan recognize "$ROOT/examples/photos/harbour-news-p1-angled.jpg" --timeout 20

# A click made while the service is down waits in the outbox and is counted once it is back.
read -r SESSION ACTION < <(/usr/bin/python3 -c 'import json,sys; p=json.load(open(sys.argv[1])); print(p["sessionId"], p["actions"][0]["id"])' "$WORK/page.json")
expect_failure 4 "queued for retry" scan click "$SESSION" "$ACTION"
waiting="$(scan clicks)" || fail "clicks: exit $?"
[[ "$waiting" == "1 click reports waiting"* ]] || fail "the outbox: $waiting"
start_service
scan clicks --flush >/dev/null || fail "the outbox was not delivered: $(scan clicks)"
counted="$("$SERVICE" stats --db "$WORK/db.sqlite")" || fail "stats: exit $?"
grep -Eq "^\s*$ACTION\s+2\s*$" <<<"$counted" || fail "the queued click was not counted: $counted"

/usr/bin/python3 - "$WORK" "$stats" <<'PY' || exit 1
import json, re, sys
work, stats = sys.argv[1], sys.argv[2]
page = json.load(open(work + "/page.json"))
pictures = json.load(open(work + "/pictures.json"))
code = json.load(open(work + "/code.json"))
latin1 = json.load(open(work + "/latin1.json"))
scanned = json.load(open(work + "/scan.json"))
problems = []
if page.get("id") != "harbour-news-p1": problems.append("recognised %r" % page.get("id"))
if not page.get("sessionId"): problems.append("no session")
if not page.get("actions"): problems.append("no actions")
if page.get("clickCounted") is not True: problems.append("click not counted")
if not pictures or pictures[0].get("id") != "harbour-news-p1": problems.append("search ranked %r" % pictures[:1])
if not all(0 < (p.get("score") or 0) <= 1 for p in pictures): problems.append("scores %r" % pictures)
if code.get("type") != "PHONE" or code.get("content") != {"Number": "tel:+441234"}: problems.append("code %r" % code)
if latin1.get("name") != "caf\ufffd \ufffd": problems.append("code not UTF-8 %r" % latin1)
found = [p.get("id") for p in scanned["pages"]]
if found != ["harbour-news-p1", "museum-guide"]: problems.append("the scan found %r" % found)
sending = [s["atSeconds"] for s in scanned["states"] if s["state"] == "sending"]
if not sending or sending[0] < 0.9 or scanned["requestsSent"] > 4:
    problems.append("the scan sent at %r" % sending)
first = page["actions"][0]["id"] if page.get("actions") else None
counted = re.search(r"^\s*%s\s+(\d+)\s*$" % re.escape(first), stats, re.M) if first else None
if not counted or counted.group(1) != "1": problems.append("stats do not count one click on %s:\n%s" % (first, stats))
if problems:
    print("FAIL: " + "; ".join(problems), file=sys.stderr)
    sys.exit(1)
print("kestrel-scan end to end: recognised, clicked, counted, searched, code built, scanned")
PY
