"""A tiny TCP service on 127.0.0.1 for examples/localhost.vdm: greets every connection
with a line that begins with VARDOMON, then closes it. Usage: example-listener.py PORT"""
import socketserver
import sys


class Greeter(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            self.request.sendall(b"VARDOMON READY\r\n")
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


if __name__ == "__main__":
    port = int(sys.argv[1])
    with Server(("127.0.0.1", port), Greeter) as server:
        server.serve_forever()
