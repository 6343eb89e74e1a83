#!/usr/bin/python3
"""The live map page with a large library: a map host continuing a GPX file
of N positions (pictures and the waypoints of their capture times, in
folders of 500 around 40 cities), the page opened in headless Chromium.
Prints the seconds until its counts and clusters show every position, the
slowest and median frame of eight pans and eight zooms, and the JS heap.
With "export", the page the host exports, opened from its file: the
seconds until it shows them, its size and its JS heap.
Usage: page_load.py BUILD_DIR N [export]"""
import datetime, os, random, shutil, signal, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
from devtools import available, start_browser

# Eight pans and eight zooms: the frame each takes, and the time until the
# markers of the new view are drawn (the host asked, when it is live).
FRAMES = """(async () => {
  const frame = () => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));
  const map = pintrail.map, times = [], drawn = [];
  for (let k = 0; k < 16; k++) {
    const start = performance.now(), built = window.pintrailBuilt;
    if (k < 8) map.panBy([k % 2 ? 300 : -200, k % 3 ? 150 : -100], {animate: false});
    else map.setZoom(map.getZoom() + (k % 2 ? -1 : 2), {animate: false});
    await frame();
    times.push(performance.now() - start);
    while (window.pintrailBuilt == built && performance.now() - start < 10000) await frame();
    drawn.push(performance.now() - start);
  }
  times.sort((a, b) => a - b);
  drawn.sort((a, b) => a - b);
  return [times[times.length - 1], times[8], drawn[drawn.length - 1]];
})()"""
# Bytes the page downloaded: itself and everything it fetched.
BYTES = """performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))
  .reduce((sum, e) => sum + (e.transferSize || e.encodedBodySize || 0), 0)"""


def write_gpx(path, positions):
    rng = random.Random(7)
    cities = [(rng.uniform(-50, 60), rng.uniform(-170, 170)) for _ in range(40)]
    when = datetime.datetime(2010, 1, 1)
    with open(path, 'w') as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<gpx version="1.1" creator="bench" '
                  'xmlns="http://www.topografix.com/GPX/1/1">\n')
        for k in range(positions // 2):
            lat, lon = cities[(k // 2000) % len(cities)]
            lat, lon = lat + rng.gauss(0, 0.05), lon + rng.gauss(0, 0.05)
            when += datetime.timedelta(seconds=rng.randint(1, 600))
            folder = 'file:///photos/%d/trip-%d' % (when.year, k // 500)
            out.write('<wpt lat="%.7f" lon="%.7f"><name>%s</name></wpt>\n'
                      '<wpt lat="%.7f" lon="%.7f"><name>IMG_%06d.jpg</name><link href="%s/IMG_%06d.jpg"/></wpt>\n'
                      % (lat, lon, when.strftime('%Y:%m:%d %H:%M:%S'), lat, lon, k, folder, k))
        out.write('</gpx>\n')


# The timeline's first bar (a year of a large library), its first part (a
# month), then a search on top and everything again: each until the map,
# list and counts show it.
NARROWINGS = [('a year', "(a => { a[0].value = 0; a[1].value = 0; a[0].dispatchEvent(new Event('change')); })"
                         "([document.getElementById('t-from'), document.getElementById('t-to')])"),
              ('a month of it', "(a => { a[0].value = 0; a[1].value = 0; a[0].dispatchEvent(new Event('change')); })"
                                "([document.getElementById('t-from'), document.getElementById('t-to')])"),
              ('a search', "(s => { s.value = 'trip-1'; s.dispatchEvent(new Event('input')); })(search)"),
              ('all again', "document.getElementById('t-all').click(); (s => { s.value = ''; "
                            "s.dispatchEvent(new Event('input')); })(search)")]


def narrowing(page):
    page.eval("pintrail.map.setZoom(1), 0")
    page.wait("!pintrail.pending() && document.querySelectorAll('#bars .bar').length > 0", 'the timeline', tries=600)
    for what, js in NARROWINGS:
        start = time.monotonic()
        page.eval(js + ", 0") # each asks the host (or sets a timer) at once: pending until shown
        page.wait("!pintrail.pending()", what, tries=1200)
        yield what, time.monotonic() - start


def exported_page(build, work, gpx):
    """The host's exported page of the library, written and the host gone."""
    html = os.path.join(work, 'library.html')
    host = int(subprocess.run([build + '/pintrail-maphost', 'DETACH', 'QUIET', 'GPX=' + gpx, 'HTML=' + html],
                              check=True, capture_output=True, text=True).stdout.split()[0])
    while not os.path.exists(html):
        time.sleep(0.2)
    os.kill(host, signal.SIGTERM)  # the page is written again as it stops
    while os.path.exists('/proc/%d' % host) and open('/proc/%d/stat' % host).read().split()[2] != 'Z':
        time.sleep(0.2)
    return html


def main():
    build, positions = sys.argv[1], int(sys.argv[2])
    export = sys.argv[3:] == ['export']
    if not available():
        print('page: chromium or python3-websocket missing')
        return
    work = tempfile.mkdtemp(prefix='pintrail-page-')
    os.environ['REXX_PORT_DIR'] = os.path.join(work, 'ports')
    gpx = os.path.join(work, 'library.gpx')
    write_gpx(gpx, positions)
    host = browser = None
    try:
        if export:
            url = 'file://' + exported_page(build, work, gpx)
        else:
            started = subprocess.run([build + '/pintrail-maphost', 'WEB', 'DETACH', 'QUIET', 'GPX=' + gpx],
                                     check=True, capture_output=True, text=True).stdout.split()
            host, url = int(started[0]), started[1]
        browser, page = start_browser(os.path.join(work, 'profile'))
        start = time.monotonic()
        page.send('Page.navigate', url=url)
        page.wait("+document.getElementById('picture-count').textContent == %d && window.pintrailBuilt > 0 "
                  "&& !pintrail.pending() && pintrail.shown() == %d" % (positions // 2, positions // 2),
                  'every position', tries=1200)
        shown = time.monotonic() - start
        downloaded = os.path.getsize(url[7:]) if export else page.eval(BYTES)
        slowest, median, drawn = page.eval(FRAMES)
        page.send('HeapProfiler.collectGarbage')  # what the page holds, not what it has yet to collect
        heap = page.send('Runtime.getHeapUsage')['usedSize']
        print('  %9d positions%s: counts and clusters in %5.2f s, %5.1f MB downloaded; frames of pans and zooms: '
              'slowest %5.1f ms, median %5.1f ms, markers redrawn within %5.1f ms; JS heap %4.0f MB'
              % (positions, ', exported' if export else '', shown, downloaded / 1e6, slowest, median, drawn, heap / 1e6))
        print('  %9d positions%s, the timeline in use: %s' % (positions, ', exported' if export else '',
                                                             ', '.join('%s %.2f s' % step for step in narrowing(page))))
    finally:
        if browser:
            browser.kill()
        if host:
            os.kill(host, signal.SIGKILL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
