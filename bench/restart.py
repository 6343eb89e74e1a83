#!/usr/bin/python3
"""The map host restarted on its store: for each N, a GPX file of N
positions (page_load.py's library) read in once, then the host started
again on it RUNS times. Prints the seconds until the host serves and its
peak memory, the first time and again (the median of the restarts, as it
starts serving), and
the seconds the web view takes to answer the clusters of the whole world
and a page of the list searched.
Usage: restart.py BUILD_DIR N..."""
import os, shutil, statistics, subprocess, sys, tempfile, time, urllib.request

from page_load import write_gpx


def start(build, gpx, ports):
    """Seconds until a detached host serves, and its process id."""
    begun = time.monotonic()
    out = subprocess.run([build + '/pintrail-maphost', 'DETACH', 'QUIET', 'WEB', 'GPX=' + gpx],
                         env=dict(os.environ, REXX_PORT_DIR=ports), check=True,
                         capture_output=True, text=True).stdout.split()
    return time.monotonic() - begun, int(out[0]), out[1]


def asked(url, question):
    """Seconds the web view took to answer."""
    begun = time.monotonic()
    urllib.request.urlopen(url.replace('/?', '/' + question + '&')).read()
    return time.monotonic() - begun


def peak(pid):
    """The host's peak memory so far, in MiB."""
    with open('/proc/%d/status' % pid) as status:
        return next(int(l.split()[1]) for l in status if l.startswith('VmHWM')) / 1024


def stop(pid):
    """Ends the host; its peak memory in MiB."""
    most = peak(pid)
    os.kill(pid, 15)
    while True:  # a detached host's zombie is never reaped here: watch for its state
        try:
            with open('/proc/%d/stat' % pid) as stat:
                if stat.read().split(')')[-1].split()[0] in 'ZX':
                    break
        except FileNotFoundError:
            break
        time.sleep(0.01)
    return most


def main():
    build, sizes = sys.argv[1], [int(n) for n in sys.argv[2:]]
    runs = int(os.environ.get('RUNS', '5'))
    work = tempfile.mkdtemp(prefix='pintrail-restart-')
    try:
        for n in sizes:
            gpx = os.path.join(work, 'library-%d.gpx' % n)
            write_gpx(gpx, n)
            first, pid, _ = start(build, gpx, os.path.join(work, 'ports'))
            first_peak = stop(pid)
            times, peaks, world, search = [], [], [], []
            for _ in range(runs):
                took, pid, url = start(build, gpx, os.path.join(work, 'ports'))
                times.append(took)
                peaks.append(peak(pid))
                world.append(asked(url, 'clusters?z=2&b=-180,-85,180,85'))
                search.append(asked(url, 'list?o=name&q=trip-7&from=1000&n=200'))
                stop(pid)
            print('  %9d positions: read in %6.2f s, %6.1f MiB; restarted %6.3f s, %6.1f MiB; store %.0f MB;'
                  ' world clusters %.3f s, list searched %.3f s'
                  % (n, first, first_peak, statistics.median(times), statistics.median(peaks),
                     os.path.getsize(gpx + '.db') / 1e6, statistics.median(world), statistics.median(search)))
    finally:
        shutil.rmtree(work)


main()
