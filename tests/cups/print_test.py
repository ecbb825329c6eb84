#!/usr/bin/env python3
"""PrintServer against the private cupsd that run.sh started: drives `zentrak-host --stdio`, reads
the printed files with pdfinfo and pdftotext -bbox, and the job attributes with ipptool.

  print_test.py HOST     (environment: CUPS_SERVER, ZENTRAK_CUPS_ROOT, _PORT, _PPD)
"""
import base64
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_pdf import A4, make_pdf  # noqa: E402

HOST = sys.argv[1]
ROOT = os.environ["ZENTRAK_CUPS_ROOT"]
PORT = os.environ["ZENTRAK_CUPS_PORT"]
PPD = os.environ["ZENTRAK_CUPS_PPD"]
PROFILE = os.path.join(ROOT, "profile")
os.makedirs(PROFILE, exist_ok=True)
failures = []
checks = 0


def check(what, got, want):
    global checks
    checks += 1
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def check_near(what, got, want, tolerance=0.6):
    global checks
    checks += 1
    if got is None or abs(got - want) > tolerance:
        failures.append(f"{what}: got {got!r}, want {want!r} (within {tolerance})")


class Host:
    """One zentrak-host process: the installed list and the current printer live as long as it."""

    def __init__(self, **env):
        environment = dict(os.environ, USERPROFILE=PROFILE, **env)
        self.process = subprocess.Popen([HOST, "--stdio"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         env=environment, text=True, encoding="utf-8")
        self.last_id = 0

    def request(self, **request):
        self.last_id += 1
        request["id"] = self.last_id
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        assert answer["id"] == self.last_id, answer
        return answer

    def create(self, progid):
        return self.request(op="create", progid=progid)["object"]

    def call(self, obj, name, *args):
        return self.request(op="call", object=obj, name=name, args=list(args))

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def print_server(host, db="print"):
    ps = host.create("Zentrak.PrintServer")
    check("setDBName", host.call(ps, "setDBName", db, "")["value"], True)
    return ps


def doc(pdf):
    return base64.b64encode(pdf).decode("ascii")


def run(*command, ok=True):
    done = subprocess.run(command, capture_output=True, text=True)
    if ok and done.returncode != 0:
        raise RuntimeError(f"{command}: {done.stderr}")
    return done.stdout


def add_queue(name):
    run("lpadmin", "-p", name, "-E", "-v", f"file://{ROOT}/out/{name}.pdf", "-P", PPD)


def job_ids(queue):
    ids = re.findall(rf"^{re.escape(queue)}-(\d+) ", run("lpstat", "-W", "all", "-o", queue, ok=False), re.M)
    return sorted(int(i) for i in ids)


def wait_done(queue):
    for _ in range(150):
        if not run("lpstat", "-o", queue, ok=False).strip():
            return
        time.sleep(0.1)
    failures.append(f"{queue}: the job did not finish")


def job_attributes(queue, job_id):
    test = os.path.join(ROOT, "job.test")
    names = ["job-name", "copies", "page-ranges", "document-format-supplied", "job-state", "pdfAutoRotate",
             "position", "print-scaling"]
    with open(test, "w") as f:
        f.write("{\n OPERATION Get-Job-Attributes\n GROUP operation-attributes-tag\n"
                " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                " ATTR uri printer-uri $uri\n ATTR integer job-id $job_id\n ATTR name requesting-user-name root\n"
                " STATUS successful-ok\n" + "".join(f" DISPLAY {n}\n" for n in names) + "}\n")
    out = run("ipptool", "-t", "-d", f"job_id={job_id}", f"ipp://127.0.0.1:{PORT}/printers/{queue}", test)
    return dict(re.findall(r"^\s+(\S+) \([^)]*\) = (.*)$", out, re.M))


def printed(queue):
    """The last job's output: (page count, [(page size), ...], [(word, xMin, yMin, xMax, yMax)])."""
    path = os.path.join(ROOT, "out", queue + ".pdf")
    info = run("pdfinfo", "-f", "1", "-l", "999", path)
    pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
    sizes = [(float(w), float(h)) for w, h in re.findall(r"^Page\s+\d+ size:\s+([\d.]+) x ([\d.]+)", info, re.M)]
    words = [(m[4], float(m[0]), float(m[1]), float(m[2]), float(m[3])) for m in re.findall(
        r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">([^<]*)</word>',
        run("pdftotext", "-bbox", path, "-"))]
    return pages, sizes, words


def last_job(queue, before):
    """The one job queued since before (a list of job ids), finished; None when there is none."""
    new = [j for j in job_ids(queue) if j not in before]
    check(f"{queue}: jobs queued", len(new), 1)
    wait_done(queue)
    return new[-1] if new else None


THREE = make_pdf([(A4[0], A4[1], 0, f"Page{i}", 72, 700, 24) for i in (1, 2, 3)])
WIDE = make_pdf([(842, 595, 0, "Wide", 72, 500, 24)])
SMALL = make_pdf([(298, 420, 0, "Small", 20, 380, 20)])  # text at x 20, 40 pt below the top


def test_no_default_printer():
    host = Host()
    ps = print_server(host)
    answer = host.call(ps, "printOut", "Nobody", doc(THREE))
    check("no default: ok", answer["ok"], False)
    check("no default: message", answer.get("error", {}).get("description"),
          "There is no default printer currently selected")
    check("no default: no job", job_ids("ZentrakA") + job_ids("ZentrakB"), [])
    host.close()


def test_installed_printers():
    host = Host()
    ps = host.create("Zentrak.PrintServer")  # no database needed
    listing = ('{"size":-1,"total":2,"page":-1,"meta":["PhPrinterName"],'
               '"data":[["ZentrakA"],["ZentrakB"]]}')
    check("getPhPrinters", host.call(ps, "getPhPrinters")["value"], listing)
    add_queue("ZentrakC")
    check("getPhPrinters once per process", host.call(ps, "getPhPrinters")["value"], listing)
    later = Host()
    check("getPhPrinters in a new process", later.call(later.create("Zentrak.PrintServer"), "getPhPrinters")["value"],
          listing.replace('"total":2', '"total":3').replace(']]}', '],["ZentrakC"]]}'))
    later.close()
    run("lpadmin", "-x", "ZentrakC")
    host.close()

    gone = Host(CUPS_SERVER=os.path.join(ROOT, "missing.sock"))
    answer = gone.call(gone.create("Zentrak.PrintServer"), "getPhPrinters")
    check("no server: ok", answer["ok"], False)
    check("no server: message", answer.get("error", {}).get("description", "").startswith("Cannot list the printers: "),
          True)
    gone.close()


def test_virtual_name_and_persisted_default():
    host = Host()
    db = host.create("Zentrak.LocalDB")
    check("LocalDB setDBName", host.call(db, "setDBName", "print", "")["value"], True)
    check("map", host.call(db, "executeSql", "insert into Printers values ('Bills','ZentrakB')")["value"], True)
    ps = print_server(host)
    check("getVPrinters", host.call(ps, "getVPrinters")["value"],
          '{"size":-1,"total":1,"page":-1,"meta":["VPRINTERNAME","PHPRINTERNAME"],"data":[["Bills","ZentrakB"]]}')
    before = job_ids("ZentrakB")
    check("printOut", host.call(ps, "printOut", "Bills", doc(THREE))["value"], True)
    job = last_job("ZentrakB", before)
    pages, sizes, words = printed("ZentrakB")
    check("printOut: pages", pages, 3)
    check("printOut: text", [w[0] for w in words], ["Page1", "Page2", "Page3"])
    attributes = job_attributes("ZentrakB", job)
    for name, want in [("job-name", "Zentrak"), ("copies", "1"), ("document-format-supplied", "application/pdf"),
                       ("job-state", "completed"), ("pdfAutoRotate", "false"), ("position", "top-left")]:
        check(f"printOut: {name}", attributes.get(name), want)
    check("printOut: all pages", attributes.get("page-ranges"), None)
    host.close()

    # The selection outlives the process: lpoptions holds it, and a new process prints there.
    check("lpstat -d", run("lpstat", "-d").strip(), "system default destination: ZentrakB")
    later = Host()
    ps = print_server(later)
    before = job_ids("ZentrakB")
    check("printOut on the default", later.call(ps, "printOut", "Unknown", doc(SMALL))["value"], True)
    last_job("ZentrakB", before)
    later.close()

    # LPDEST, when set, names the default of the processes that see it, before lpoptions.
    chosen = Host(LPDEST="ZentrakA")
    ps = print_server(chosen)
    before = job_ids("ZentrakA")
    check("printOut on LPDEST", chosen.call(ps, "printOut", "Unknown", doc(SMALL))["value"], True)
    last_job("ZentrakA", before)
    chosen.close()


def test_virtual_name_in_gbk():
    """Under code page 936 a Chinese virtual name goes through the table's UTF-8 and back."""
    host = Host(ZENTRAK_CODEPAGE="936")
    db = host.create("Zentrak.LocalDB")
    check("LocalDB setDBName (936)", host.call(db, "setDBName", "print936", "")["value"], True)
    ps = print_server(host, "print936")
    check("map (936)", host.call(db, "executeSql", "insert into Printers values ('\u53d1\u7968','ZentrakA')")["value"],
          True)
    check("getVPrinters (936)", host.call(ps, "getVPrinters")["value"],
          '{"size":-1,"total":1,"page":-1,"meta":["VPRINTERNAME","PHPRINTERNAME"],'
          '"data":[["\u53d1\u7968","ZentrakA"]]}')
    before = job_ids("ZentrakA")
    check("printOut (936)", host.call(ps, "printOut", "\u53d1\u7968", doc(SMALL))["value"], True)
    last_job("ZentrakA", before)
    host.close()


def words_of(queue):
    return {w[0]: w[1:] for w in printed(queue)[2]}


def test_print_options():
    host = Host()
    ps = print_server(host)

    def job(options, pdf, want_ok=True):
        before = job_ids("ZentrakA")
        answer = host.call(ps, "printOutWithPage", "zentraka", doc(pdf), json.dumps(options))
        check(f"{options}: ok", answer["ok"], want_ok)
        if not want_ok:
            check(f"{options}: no job", job_ids("ZentrakA"), before)
            return answer["error"]["description"]
        check(f"{options}: value", answer.get("value"), {"vt": "Empty"})
        return job_attributes("ZentrakA", last_job("ZentrakA", before))

    attributes = job({"PrinterRangeMode": 1, "printerRangeFrom": 2, "printerRangeTo": 3, "numOfCopies": 2}, THREE)
    check("range: page-ranges", attributes.get("page-ranges"), "2-3")
    check("range: copies", attributes.get("copies"), "2")
    check("range: printed", [w[0] for w in printed("ZentrakA")[2]], ["Page2", "Page3"])
    job({"PrinterRangeMode": 1, "printerRangeFrom": 3, "printerRangeTo": 300}, THREE)
    check("range past the end", [w[0] for w in printed("ZentrakA")[2]], ["Page3"])
    check("range outside", job({"PrinterRangeMode": 1, "printerRangeFrom": 5, "printerRangeTo": 9}, THREE, False),
          "Cannot print: the pages 5 to 9 are not in the document, which has 3 pages")
    check("0 copies print one", job({"numOfCopies": 0}, SMALL).get("copies"), "1")

    # A landscape page on A4: turned upright unless AutoRotate is off.
    job({"AutoRotate": 1, "AutoCenter": 1}, WIDE)
    x0, y0, x1, y1 = words_of("ZentrakA")["Wide"]
    check("rotated: the text runs down the page", y1 - y0 > x1 - x0, True)
    job({"AutoRotate": 0}, WIDE)
    x0, y0, x1, y1 = words_of("ZentrakA")["Wide"]
    check("not rotated: the text runs across", x1 - x0 > y1 - y0, True)
    check_near("not rotated: at the top left", x0, 72)

    # A page smaller than A4: centred, or at the top left corner. Positions are pdftotext's,
    # from the paper's top left corner; the original text sits at x 20, top 25.64 of its page.
    job({"AutoCenter": 1}, SMALL)
    x0, y0, _, _ = words_of("ZentrakA")["Small"]
    check_near("centred: x", x0, 20 + (595 - 298) / 2)
    check_near("centred: y", y0, 25.64 + (842 - 420) / 2)
    job({"AutoCenter": 0}, SMALL)
    x0, y0, _, _ = words_of("ZentrakA")["Small"]
    check_near("top left: x", x0, 20)
    check_near("top left: y", y0, 25.64)

    # Scaling, drawn by the engine: the page and its text at half and double size.
    for percent in (50, 200):
        k = percent / 100
        attributes = job({"Scaling": percent}, SMALL)
        check(f"scaling {percent}: print-scaling", attributes.get("print-scaling"), "none")
        x0, y0, x1, _ = words_of("ZentrakA")["Small"]
        check_near(f"scaling {percent}: x", x0, 20 * k, 1)
        check_near(f"scaling {percent}: y", y0, 25.64 * k, 1.5)
        check_near(f"scaling {percent}: width", x1 - x0, 50 * k, 1.5)
    job({"Scaling": 50, "AutoCenter": 1}, SMALL)
    x0, _, _, _ = words_of("ZentrakA")["Small"]
    check_near("scaling 50, centred: x", x0, (595 - 149) / 2 + 10, 1)
    host.close()


def test_failures():
    host = Host()
    ps = print_server(host)
    check("select ZentrakA", host.call(ps, "printOut", "ZentrakA", doc(SMALL))["value"], True)
    wait_done("ZentrakA")

    # Not a PDF: the engine's error, no job and no file.
    before = job_ids("ZentrakA")
    answer = host.call(ps, "printOut", "ZentrakA", doc(b"hello, this is no PDF"))
    check("not a PDF: ok", answer["ok"], False)
    check("not a PDF: message", answer.get("error", {}).get("description", "").startswith(
        "Cannot print: the document is not a PDF document that can be read ("), True)
    check("not a PDF: no job", job_ids("ZentrakA"), before)
    check("not a PDF: no file", sorted(os.listdir(os.path.join(PROFILE, "Zentrak"))), ["print.db", "print936.db"])

    # The printer goes away after it was selected: CUPS's reason, never success.
    run("lpadmin", "-x", "ZentrakA")
    answer = host.call(ps, "printOut", "ZentrakA", doc(SMALL))
    check("gone: ok", answer["ok"], False)
    check("gone: message", answer.get("error", {}).get("description"),
          'Cannot print on "ZentrakA": The printer or class does not exist.')
    add_queue("ZentrakA")
    host.close()


for test in [test_no_default_printer, test_installed_printers, test_virtual_name_and_persisted_default,
             test_virtual_name_in_gbk, test_print_options, test_failures]:
    try:
        test()
    except Exception as error:  # a crash of one test is a failure, the others still run
        failures.append(f"{test.__name__}: {error!r}")

for failure in failures:
    print("FAIL", failure)
print(f"cups tests: {checks - len(failures)} of {checks} checks passed")
sys.exit(1 if failures else 0)
