#!/usr/bin/env python3
"""A socket printer for tests and benchmarks.

Listens on 127.0.0.1 on a free port and prints the port on its first line. Every
connection is one job: its bytes go to OUTDIR/jobN.bin (N counting from 1), and a line
"<seconds since the epoch> <size>" noting when its last byte came is appended to
OUTDIR/arrivals. Runs until it is killed.

    socket-printer.py OUTDIR
"""
import socket
import sys
import threading
import time

out = sys.argv[1]
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(16)
print(server.getsockname()[1], flush=True)
lock = threading.Lock()


def serve(conn, number):
    data = bytearray()
    last = time.time()
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
        last = time.time()
    # The print system's backend shuts its side down and waits for the printer to close.
    conn.close()
    with open("%s/job%d.bin" % (out, number), "wb") as job:
        job.write(data)
    with lock, open(out + "/arrivals", "a") as log:
        log.write("%.6f %d\n" % (last, len(data)))


count = 0
while True:
    conn, _ = server.accept()
    count += 1
    threading.Thread(target=serve, args=(conn, count), daemon=True).start()
