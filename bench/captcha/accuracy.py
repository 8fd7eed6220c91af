#!/usr/bin/python3
"""Accuracy and speed of the captcha readers on a labelled folder.

  accuracy.py DIR [--lib build/bin/libocr.so] [--server build/bin/rez-udo-server |
              --server-url http://127.0.0.1:PORT] [--tesseract-limit N] [--out OUT]

DIR holds images and labels.tsv (file name TAB text), as generate.py writes.
Readers, all measured in the same run on the same images:
  ocr       one ocr() call of libocr.so per image (ctypes; init() first)
  server    the server's answer through its HTTP API, GET /vexo/?code=...&length=N
            with N the label's length (the server retries up to four times);
            started here with --headless on a free port unless --server-url
            is given; skipped with a note when the program is not built
  tesseract plain Tesseract on the unprocessed image, single-line mode
            (tesseract IMG stdout --psm 7)
  model     the learned reader alone through OpenCV's DNN module, prepared as
            captcha_reader.meta says (only with --model)
For each: exact-match accuracy, median milliseconds per image (one client),
images per second with one and with two client threads. A few misreadings
are copied to OUT/misread/READER/ as LABEL__READING__FILE.
"""

import argparse
import base64
import ctypes
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def load_labels(folder):
    items = []
    with open(os.path.join(folder, "labels.tsv"), encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            name, text = line.split("\t", 1)
            with open(os.path.join(folder, name), "rb") as img:
                items.append((name, text, img.read()))
    return items


def run_pass(read, items, threads):
    """Reads every item, split over `threads` client threads. Returns the
    readings (in item order), the per-image milliseconds and the wall time."""
    results = [None] * len(items)
    times = [0.0] * len(items)

    def worker(k):
        setup = getattr(read, "thread_setup", None)
        if setup:
            setup()
        for i in range(k, len(items), threads):
            t = time.perf_counter()
            results[i] = read(items[i])
            times[i] = (time.perf_counter() - t) * 1000.0

    ts = [threading.Thread(target=worker, args=(k,)) for k in range(threads)]
    # Thread start-up (and init()) happens before the clock starts as far as
    # possible: the workers are cheap to start; init is inside the worker but
    # only once per thread.
    start = time.perf_counter()
    for t in ts:
        t.start()
    for t in ts:
        t.join()
    return results, times, time.perf_counter() - start


class LibOcr:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.init.restype = ctypes.c_int
        self.lib.init.argtypes = []
        self.lib.ocr.restype = ctypes.c_char_p
        self.lib.ocr.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.lib.init()

    def thread_setup(self):
        self.lib.init()

    def __call__(self, item):
        data = item[2]
        buf = ctypes.create_string_buffer(data, len(data))
        out = self.lib.ocr(buf, len(data))
        return (out or b"").decode("gbk", "replace")


class Server:
    """Client of the HTTP API; starts the program when given its path."""

    def __init__(self, url=None, program=None):
        self.proc = None
        if url is None:
            program = os.path.abspath(program)
            port = free_port()
            self.proc = subprocess.Popen([program, "--headless", "--port", str(port)],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                         cwd=os.path.dirname(program))
            url = f"http://127.0.0.1:{port}"
            wait_for_port(port, self.proc)
        self.url = url.rstrip("/")

    def __call__(self, item):
        code = urllib.parse.quote(base64.b64encode(item[2]).decode("ascii"), safe="")
        req = f"{self.url}/vexo/?code={code}&length={len(item[1])}"
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                body = r.read()
        except (urllib.error.URLError, OSError) as e:
            return f"<error {e}>"
        try:
            text = body.decode("utf-8")
        except UnicodeDecodeError:
            text = body.decode("gbk", "replace")
        return text[5:] if text.startswith("code:") else f"<{text.strip()}>"

    def close(self):
        if self.proc is not None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, timeout=20.0):
    end = time.time() + timeout
    while time.time() < end:
        if proc.poll() is not None:
            err = proc.stderr.read().decode("utf-8", "replace")
            raise RuntimeError(f"server exited with status {proc.returncode}: {err.strip()}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.2)
    raise RuntimeError(f"server did not listen on port {port} within {timeout:.0f}s")


class Tesseract:
    def __init__(self, folder):
        self.folder = folder

    def __call__(self, item):
        r = subprocess.run(["tesseract", os.path.join(self.folder, item[0]), "stdout",
                            "--psm", "7"], capture_output=True)
        return "".join(r.stdout.decode("utf-8", "replace").split())


class Model:
    """The learned reader alone, prepared exactly as the meta file says."""

    def __init__(self, onnx_path):
        import cv2
        import numpy as np
        self.cv2, self.np = cv2, np
        meta = {}
        with open(os.path.splitext(onnx_path)[0] + ".meta") as f:
            for line in f:
                if line.strip():
                    k, v = line.split(None, 1)
                    meta[k] = v.strip()
        self.meta = meta
        self.path = onnx_path
        self.local = threading.local()

    def thread_setup(self):
        self.local.net = self.cv2.dnn.readNetFromONNX(self.path)

    def __call__(self, item):
        cv2, np, m = self.cv2, self.np, self.meta
        if not hasattr(self.local, "net"):
            self.thread_setup()
        img = cv2.imdecode(np.frombuffer(item[2], np.uint8), cv2.IMREAD_GRAYSCALE)
        if img is None:
            return ""
        img = cv2.resize(img, (int(m["input_width"]), int(m["input_height"])),
                         interpolation=cv2.INTER_AREA)
        x = (img.astype(np.float32) * float(m["pixel_scale"]) - float(m["pixel_mean"])) \
            / float(m["pixel_std"])
        self.local.net.setInput(x[None, None])
        out = self.local.net.forward()
        out = out.reshape(out.shape[-2], out.shape[-1]) if m["output_layout"] == "N,T,C" \
            else out.reshape(out.shape[0], out.shape[-1])
        text, prev = [], 0
        for k in out.argmax(-1):
            if k != prev and k != 0:
                text.append(m["charset"][k - 1])
            prev = k
        return "".join(text)


def measure(name, read, items, folder, out_dir, keep):
    readings, times, wall1 = run_pass(read, items, 1)
    ok = sum(r == it[1] for r, it in zip(readings, items))
    _, _, wall2 = run_pass(read, items, 2)
    kept = 0
    if out_dir and keep:
        d = os.path.join(out_dir, "misread", name)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d, exist_ok=True)
        for r, it in zip(readings, items):
            if r != it[1] and kept < keep:
                safe = "".join(c if c.isalnum() else "_" for c in r)[:20] or "EMPTY"
                shutil.copy(os.path.join(folder, it[0]), os.path.join(d, f"{it[1]}__{safe}__{it[0]}"))
                kept += 1
    return dict(name=name, n=len(items), ok=ok, median=statistics.median(times),
                ips1=len(items) / wall1, ips2=len(items) / wall2,
                examples=[(it[1], r) for r, it in zip(readings, items) if r != it[1]][:keep])


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder")
    ap.add_argument("--lib", default=os.path.join(ROOT, "build", "bin", "libocr.so"))
    ap.add_argument("--server", default=os.path.join(ROOT, "build", "bin", "rez-udo-server"))
    ap.add_argument("--server-url")
    ap.add_argument("--model", nargs="?", const=os.path.join(ROOT, "libs", "ocr", "model",
                                                          "captcha_reader.onnx"))
    ap.add_argument("--tesseract-limit", type=int, default=0,
                    help="measure plain Tesseract on the first N images only (0 = all)")
    ap.add_argument("--limit", type=int, default=0, help="use the first N images only (0 = all)")
    ap.add_argument("--skip", default="", help="comma-separated readers to leave out")
    ap.add_argument("--out", help="folder for misread examples")
    ap.add_argument("--keep", type=int, default=6, help="misreadings kept per reader")
    args = ap.parse_args()
    items = load_labels(args.folder)
    if args.limit:
        items = items[:args.limit]
    skip = set(filter(None, args.skip.split(",")))
    rows, notes = [], []

    if "ocr" not in skip:
        if os.path.exists(args.lib):
            rows.append(measure("ocr", LibOcr(args.lib), items, args.folder, args.out, args.keep))
        else:
            notes.append(f"ocr: skipped, {args.lib} is not built")
    if "server" not in skip:
        if args.server_url or os.path.exists(args.server):
            server = None
            try:
                server = Server(args.server_url, args.server)
                rows.append(measure("server", server, items, args.folder, args.out, args.keep))
            except (RuntimeError, OSError) as e:
                notes.append(f"server: skipped, {e}")
            finally:
                if server:
                    server.close()
        else:
            notes.append(f"server: skipped, {args.server} is not built (or give --server-url)")
    if "tesseract" not in skip:
        if shutil.which("tesseract"):
            subset = items[:args.tesseract_limit] if args.tesseract_limit else items
            rows.append(measure("tesseract", Tesseract(args.folder), subset, args.folder,
                                args.out, args.keep))
        else:
            notes.append("tesseract: skipped, the tesseract program is not installed")
    if args.model and "model" not in skip:
        rows.append(measure("model", Model(args.model), items, args.folder, args.out, args.keep))

    print(f"\n{args.folder}: {len(items)} images")
    print(f"{'reader':<10} {'exact':>8} {'of':>5} {'median ms':>10} {'img/s 1':>8} "
          f"{'img/s 2':>8} {'2/1':>5}")
    for r in rows:
        print(f"{r['name']:<10} {r['ok'] / r['n'] * 100:7.1f}% {r['n']:5d} {r['median']:10.1f} "
              f"{r['ips1']:8.1f} {r['ips2']:8.1f} {r['ips2'] / r['ips1']:5.2f}")
    for n in notes:
        print(n)
    for r in rows:
        if r["examples"]:
            print(f"{r['name']} misreadings (label -> reading): " +
                  ", ".join(f"{a}->{b or '(empty)'}" for a, b in r["examples"]))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
