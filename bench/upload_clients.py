#!/usr/bin/python3
"""The same multipart upload as the library's recognition request, made by other clients, for
recognition_call_bench: `curl` (one process per request) or Python's http.client (one keep-alive
connection per worker). Prints one JSON line: {"count", "seconds", "latencies_ms"}.

usage: upload_clients.py curl|keepalive URL BODY_FILE BOUNDARY CONCURRENCY SECONDS
"""
import http.client
import json
import subprocess
import sys
import threading
import time
import urllib.parse


def main():
    mode, url, body_file, boundary, concurrency, seconds = sys.argv[1:7]
    concurrency, seconds = int(concurrency), float(seconds)
    body = open(body_file, "rb").read()
    # The library accepts compressed replies, as the platform's HTTP clients do; so do these, so
    # that the server does the same work for every client.
    headers = {"Content-Type": "multipart/form-data; boundary=" + boundary,
               "Accept": "application/json", "ApiKey": "bench-key",
               "Accept-Encoding": "deflate, gzip, br, zstd"}
    parsed = urllib.parse.urlsplit(url)
    deadline = time.monotonic() + seconds
    latencies, lock = [], threading.Lock()

    def keepalive_worker():
        connection = http.client.HTTPConnection(parsed.hostname, parsed.port)
        while time.monotonic() < deadline:
            start = time.monotonic()
            connection.request("POST", parsed.path, body=body, headers=headers)
            reply = connection.getresponse()
            reply.read()
            if reply.status != 200:
                raise SystemExit("status %d" % reply.status)
            with lock:
                latencies.append((time.monotonic() - start) * 1000)

    def curl_worker():
        command = ["curl", "-s", "--compressed", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST",
                   "--data-binary", "@" + body_file]
        for name, value in headers.items():
            if name != "Accept-Encoding":  # --compressed says it
                command += ["-H", name + ": " + value]
        command.append(url)
        while time.monotonic() < deadline:
            start = time.monotonic()
            status = subprocess.run(command, capture_output=True, text=True).stdout
            if status != "200":
                raise SystemExit("status " + status)
            with lock:
                latencies.append((time.monotonic() - start) * 1000)

    worker = keepalive_worker if mode == "keepalive" else curl_worker
    started = time.monotonic()
    threads = [threading.Thread(target=worker) for _ in range(concurrency)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(json.dumps({"count": len(latencies), "seconds": time.monotonic() - started,
                      "latencies_ms": latencies}))


if __name__ == "__main__":
    main()
