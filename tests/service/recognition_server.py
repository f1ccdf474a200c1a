#!/usr/bin/python3
"""A stand-in recognition service for the recognition tests, on 127.0.0.1.

It parses every request with Python's own HTTP and MIME parsers (not the library's), records it,
and answers the way the test asked. Control requests, under /control/:
  POST /control/replies   JSON list of replies to use in turn, then the default:
                          {"status": 200, "body": "...", "delay": seconds, "drop": false}
  POST /control/default   JSON reply used when the list is empty
  GET  /control/requests  JSON list of the recorded requests
  POST /control/reset     forgets requests and replies
Prints the port it listens on as the first line of its output.
"""
import base64
import email.parser
import email.policy
import http.server
import json
import sys
import threading
import time

lock = threading.Lock()
replies = []
default_reply = {"status": 404, "body": ""}
recorded = []


def parse_multipart(content_type, body):
    """The parts of a multipart/form-data body, or an error text."""
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n" + body)
    if not message.is_multipart():
        return None, "not multipart"
    if message.defects:
        return None, "defects: " + ", ".join(type(d).__name__ for d in message.defects)
    parts = []
    for part in message.iter_parts():
        if part.defects:
            return None, "part defects: " + ", ".join(type(d).__name__ for d in part.defects)
        parts.append({
            "headers": [[k, v] for k, v in part.items()],
            "name": part.get_param("name", header="content-disposition"),
            "filename": part.get_filename(),
            "contentType": part.get_content_type(),
            "data": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
        })
    return parts, None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, content_type="application/json"):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def read_body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def control(self, body):
        global default_reply
        with lock:
            if self.path == "/control/replies":
                replies.extend(json.loads(body))
            elif self.path == "/control/default":
                default_reply = json.loads(body)
            elif self.path == "/control/reset":
                replies.clear()
                recorded.clear()
            elif self.path == "/control/requests":
                return self.send(200, json.dumps(recorded))
            else:
                return self.send(404, "")
        self.send(204, "")

    def handle_any(self):
        body = self.read_body()
        if self.path.startswith("/control/"):
            return self.control(body)
        content_type = self.headers.get("Content-Type", "")
        parts, problem = (parse_multipart(content_type, body) if content_type.startswith("multipart/")
                          else (None, "no multipart body"))
        with lock:
            recorded.append({
                "method": self.command,
                "target": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": base64.b64encode(body).decode("ascii"),
                "parts": parts,
                "problem": problem,
            })
            reply = replies.pop(0) if replies else default_reply
        time.sleep(reply.get("delay", 0))
        if reply.get("drop"):
            self.close_connection = True
            self.connection.close()
            return
        self.send(reply.get("status", 200), reply.get("body", ""))

    do_POST = do_PUT = do_GET = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 256


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    # Ends with the test: its standard input closes when the test process goes away.
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
