#!/usr/bin/env python3
"""PrintServer.preview through zentrak-host's HTTP API under Xvfb: the window is found and driven
with xdotool, closed as a window manager closes windows (WM_DELETE_WINDOW), photographed with
ImageMagick's import, and its prints are read back from the private cupsd's queues.

  preview_test.py HOST [SCREENSHOT_DIR]   (environment: DISPLAY, CUPS_SERVER, ZENTRAK_CUPS_ROOT, _PORT)
"""
import base64
import ctypes
import http.client
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cups"))
from sample_pdf import A4, make_pdf  # noqa: E402

HOST = sys.argv[1]
SHOTS = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
ROOT = os.environ["ZENTRAK_CUPS_ROOT"]
WORK = tempfile.mkdtemp(prefix="zentrak-preview-")
PROFILE = os.path.join(WORK, "profile")
os.makedirs(PROFILE)
CAPTION = "\u6253\u5370\u9884\u89c8"  # the window's caption
# Three A4 pages; the first carries a big word whose place on the screen is known (see shot_checks).
DOC = base64.b64encode(make_pdf([(A4[0], A4[1], 0, f"Preview{i}", 72, 700, 60) for i in (1, 2, 3)])).decode()
failures = []
checks = 0


def check(what, got, want):
    global checks
    checks += 1
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def run(*command, ok=True):
    done = subprocess.run(command, capture_output=True, text=True, timeout=30)
    if ok and done.returncode != 0:
        raise RuntimeError(f"{command}: {done.stderr}")
    return done.stdout


class Page:
    """One page load: a session of the host over HTTP."""

    def __init__(self, port):
        self.port = port
        self.last_id = 0
        self.api = "/api?session=" + self.post("/api", {"op": "session"})["session"]

    def post(self, target, body):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=300)
        connection.request("POST", target, json.dumps(body), {"Content-Type": "application/json"})
        answer = connection.getresponse()
        text = answer.read().decode()
        connection.close()
        if answer.status != 200:
            raise RuntimeError(f"{target}: HTTP {answer.status} {text}")
        return json.loads(text)

    def create(self, progid):
        self.last_id += 1
        return self.post(self.api, {"id": self.last_id, "op": "create", "progid": progid})["object"]

    def call(self, obj, name, *args):
        self.last_id += 1
        return self.post(self.api, {"id": self.last_id, "op": "call", "object": obj, "name": name, "args": list(args)})


def job_ids(queue):
    ids = re.findall(rf"^{re.escape(queue)}-(\d+) ", run("lpstat", "-W", "all", "-o", queue, ok=False), re.M)
    return sorted(int(i) for i in ids)


def wait_for_jobs(queue, before, count):
    """The jobs queued since before (job ids), once count of them exist and none is pending."""
    new = []
    for _ in range(150):
        new = [j for j in job_ids(queue) if j not in before]
        if len(new) >= count and not run("lpstat", "-o", queue, ok=False).strip():
            break
        time.sleep(0.1)
    return new


def job_attributes(queue, job_id):
    test = os.path.join(WORK, "job.test")
    names = ["copies", "page-ranges", "job-state"]
    with open(test, "w") as f:
        f.write("{\n OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n"
                " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                " ATTR uri printer-uri $uri\n ATTR integer job-id $job_id\n ATTR name requesting-user-name root\n"
                " STATUS successful-ok\n" + "".join(f" DISPLAY {n}\n" for n in names) + "}\n")
    uri = f"ipp://127.0.0.1:{os.environ['ZENTRAK_CUPS_PORT']}/printers/{queue}"
    out = run("ipptool", "-t", "-d", f"job_id={job_id}", uri, test)
    return dict(re.findall(r"^\s+(\S+) \([^)]*\) = (.*)$", out, re.M))


def printed_pages(queue):
    info = run("pdfinfo", os.path.join(ROOT, "out", queue + ".pdf"))
    return int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))


def documents():
    folder = os.path.join(PROFILE, "Zentrak")
    return sorted(n for n in os.listdir(folder) if n.endswith(".pdf")) if os.path.isdir(folder) else []


def xdo(*args):
    return run("xdotool", *args, ok=False).strip()


def close_window(window):
    """Asks the window to close with the WM_DELETE_WINDOW message a window manager sends."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x.XOpenDisplay(None)
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x.XFlush(display)
    x.XCloseDisplay(display)


def crop_stat(shot, geometry, what):
    """fx:mean of a crop: "gray" its mean brightness (0 black, 1 white), "dark" its share of pixels
    darker than middle gray."""
    ops = ["-colorspace", "Gray"] + (["-threshold", "50%", "-negate"] if what == "dark" else [])
    return float(run("convert", shot, "-crop", geometry, "+repage", *ops, "-format", "%[fx:mean]", "info:"))


def main():
    # A queue the host lists at its start and that is deleted while the window is open.
    run("lpadmin", "-p", "ZentrakGone", "-E", "-v", f"file://{ROOT}/out/ZentrakGone.pdf", "-P",
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cups", "passthrough.ppd"))
    environment = dict(os.environ, USERPROFILE=PROFILE, XDG_CONFIG_HOME=os.path.join(WORK, "config"),
                       LPDEST="ZentrakA")
    host = subprocess.Popen([HOST, "--port", "0", "--no-prompt", "--config", os.path.join(WORK, "host.json")],
                            stdout=subprocess.PIPE, env=environment, text=True)
    try:
        port = int(re.search(r"listening on http://127\.0\.0\.1:(\d+)/", host.stdout.readline()).group(1))
        threading.Thread(target=host.stdout.read, daemon=True).start()
        test_preview(port)
    finally:
        host.terminate()
        host.wait(timeout=30)


def test_preview(port):
    page = Page(port)
    db = page.create("Zentrak.LocalDB")
    ps = page.create("Zentrak.PrintServer")
    check("setDBName", page.call(ps, "setDBName", "preview", "")["value"], True)
    page.call(db, "setDBName", "preview", "")
    # The current printer is ZentrakA (LPDEST): its virtual name, second in the table, is preselected.
    check("map", page.call(db, "executeSql",
                           "insert into Printers values ('Back','ZentrakB'),('\u524d\u53f0','ZentrakA')").get("value"),
          True)

    answer = {}
    call = threading.Thread(target=lambda: answer.update(page.call(ps, "preview", DOC)))
    call.start()
    window = ""
    for _ in range(100):
        window = xdo("search", "--onlyvisible", "--class", "zentrak-host").split("\n")[0]
        if window:
            break
        time.sleep(0.1)
    if not window:
        failures.append("no preview window appeared")
        return
    time.sleep(0.5)  # the first drawing
    check("title", xdo("getwindowname", window), CAPTION)
    geometry = dict(re.findall(r"^(\w+)=(\d+)$", xdo("getwindowgeometry", "--shell", window), re.M))
    check("size", (geometry.get("WIDTH"), geometry.get("HEIGHT")), ("870", "500"))
    check("focus", xdo("getwindowfocus"), window)
    files = documents()
    check("the document file while the window is open", len(files), 1)

    # Another page's calls are served meanwhile; its print makes ZentrakB current.
    other = Page(port)
    ps2 = other.create("Zentrak.PrintServer")
    other.call(ps2, "setDBName", "preview", "")
    before_b = job_ids("ZentrakB")
    check("another page prints while the window is open", other.call(ps2, "printOut", "Back", DOC).get("value"), True)
    check("its job", len(wait_for_jobs("ZentrakB", before_b, 1)), 1)

    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
    shot = os.path.join(SHOTS or WORK, "preview.png")
    run("import", "-window", window, shot)
    shot_checks(shot)

    # The preselected virtual name maps to ZentrakA: the button prints there, although ZentrakB
    # is current now. A text of "Printers" would have printed on ZentrakB.
    before_a = job_ids("ZentrakA")
    xdo("mousemove", "--window", window, "293", "17", "click", "1")
    jobs = wait_for_jobs("ZentrakA", before_a, 1)
    check("the preselected name's printer prints", len(jobs), 1)
    if jobs:
        attributes = job_attributes("ZentrakA", jobs[0])
        check("ZentrakA: copies", attributes.get("copies"), "1")
        check("ZentrakA: every page", (attributes.get("page-ranges"), printed_pages("ZentrakA")), (None, 3))

    # A physical name typed in another case, printed twice.
    before_b = job_ids("ZentrakB")
    xdo("mousemove", "--window", window, "116", "18", "click", "--repeat", "3", "1")
    xdo("key", "--clearmodifiers", "ctrl+a")
    xdo("type", "--delay", "20", "zentrakb")
    xdo("mousemove", "--window", window, "293", "17", "click", "1")
    wait_for_jobs("ZentrakB", before_b, 1)
    xdo("mousemove", "--window", window, "293", "17", "click", "1")
    jobs = wait_for_jobs("ZentrakB", before_b, 2)
    check("two prints on the typed printer", len(jobs), 2)
    for job in jobs:
        attributes = job_attributes("ZentrakB", job)
        check(f"ZentrakB job {job}: copies", attributes.get("copies"), "1")
        check(f"ZentrakB job {job}: every page", attributes.get("page-ranges"), None)
    if jobs:
        check("ZentrakB: printed pages", printed_pages("ZentrakB"), 3)
    check("the window is still open", xdo("search", "--onlyvisible", "--class", "zentrak-host").split("\n")[0], window)

    # A queue that went away after the host listed it: the click's error is shown in a message
    # box over the window, which stays open.
    run("lpadmin", "-x", "ZentrakGone")
    xdo("mousemove", "--window", window, "116", "18", "click", "--repeat", "3", "1")
    xdo("key", "--clearmodifiers", "ctrl+a")
    xdo("type", "--delay", "20", "ZentrakGone")
    xdo("mousemove", "--window", window, "293", "17", "click", "1")
    box = ""
    for _ in range(100):
        box = next((w for w in xdo("search", "--onlyvisible", "--class", "zentrak-host").split("\n") if w and w != window), "")
        if box:
            break
        time.sleep(0.1)
    check("a message box tells of the failed print", bool(box), True)
    if box:
        if SHOTS:
            run("import", "-window", "root", os.path.join(SHOTS, "preview-error.png"))
        xdo("windowfocus", box)
        xdo("key", "Return")
        time.sleep(0.5)
    check("after the message, only the window is left",
          xdo("search", "--onlyvisible", "--class", "zentrak-host").split("\n"), [window])

    # The keys scroll the document: End shows the last page's foot, where the first page's word was.
    xdo("mousemove", "--window", window, "400", "300", "click", "1")
    xdo("key", "End")
    time.sleep(0.5)
    scrolled = os.path.join(WORK, "scrolled.png")
    run("import", "-window", window, scrolled)
    check("End scrolls away from the first page's word", crop_stat(scrolled, "340x90+100+180", "dark") < 0.01, True)

    # Ctrl+wheel zooms in: the paper grows past the window's right edge, where gray was.
    xdo("key", "Home")
    xdo("keydown", "ctrl", "click", "--repeat", "3", "--delay", "100", "4", "keyup", "ctrl")
    time.sleep(0.5)
    zoomed = os.path.join(SHOTS or WORK, "preview-zoomed.png")
    run("import", "-window", window, zoomed)
    check("gray right of the page at first", round(crop_stat(shot, "4x100+864+300", "gray"), 1), 0.5)
    check("Ctrl+wheel widens the paper past the window", crop_stat(zoomed, "4x100+864+300", "gray") > 0.97, True)

    close_window(int(window))
    call.join(timeout=20)
    check("preview returns when the window closes", call.is_alive(), False)
    check("preview's value", answer.get("value"), "true")
    check("the document file is deleted on close", documents(), [])


def shot_checks(shot):
    """The first page fills the width below the 41-pixel panel: 10 pixels of gray, then white
    paper at (870 - 20) / 595 pixels a point. Its word, 60 points high with its baseline 142
    points below the paper's top, lies about 190 to 260 pixels down and 110 to 420 across."""
    check("gray beside the page", round(crop_stat(shot, "6x300+1+100", "gray"), 1), 0.5)
    words = crop_stat(shot, "340x90+100+180", "dark")
    check("the first page's word is drawn", 0.03 < words < 0.6, True)
    check("white paper below the word", crop_stat(shot, "600x100+120+300", "gray") > 0.97, True)


if __name__ == "__main__":
    main()
    for failure in failures:
        print("FAIL", failure)
    print(f"preview: {checks - len(failures)} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)
