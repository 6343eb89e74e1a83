#!/usr/bin/python3
"""The map host's web view in a real browser (headless Chromium, driven over
its DevTools protocol): what a person sees as pictures arrive, and the
exported page. Usage: web_view_test.py BUILD_DIR ARTIFACT_DIR"""
import json, os, resource, shutil, signal, subprocess, sys, tempfile, time, urllib.request

try:
    import websocket  # Debian's python3-websocket
except ImportError:
    websocket = None
SKIP = 77
build, artifacts = sys.argv[1], sys.argv[2]
browser = shutil.which('chromium')
if not browser or not websocket:
    print('SKIP: chromium or python3-websocket missing (tools/setup --test installs them)')
    sys.exit(SKIP)
work = tempfile.mkdtemp(prefix='pintrail-web-')
os.environ['REXX_PORT_DIR'] = os.path.join(work, 'ports')
HOSTILE = '<img src=x onerror=alert(1)>.jpg'


class Page:
    """One browser tab: commands, and the events that came meanwhile."""
    def __init__(self, url):
        self.socket, self.next, self.events = websocket.create_connection(url, timeout=30), 0, []

    def send(self, method, **params):
        self.next += 1
        self.socket.send(json.dumps({'id': self.next, 'method': method, 'params': params}))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get('id') == self.next:
                return reply.get('result', {})
            self.events.append(reply)

    def eval(self, expression):
        return self.send('Runtime.evaluate', expression=expression, returnByValue=True,
                         awaitPromise=True)['result'].get('value')

    def wait(self, expression, what):
        for _ in range(200):
            if self.eval(expression):
                return
            time.sleep(0.1)
        problems = [e['params'] for e in self.events
                    if e.get('method') in ('Runtime.exceptionThrown', 'Runtime.consoleAPICalled')]
        raise AssertionError('the page never showed %s: %s\n%s' % (
            what, problems, self.eval('document.body.innerHTML')))


def start_browser():
    profile = os.path.join(work, 'profile')
    process = subprocess.Popen([browser, '--headless=new', '--no-sandbox', '--disable-gpu',
                                '--remote-debugging-port=0', '--remote-allow-origins=*', '--window-size=1200,800',
                                '--user-data-dir=' + profile, 'about:blank'],
                               stdout=subprocess.DEVNULL, stderr=open(profile + '.log', 'w'))
    port_file = os.path.join(profile, 'DevToolsActivePort')
    for _ in range(1200): # a loaded machine can take long to start it
        if os.path.exists(port_file) and open(port_file).read().count('\n'):
            break
        if process.poll() is not None:
            if resource.getrlimit(resource.RLIMIT_AS)[0] != resource.RLIM_INFINITY:
                print('SKIP: chromium cannot start with an address-space limit (ulimit -v)')
                sys.exit(SKIP)
            raise AssertionError('chromium ended: ' + open(profile + '.log').read()[-2000:])
        time.sleep(0.1)
    port = open(port_file).read().split()[0]
    targets = json.load(urllib.request.urlopen('http://127.0.0.1:%s/json/list' % port))
    page = Page([t for t in targets if t['type'] == 'page'][0]['webSocketDebuggerUrl'])
    page.send('Page.enable')
    page.send('Runtime.enable')
    return process, page


def survey(folder):
    subprocess.run([build + '/pintrail', folder, 'WAYPOINT', 'PICLIST', 'ALLFORMATS'], check=True,
                   stdout=subprocess.DEVNULL)


def show_thumbnail(page):
    page.eval("[...document.querySelectorAll('#pictures button')].find(b => b.textContent == 'Paris at night.jpg').click()")
    page.wait("(i => i && i.complete && i.naturalWidth > 0)(document.querySelector('.popup img.thumb'))",
              'a thumbnail')


def counts(page):
    return page.eval("[+document.getElementById('picture-count').textContent,"
                     " +document.getElementById('waypoint-count').textContent]")


def main():
    photos, later = os.path.join(work, 'Photos'), os.path.join(work, 'Later')
    subprocess.run([build + '/pintrail-fixtures', 'demo', photos], check=True)
    os.makedirs(later)
    shutil.copy(os.path.join(photos, '2016 Trip', 'IMG_0001.jpg'), os.path.join(photos, HOSTILE))
    shutil.copy(os.path.join(photos, '2016 Trip', 'Rio', 'IMG_0002.jpg'), os.path.join(later, 'late.jpg'))
    html = os.path.join(work, 'trip.html')
    started = subprocess.run([build + '/pintrail-maphost', 'WEB', 'DETACH', 'HTML=' + html],
                             check=True, capture_output=True, text=True).stdout.split()
    host, url = int(started[0]), started[1]
    browser_process = None
    try:
        browser_process, page = start_browser()
        survey(photos) # 5 pictures with a position (one a copy), 4 distinct waypoints
        page.send('Page.navigate', url=url)
        page.wait("document.getElementById('picture-count').textContent == '5'", 'five pictures')
        assert counts(page) == [5, 4], counts(page)
        names = page.eval("[...document.querySelectorAll('#pictures button')].map(b => b.textContent)")
        assert HOSTILE in names, names # the name as text: no element made of it
        assert page.eval("document.querySelectorAll('img[src=x], #pictures img').length") == 0
        page.eval("window.stillTheSamePage = true")
        survey(later)
        page.wait("document.getElementById('picture-count').textContent == '6'", 'a sixth picture live')
        assert page.eval("window.stillTheSamePage === true"), 'the page was reloaded'
        show_thumbnail(page)
        page.eval("document.getElementById('fit').click()")
        time.sleep(0.5)
        os.makedirs(artifacts, exist_ok=True)
        shot = page.send('Page.captureScreenshot', format='png')['data']
        with open(os.path.join(artifacts, 'web-view.png'), 'wb') as out:
            import base64
            out.write(base64.b64decode(shot))
        dialogs = [e for e in page.events if e.get('method') == 'Page.javascriptDialogOpening']
        assert not dialogs, dialogs
        os.kill(host, signal.SIGTERM) # the exported page gets everything at the end
        for _ in range(100):
            if not os.path.exists(os.path.join(work, 'ports', 'VANTORA.1')):
                break
            time.sleep(0.1)
        page.send('Page.navigate', url='file://' + html)
        page.wait("document.getElementById('picture-count').textContent == '6'", 'the export')
        assert counts(page) == [6, 4], counts(page) # late.jpg's waypoint was there
        show_thumbnail(page) # embedded in the file
        print('web view: 6 pictures and 4 waypoints shown live and exported; screenshot in',
              os.path.join(artifacts, 'web-view.png'))
    finally: # whatever happened, nothing started here outlives the test
        if browser_process:
            browser_process.kill()
        try:
            os.kill(host, signal.SIGKILL)
        except ProcessLookupError:
            pass
        shutil.rmtree(work, ignore_errors=True)


main()
