"""Headless Chromium driven over its DevTools protocol, for the web view's
browser test and its benchmark."""
import json, os, resource, shutil, subprocess, sys, time, urllib.request

try:
    import websocket  # Debian's python3-websocket
except ImportError:
    websocket = None
SKIP = 77


def available():
    return shutil.which('chromium') and websocket


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

    def wait(self, expression, what, tries=200):
        for _ in range(tries):
            if self.eval(expression):
                return
            time.sleep(0.1)
        problems = [e['params'] for e in self.events
                    if e.get('method') in ('Runtime.exceptionThrown', 'Runtime.consoleAPICalled')]
        raise AssertionError('the page never showed %s: %s\n%s' % (
            what, problems, self.eval('document.body.innerHTML')[:3000]))


def start_browser(profile):
    """Headless Chromium with its profile in the folder profile: its process, and its tab."""
    process = subprocess.Popen([shutil.which('chromium'), '--headless=new', '--no-sandbox', '--disable-gpu',
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
