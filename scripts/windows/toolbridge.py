#!/usr/bin/env python3
"""The media tools (Debian's ffmpeg, lame, sox, poppler) for a test running under Wine.

Wine starts a Linux program from CreateProcess but gives back no handle to wait on, so a test
cannot run one itself. wine-run.sh starts this bridge on a free loopback port beside each test
and passes the port in KORVANDA_TOOL_BRIDGE; the test's media generator sends one JSON line per
connection: {"program", "args", "merged", "timeout"} to run a tool (paths already Linux paths),
or {"missing": [tools]} to learn which are not installed. The answer is one JSON line:
{"exit": status, "out": base64 output} or {"missing": [...]}. The bridge prints its port first
and ends when the process that started it is gone.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

ALLOWED = {"ffmpeg", "ffprobe", "lame", "sox", "soxi", "pdftotext", "pdfinfo", "pdftoppm", "pdffonts", "bchunk", "cd-info"}


def answer(request):
    if "missing" in request:
        return {"missing": [t for t in request["missing"] if shutil.which(t) is None]}
    program = request.get("program")
    if program not in ALLOWED:
        return {"exit": 127, "out": ""}
    try:
        done = subprocess.run([program] + [str(a) for a in request.get("args", [])],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT if request.get("merged") else subprocess.DEVNULL,
                              timeout=float(request.get("timeout", 60)))
        return {"exit": done.returncode, "out": base64.b64encode(done.stdout).decode()}
    except (OSError, subprocess.TimeoutExpired):
        return {"exit": -1, "out": ""}


def serve(conn):
    with conn, conn.makefile("rwb") as stream:
        line = stream.readline()
        try:
            reply = answer(json.loads(line))
        except ValueError:
            reply = {"exit": -1, "out": ""}
        stream.write(json.dumps(reply).encode() + b"\n")
        stream.flush()


def main():
    parent = os.getppid()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    server.settimeout(1.0)
    print(server.getsockname()[1], flush=True)
    sys.stdout.close()
    while os.getppid() == parent:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            continue
        conn.settimeout(None)
        threading.Thread(target=serve, args=(conn,), daemon=True).start()
    time.sleep(0.1)


if __name__ == "__main__":
    main()
