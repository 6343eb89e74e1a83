#!/usr/bin/python3
"""The map host's web view in a real browser (headless Chromium, driven over
its DevTools protocol): what a person sees as pictures arrive, and the
exported page. Usage: web_view_test.py BUILD_DIR ARTIFACT_DIR"""
import base64, json, os, shutil, signal, subprocess, sys, tempfile, time

from devtools import SKIP, available, start_browser

build, artifacts = sys.argv[1], sys.argv[2]
if not available():
    print('SKIP: chromium or python3-websocket missing (tools/setup --test installs them)')
    sys.exit(SKIP)
work = tempfile.mkdtemp(prefix='pintrail-web-')
os.environ['REXX_PORT_DIR'] = os.path.join(work, 'ports')
HOSTILE = '<img src=x onerror=alert(1)>.jpg'


def survey(folder, *switches):
    subprocess.run([build + '/pintrail', folder] + list(switches or ('WAYPOINT', 'PICLIST')) + ['ALLFORMATS'],
                   check=True, stdout=subprocess.DEVNULL)


# Zoomed out, a cluster shows the thumbnail of one of its pictures.
COVERED = "!pintrail.pending() && [...document.querySelectorAll('.cover-cluster img')].some(i => i.complete && i.naturalWidth)"
COUNTS = "['picture-count', 'place-count', 'waypoint-count'].map(id => +document.getElementById(id).textContent)"


def wait_counts(page, expected):
    page.wait("%s.join() == '%s'" % (COUNTS, ','.join(map(str, expected))),
              'counts %s (not %s)' % (expected, page.eval(COUNTS)))
    page.wait('window.pintrailBuilt > 0 && !pintrail.pending()', 'the markers made')


def screenshot(page, name):
    os.makedirs(artifacts, exist_ok=True)
    with open(os.path.join(artifacts, name), 'wb') as out:
        out.write(base64.b64decode(page.send('Page.captureScreenshot', format='png')['data']))


def show(page, name):
    """Picks a picture from the list; its popup's thumbnail, once loaded: [width, height]."""
    page.eval("pintrail.pick(pintrail.rows().find(i => i >= 0 && pintrail.name(i) == %s))" % json.dumps(name))
    page.wait("(p => p && p.querySelector('.name').textContent == %s && (i => i && i.complete && i.naturalWidth > 0)"
              "(p.querySelector('img.thumb')))(document.querySelector('.popup'))" % json.dumps(name), 'a thumbnail of ' + name)
    return page.eval("(i => [i.naturalWidth, i.naturalHeight])(document.querySelector('.popup img.thumb'))")


# Land and sea both fill a good part of the outline map's canvas.
OUTLINE_DRAWN = """(() => { const c = document.querySelector('.leaflet-outline-pane canvas');
        if (!c || !c.width) return false;
        const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data; let land = 0, sea = 0;
        for (let i = 3; i < d.length; i += 4 * 7) d[i] == 255 ? land++ : d[i] == 0 && sea++;
        return land > 1000 && sea > 1000; })()"""


def drag_map(page):
    for kind, x in (('mousePressed', 700), ('mouseMoved', 650), ('mouseMoved', 600), ('mouseReleased', 600)):
        page.send('Input.dispatchMouseEvent', type=kind, x=x, y=400, button='left', clickCount=1)


AXE = os.path.join(os.environ.get('XDG_CACHE_HOME') or os.path.expanduser('~/.cache'), 'pintrail/axe-core-4.14.1/axe.min.js')


def audit(page, what):
    """axe-core's audit: no serious or critical violation; the others are printed."""
    if not os.path.exists(AXE):
        return print('no audit of', what + ': tools/setup --test fetches axe-core')
    page.send('Runtime.evaluate', expression=open(AXE).read())
    found = page.eval("axe.run(document).then(r => r.violations.map(v => [v.impact, v.id, v.nodes.length]))")
    print('audit of', what + ':', found or 'no violation')
    assert not [v for v in found if v[0] in ('serious', 'critical')], found


def narrow(page, search, bars, names, said):
    """Searches and chooses bars (None: as they are; []: all): the list, markers and trail show names, as said."""
    page.eval("(s => { s.value = %s; s.dispatchEvent(new Event('input')); })(search)" % json.dumps(search))
    page.wait("!pintrail.pending() && search.value == %s" % json.dumps(search), 'the search')
    if bars == []:
        page.eval("document.getElementById('t-all').click()")
    elif bars:
        page.eval("(a => { a[0].value = %d; a[1].value = %d; a[0].dispatchEvent(new Event('change')); })"
                  "([document.getElementById('t-from'), document.getElementById('t-to')])" % tuple(bars))
    listed = "pintrail.rows().map(pintrail.name).sort().join()"
    page.wait("!pintrail.pending() && %s == %s && document.getElementById('narrowed').textContent == %s" %
              (listed, json.dumps(names), json.dumps(said)), '%s (not %s)' % ([names, said], page.eval("[%s, narrowed.textContent]" % listed)))
    count = names.count(',') + 1
    page.wait("grid.hidden || document.getElementById('grid-title').textContent.startsWith('%d picture')" % count, 'the grid narrowed')
    page.wait("!pintrail.pending() && pintrail.shown() == %d" % (count + (0 if said else 1)), 'the markers of ' + names)
    assert sorted(page.eval("pintrail.trail().map(pintrail.name)")) == names.split(','), names


def press(page, *keys):
    for key in keys: # Enter as typed, so that it clicks the button it is on
        typed = {'text': '\r'} if key == 'Enter' else {}
        for kind in ('keyDown' if typed else 'rawKeyDown', 'keyUp'):
            page.send('Input.dispatchKeyEvent', type=kind, key=key, code=key, windowsVirtualKeyCode={'Tab': 9, 'Enter': 13, 'Escape': 27, 'ArrowRight': 39}[key], **typed)


def main():
    photos, formats = os.path.join(work, 'Photos'), os.path.join(work, 'Formats')
    subprocess.run([build + '/pintrail-fixtures', 'demo', photos], check=True)
    subprocess.run([build + '/pintrail-fixtures', 'formats', formats], check=True)
    shutil.copy(os.path.join(photos, '2016 Trip', 'IMG_0001.jpg'), os.path.join(photos, HOSTILE))
    html = os.path.join(work, 'trip.html')
    started = subprocess.run([build + '/pintrail-maphost', 'WEB', 'DETACH', 'HTML=' + html],
                             check=True, capture_output=True, text=True).stdout.split()
    host, url = int(started[0]), started[1]
    browser_process = None
    try:
        browser_process, page = start_browser(os.path.join(work, 'profile'))
        survey(photos) # 5 pictures with a position (one a copy) at 4 places, each with its waypoint
        page.send('Page.navigate', url=url)
        wait_counts(page, [5, 4, 0])
        assert page.eval("pintrail.shown()") == 5 # markers: pictures, waypoints on their own
        names = page.eval("pintrail.rows().filter(i => i >= 0).map(pintrail.name)")
        assert HOSTILE in names, names # the name as text: no element made of it
        assert page.eval("document.querySelectorAll('img[src=x], #list img').length") == 0
        # Offline, the outline map stands in for the tiles, and says so.
        page.wait("document.getElementById('note').textContent == 'offline: outline map'", 'the offline note')
        page.wait(OUTLINE_DRAWN, 'land and sea in the outline map')
        screenshot(page, 'web-offline-outline.png')

        # A survey far away comes into view; once the user moved the map, none moves it.
        page.eval("window.stillTheSamePage = true")
        survey(os.path.join(formats, 'far'))
        wait_counts(page, [6, 5, 0])
        assert page.eval("pintrail.map.getBounds().contains([-60, 13.41])"), 'the map did not follow'
        screenshot(page, 'web-followed.png')
        page.eval("pintrail.map.options.inertia = false") # the drag ends where it is let go
        drag_map(page)
        center = page.eval("(c => [c.lat, c.lng])(pintrail.map.getCenter())")
        assert page.eval("!pintrail.following()"), 'a drag did not stop the following'
        survey(formats, 'WAYPOINT') # 8 waypoints, one already kept, 7 waiting for their pictures
        wait_counts(page, [6, 5, 7])
        os.rename(os.path.join(formats, 'alone.jpg'), os.path.join(work, 'alone.jpg'))
        survey(formats, 'PICLIST')
        wait_counts(page, [12, 11, 1]) # one marker a picture; alone.jpg's waypoint stays one
        moved = page.eval("(c => [c.lat, c.lng])(pintrail.map.getCenter())")
        assert max(abs(moved[0] - center[0]), abs(moved[1] - center[1])) < 0.1, (center, moved)
        assert page.eval("window.stillTheSamePage === true"), 'the page was reloaded'
        page.eval("document.getElementById('fit').click()")
        page.wait('!pintrail.pending() && pintrail.shown() == 13', 'every marker in view')
        page.eval("pintrail.map.setZoom(1, {animate: false}), 0")
        page.wait(COVERED, 'a thumbnail on a cluster')
        page.eval("window.built = window.pintrailBuilt; pintrail.map.setView([-60, 373.41], 8, {animate: false}), 0")
        page.wait('window.pintrailBuilt > window.built && !pintrail.pending() && pintrail.shown() == 1',
                  'south.jpg in the next copy of the world, east of the antimeridian')

        # A thumbnail for each format; the JPEG turned a quarter is upright.
        sizes = {name: show(page, name) for name in
                 ('turned.jpg', 'phone.heic', 'screen.png', 'web.webp', 'scan.tif', 'camera.raf', 'Paris at night.jpg')}
        assert sizes['turned.jpg'][1] > sizes['turned.jpg'][0], sizes
        page.wait("/Paris, France/.test(document.querySelector('.popup').textContent)", 'the town and country')
        page.eval("pintrail.pick(pintrail.rows().find(i => i >= 0 && pintrail.name(i) == 'turned.jpg'))")
        page.wait("/Altitude 245.0 m/.test(document.querySelector('.popup').textContent)", 'the altitude')
        screenshot(page, 'web-thumbnail-turned.png')

        # Keyboard only: Tab runs on past the rows made, Enter picks a row, shown chosen, and opens a marker.
        page.eval("(l => { l.style.flex = 'none'; l.style.height = '22px'; l.querySelector('.entry').focus(); })(list)")
        press(page, *['Tab'] * 11, 'Enter')
        page.wait("document.activeElement.dataset.r == '11' && document.querySelector('.chosen').dataset.r == '11' && "
                  "!pintrail.pending() && (pintrail.map.closePopup(), document.querySelector('.leaflet-marker-icon.pin')) && true", 'row 12 picked')
        page.eval("list.style = ''; document.querySelector('.leaflet-marker-icon.pin').focus()")
        press(page, 'Enter')
        page.wait("!!document.activeElement.closest('.popup')", 'a marker opened from the keyboard')
        # A phone: the map takes the width; the list slides over it, and away once a row is picked.
        page.send('Emulation.setDeviceMetricsOverride', width=390, height=844, deviceScaleFactor=1, mobile=True)
        page.wait("document.getElementById('map').offsetWidth == 390 && !panel.offsetWidth", 'the map alone')
        page.eval("document.getElementById('panel-toggle').click(), 0")
        screenshot(page, 'web-phone-list.png')
        page.eval("document.querySelector('#list .entry').click()")
        page.wait("!panel.offsetWidth && (r => r.left >= 0 && r.right <= 390)(document.querySelector"
                  "('.leaflet-popup').getBoundingClientRect())", 'the popup within the phone')
        screenshot(page, 'web-phone-popup.png')
        page.send('Emulation.clearDeviceMetricsOverride')
        # The view's pictures as a grid in time order; the viewer goes on with the arrows, Esc back to the grid.
        page.eval("document.getElementById('fit').click(); document.getElementById('in-view').click()")
        page.wait("/^12 pictures, /.test(document.getElementById('grid-title').textContent) && "
                  "document.querySelectorAll('#grid-space .cell').length == 12", 'the grid of the view')
        page.eval("document.querySelector('#grid-space .cell').click()")
        press(page, 'ArrowRight', 'ArrowRight')
        page.wait("/^IMG_0002.jpg \u00b7 /.test(document.getElementById('viewer-caption').textContent) && "
                  "(i => i.complete && i.naturalWidth > 0)(document.getElementById('viewer-image'))", 'the third picture, whole')
        press(page, 'Escape')
        page.wait("viewer.hidden && document.activeElement.dataset.r == '2'", 'the grid again')
        page.eval("document.getElementById('trips').open = true") # named by the country their middle is in
        page.wait("/Germany \u00b7 2 pictures/.test(document.getElementById('trip-list').textContent)", 'the trips')
        audit(page, 'the live page, its grid and trips open')

        # The trail joins pictures in time order; the search finds a picture by its folder, on the map too.
        page.eval("document.getElementById('fit').click()")
        page.wait('!pintrail.pending() && pintrail.trail().length == 12', 'the trail of all, once the map is fitted')
        trail = page.eval("pintrail.trail().map(pintrail.name)")
        assert sorted(trail[:2]) == sorted(['IMG_0001.jpg', HOSTILE]), trail # copies: one capture time
        assert trail[2:] == ['IMG_0002.jpg', 'Paris at night.jpg', 'IMG_0005.HEIC', 'turned.jpg', 'phone.heic',
                             'screen.png', 'web.webp', 'scan.tif', 'south.jpg', 'camera.raf'], trail
        narrow(page, 'LIEBENWERDA', None, ','.join(sorted(['IMG_0001.jpg', HOSTILE])), 'Showing 2 pictures “LIEBENWERDA”')
        page.eval("(o => { o.value = 'town'; o.dispatchEvent(new Event('change')); })(order)") # grouped by town
        page.wait("[...document.querySelectorAll('#list .entry')].map(e => e.textContent).join().startsWith("
                  "'Bad Liebenwerda, Germany \u203a ') && document.querySelectorAll('#list .town').length == 1", 'the towns group')
        page.eval("(o => { o.value = 'time'; o.dispatchEvent(new Event('change')); })(order)")
        narrow(page, 'far/', None, 'south.jpg', 'Showing 1 picture “far/”')
        screenshot(page, 'web-search.png')
        page.send('Page.reload') # the address keeps the view, the search too
        page.wait("search.value == 'far/' && pintrail.rows().map(pintrail.name).join() == 'south.jpg'", 'the view reloaded')
        # The timeline's first month narrows the markers, the list, the trail and the counts; so does a trip.
        july = ','.join(sorted(trail[:5]))
        narrow(page, '', [0, 0], july, 'Showing 5 pictures taken Jul 2016')
        assert page.eval("document.querySelectorAll('#bars .bar').length") == 5 # the month chosen, day by day
        page.send('Page.reload')
        narrow(page, '', None, july, 'Showing 5 pictures taken Jul 2016')
        screenshot(page, 'web-timeline.png')

        dialogs = [e for e in page.events if e.get('method') == 'Page.javascriptDialogOpening']
        assert not dialogs, dialogs
        os.kill(host, signal.SIGTERM) # the exported page gets everything at the end
        page.wait("/has stopped/.test(document.getElementById('note').textContent)", 'the stopped host said')
        for _ in range(100):
            if not os.path.exists(os.path.join(work, 'ports', 'VANTORA.1')):
                break
            time.sleep(0.1)
        page.send('Page.navigate', url='file://' + html)
        wait_counts(page, [12, 11, 1])
        page.wait(OUTLINE_DRAWN, 'the outline map in the export')
        page.eval("pintrail.map.setView([48.5, 8], 6, {animate: false}), 0") # the larger towns named offline
        page.wait("[...document.querySelectorAll('.town-label')].map(t => t.textContent).includes('Paris')", 'the towns')
        show(page, 'Paris at night.jpg') # embedded in the file, and where it was taken
        page.wait("/Paris, France/.test(document.querySelector('.popup').textContent)", 'the town in the export')
        show(page, 'turned.jpg') # with its altitude, and a link to the picture beside the page
        page.wait("/Altitude 245.0 m/.test(document.querySelector('.popup').textContent) && "
                  "/^file:.*turned.jpg$/.test(document.querySelector('.popup a.open').href)", 'the altitude in the export')
        page.eval("document.getElementById('fit').click()") # the export shows what the live page did
        page.wait('!pintrail.pending() && pintrail.shown() == 13', 'every marker in the export')
        page.eval("pintrail.map.setZoom(1, {animate: false}), 0")
        page.wait(COVERED, 'a thumbnail on a cluster of the export')
        page.eval("document.getElementById('fit').click()")
        assert page.eval("pintrail.trail().map(pintrail.name)") == trail
        narrow(page, 'AT NIGHT', [0, 0], 'Paris at night.jpg', 'Showing 1 picture taken Jul 6, 2016, “AT NIGHT”')
        narrow(page, 'janeiro', [], 'IMG_0002.jpg', 'Showing 1 picture “janeiro”')
        narrow(page, '', [], ','.join(sorted(trail)), '')
        screenshot(page, 'web-export.png')
        audit(page, 'the exported page')
        print('web view: 12 pictures and a lone waypoint shown live and exported; screenshots in', artifacts)
    finally: # whatever happened, nothing started here outlives the test
        if browser_process:
            browser_process.kill()
        try:
            os.kill(host, signal.SIGKILL)
        except ProcessLookupError:
            pass
        shutil.rmtree(work, ignore_errors=True)


main()
