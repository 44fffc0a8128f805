#!/usr/bin/env python3
"""Opens calibration pages in headless Chromium and checks them as a reader's browser lays them out.

usage: browser_check.py OUTDIR PAGE.html...

For every page: it loads without script errors (the page itself has no script; a measuring script is
added to a copy only), every plot's SVG is laid out with a non-zero size, every table with a data-rows
count holds that many body rows, the end-of-report mark is there, and a record page holds one table row per
point of its JSON record. Each page is printed to PDF on A4 and on Letter, and a screenshot is kept in
OUTDIR for a person to look at. Exit status 1 when any check fails.
"""
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
# Quiet, local-only browser: no background traffic of its own, a throw-away profile.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-default-apps", "--disable-extensions", "--mute-audio", "--no-pings"]

MEASURE = """<script>
window.__errors = [];
window.addEventListener('error', function (e) { window.__errors.push(String(e.message)); });
window.addEventListener('load', function () {
  var out = {errors: window.__errors, svgs: [], tables: [], end: !!document.querySelector('p.end')};
  document.querySelectorAll('svg.plot, svg.trend').forEach(function (s) {
    var r = s.getBoundingClientRect(); out.svgs.push([s.getAttribute('class'), r.width, r.height]);
  });
  document.querySelectorAll('table[data-rows]').forEach(function (t) {
    out.tables.push([t.getAttribute('class'), Number(t.getAttribute('data-rows')),
                     t.querySelectorAll('tbody > tr').length, t.getBoundingClientRect().height]);
  });
  var pre = document.createElement('pre'); pre.id = 'trimora-check';
  pre.textContent = JSON.stringify(out); document.body.appendChild(pre);
});
</script>"""


def chromium(args, profile, timeout=90):
    cmd = [CHROMIUM] + FLAGS + ["--user-data-dir=" + profile] + args
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout, text=True)


def with_extra(page, extra, where):
    text = open(page, encoding="utf-8").read()
    return text.replace(where, extra + where, 1)


def record_points(page):
    """Points of the record beside a record page, or None for pages without a JSON."""
    path = page[:-5] + ".json"
    if not os.path.exists(path):
        return None
    record = json.load(open(path, encoding="utf-8"))
    n = 0
    for step in record.get("steps", []):
        n += len(step.get("points", []))
        for phase in step.get("phases", []):
            n += len(phase.get("points", []))
    return n


def check(page, outdir, profile):
    name = os.path.basename(page)[:-5]
    problems = []
    folder = os.path.dirname(os.path.abspath(page))
    # the copies stay in the page's folder so that relative links behave as in the original
    probe = os.path.join(folder, ".check_" + name + ".html")
    try:
        with open(probe, "w", encoding="utf-8") as f:
            f.write(with_extra(page, MEASURE, "</head>"))
        dom = chromium(["--virtual-time-budget=3000", "--dump-dom", "file://" + probe], profile).stdout
    finally:
        os.remove(probe)
    m = re.search(r'<pre id="trimora-check">(.*?)</pre>', dom, re.S)
    if not m:
        return [name + ": the page did not load"]
    result = json.loads(html.unescape(m.group(1)))
    if result["errors"]:
        problems.append("script errors: %s" % result["errors"])
    if not result["end"]:
        problems.append("no end-of-report mark")
    for cls, w, h in result["svgs"]:
        if w <= 0 or h <= 0:
            problems.append("%s laid out at %sx%s" % (cls, w, h))
    for cls, want, got, height in result["tables"]:
        if want != got:
            problems.append("table %s holds %d rows, not %d" % (cls, got, want))
        if want and height <= 0:
            problems.append("table %s has no height" % cls)
    points = record_points(page)
    if points is not None:
        shown = sum(got for cls, _, got, _ in result["tables"] if "assessment" in cls or "calibration" in cls)
        if shown != points:
            problems.append("%d point rows for the record's %d points" % (shown, points))
        if any(s.get("kind") == "assessment" for s in json.load(open(page[:-5] + ".json")).get("steps", [])) \
                and not result["svgs"]:
            problems.append("no plot")
    chromium(["--window-size=1000,1600", "--screenshot=" + os.path.join(outdir, name + ".png"), "file://" + page],
             profile)
    chromium(["--window-size=390,1600", "--screenshot=" + os.path.join(outdir, name + "_phone.png"),
              "file://" + page], profile)
    for paper in ("A4", "Letter"):
        copy = os.path.join(folder, ".print_" + name + ".html")
        pdf = os.path.join(outdir, "%s_%s.pdf" % (name, paper))
        try:
            with open(copy, "w", encoding="utf-8") as f:
                f.write(with_extra(page, "<style>@page{size:%s}</style>" % paper, "</head>"))
            chromium(["--no-pdf-header-footer", "--print-to-pdf=" + pdf, "file://" + copy], profile)
        finally:
            os.remove(copy)
        if not os.path.exists(pdf) or open(pdf, "rb").read(5) != b"%PDF-" or os.path.getsize(pdf) < 1000:
            problems.append("no PDF on " + paper)
    if not os.path.exists(os.path.join(outdir, name + ".png")):
        problems.append("no screenshot")
    summary = "%d plots, %d tables" % (len(result["svgs"]), len(result["tables"]))
    print("%-60s %s" % (name, "ok (" + summary + ")" if not problems else "FAILED"))
    return [name + ": " + p for p in problems]


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    if not CHROMIUM:
        print("browser_check: chromium is not installed", file=sys.stderr)
        return 2
    outdir = os.path.abspath(sys.argv[1])
    os.makedirs(outdir, exist_ok=True)
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        profile = os.path.join(tmp, "profile")
        for page in sys.argv[2:]:
            try:
                problems += check(os.path.abspath(page), outdir, profile)
            except subprocess.TimeoutExpired:
                problems.append(page + ": chromium did not finish")
    for p in problems:
        print("FAILED: " + p)
    print("Screenshots and PDFs in " + outdir)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
