// The map page: one marker per picture (the waypoint of its capture time
// folded in), lone waypoints, clusters from a spatial index, the trail in
// capture-time order, the pictures listed by folder with a search, live
// updates from the host or the positions embedded in an exported page, and
// an outline map of the world under the tiles, drawn alone without them.
// Every name and path is set as text, never as markup.
(function () {
  'use strict';
  function block(id) { return JSON.parse(document.getElementById(id).textContent); }
  var config = block('config');
  // The live page's requests carry the token of its address: no cookie does.
  var token = '?token=' + encodeURIComponent(new URLSearchParams(location.search).get('token') || '');
  var map = L.map('map', {zoomSnap: 1}).setView([20, 0], 2);
  var canvas = L.canvas({padding: 0.2});
  // Clusters part up to CLUSTER_ZOOM; past it a cluster lists its pictures.
  var MAX_ZOOM = 17, CLUSTER_ZOOM = 14, ROW = 22, DAY = 864e5, FAR_KM = 500;
  var TRAIL_BY_DEFAULT = 50000; // pictures: a larger library's trail is shown on request

  function element(tag, text, className) {
    var node = document.createElement(tag);
    node.textContent = text;
    if (className) node.className = className;
    return node;
  }

  // ---- the base map -------------------------------------------------------
  function note(text) {
    var box = document.getElementById('note');
    box.textContent = text;
    box.hidden = !text;
  }

  // TopoJSON's shared arcs, delta-coded on a grid, as Leaflet polygons.
  function outline(topology) {
    var t = topology.transform;
    var arcs = topology.arcs.map(function (arc) {
      var x = 0, y = 0;
      return arc.map(function (p) {
        x += p[0]; y += p[1];
        return [y * t.scale[1] + t.translate[1], x * t.scale[0] + t.translate[0]];
      });
    });
    // A ring that crosses the antimeridian goes on past it rather than
    // drawing a line across the world.
    function ring(indices) {
      var points = [], shift = 0;
      indices.forEach(function (i) {
        var arc = i < 0 ? arcs[~i].slice().reverse() : arcs[i];
        for (var k = points.length ? 1 : 0; k < arc.length; k++) {
          var last = points[points.length - 1], lng = arc[k][1] + shift;
          if (last && Math.abs(lng - last[1]) > 180) {
            shift += last[1] > lng ? 360 : -360;
            lng = arc[k][1] + shift;
          }
          points.push([arc[k][0], lng]);
        }
      });
      return points;
    }
    map.createPane('outline').style.zIndex = 150; // under the tiles
    var style = {pane: 'outline', renderer: L.canvas({pane: 'outline'}), interactive: false,
                 color: '#8c8273', weight: 0.7, fillColor: '#f4f0e6', fillOpacity: 1,
                 attribution: 'Outline: <a href="https://www.naturalearthdata.com/">Natural Earth</a>'};
    topology.objects.countries.geometries.forEach(function (g) {
      var polygons = g.type === 'Polygon' ? [g.arcs] : g.type === 'MultiPolygon' ? g.arcs : [];
      if (polygons.length) L.polygon(polygons.map(function (rings) { return rings.map(ring); }), style).addTo(map);
    });
  }

  function basemap() {
    if (config.live) {
      fetch('assets/countries-50m.json' + token).then(function (r) { return r.json(); }).then(outline);
    } else {
      outline(block('world'));
    }
    if (config.tiles === 'none') return;
    var tiles = L.tileLayer(config.tiles, {attribution: config.attribution, maxZoom: 19});
    tiles.on('tileerror', function () { note('offline: outline map'); });
    tiles.addTo(map);
  }

  // ---- the positions ------------------------------------------------------
  // Columns by position number; a picture's partner is its waypoint, a
  // waypoint's its picture (-1: none).
  var lat = [], lon = [], kind = [], name = [], folder = [], partner = [];
  var folders = [], members = []; // folder names, and the pictures in each
  var thumbs = config.live ? null : block('thumbnails');
  var unpaired = new Map(); // place -> positions waiting for their partner
  var places = new Set();
  var counts = {pictures: 0, waypoints: 0};
  var bounds = null, expected = 0, received = 0; // the snapshot's size, and what came

  // A place as one number: its position to a metre or so, exact in a double.
  function place(i) { return Math.round((lat[i] + 90) * 1e5) * 36000001 + Math.round((lon[i] + 180) * 1e5); }

  // The waypoint pintrail sends of a picture's capture time and the picture
  // share their place; they pair in the order they came.
  function pair(i) {
    var key = place(i), waiting = unpaired.get(key);
    if (waiting && kind[waiting[0]] !== kind[i] && lat[waiting[0]] === lat[i] && lon[waiting[0]] === lon[i]) {
      var other = waiting.shift();
      if (!waiting.length) unpaired.delete(key);
      partner[i] = other;
      partner[other] = i;
      counts.waypoints--; // the waypoint is no longer alone
      return;
    }
    if (waiting) waiting.push(i);
    else unpaired.set(key, [i]);
    if (unpaired.size > 10000) unpaired.delete(unpaired.keys().next().value); // long unpaired: alone
  }

  function add(p) {
    var i = p[0], moved = kind[i] !== undefined;
    lat[i] = p[2]; lon[i] = p[3];
    if (!moved) {
      kind[i] = p[1]; name[i] = p[4]; partner[i] = -1;
      folder[i] = p[1] ? p[5] : -1;
      if (p[1]) { counts.pictures++; members[p[5]].push(i); } else counts.waypoints++;
      pair(i);
    }
    if (kind[i]) places.add(place(i));
    if (!bounds) bounds = [p[2], p[3], p[2], p[3]];
    bounds[0] = Math.min(bounds[0], p[2]); bounds[1] = Math.min(bounds[1], p[3]);
    bounds[2] = Math.max(bounds[2], p[2]); bounds[3] = Math.max(bounds[3], p[3]);
  }

  function receive(batch) {
    if (batch.n !== undefined) expected = batch.n;
    received += batch.p.length;
    batch.f.forEach(function (f) { folders.push(f); members.push([]); });
    batch.p.forEach(add);
    document.getElementById('picture-count').textContent = counts.pictures;
    document.getElementById('place-count').textContent = places.size;
    document.getElementById('waypoint-count').textContent = counts.waypoints;
    schedule(batch.p.length);
    if (following && batch.p.length && received >= expected) follow();
  }

  // ---- following the positions -------------------------------------------
  var following = true, fitting = false, fitted = '';
  // Fits the map to the positions; nothing to do when they have not spread
  // since (every move redraws the outline map).
  function follow() {
    if (!bounds || bounds.join() === fitted) return;
    fitted = bounds.join();
    fitting = true;
    map.fitBounds(L.latLngBounds([bounds[0], bounds[1]], [bounds[2], bounds[3]]).pad(0.1),
                  {maxZoom: 15, animate: false});
    fitting = false;
  }
  map.on('dragstart', function () { following = false; });
  map.on('zoomstart', function () { if (!fitting) following = false; });
  document.getElementById('fit').addEventListener('click', function () {
    following = true;
    fitted = '';
    follow();
  });

  // ---- markers and clusters ----------------------------------------------
  var index = null, markers = L.layerGroup().addTo(map), shared = L.popup({maxWidth: 320});
  var icons = {
    p: L.divIcon({className: 'pin pin-p', iconSize: [12, 12]}),
    w: L.divIcon({className: 'pin pin-w', iconSize: [12, 12]})
  };

  function buildIndex() {
    var points = [];
    for (var i = 0; i < kind.length; i++) {
      if (kind[i] === undefined || (!kind[i] && partner[i] >= 0)) continue;
      points.push({geometry: {coordinates: [lon[i], lat[i]]}, i: i});
    }
    index = new Supercluster({radius: 50, maxZoom: CLUSTER_ZOOM}).load(points);
  }

  function clusterIcon(count) {
    var size = count < 10 ? 'small' : count < 1000 ? 'medium' : 'large';
    return L.divIcon({html: '<div><span>' + count + '</span></div>', iconSize: [40, 40],
                      className: 'marker-cluster marker-cluster-' + size});
  }

  function drawMarkers() {
    if (!index) return;
    var b = map.getBounds(), zoom = map.getZoom();
    var box = [Math.max(-180, b.getWest()), Math.max(-85, b.getSouth()),
               Math.min(180, b.getEast()), Math.min(85, b.getNorth())];
    if (b.getEast() - b.getWest() >= 360) { box[0] = -180; box[2] = 180; }
    var layers = index.getClusters(box, Math.min(zoom, MAX_ZOOM)).map(function (f) {
      var at = [f.geometry.coordinates[1], f.geometry.coordinates[0]];
      if (f.properties && f.properties.cluster) {
        var m = L.marker(at, {icon: clusterIcon(f.properties.point_count)});
        m.on('click', function () { openCluster(f, at); });
        return m;
      }
      var pin = L.marker(at, {icon: kind[f.i] ? icons.p : icons.w, title: name[f.i]});
      pin.on('click', function () { openPopup(f.i); });
      return pin;
    });
    markers.clearLayers();
    layers.forEach(function (m) { markers.addLayer(m); });
  }
  map.on('moveend', drawMarkers);

  // A cluster opens a zoom further while that parts it; one whose pictures
  // share a spot lists them instead of fanning out a ball of legs.
  function openCluster(f, at) {
    var id = f.properties.cluster_id, zoom = index.getClusterExpansionZoom(id);
    if (zoom <= CLUSTER_ZOOM) {
      following = false;
      map.setView(at, zoom);
      return;
    }
    var box = element('div', '', 'popup cluster-list');
    box.appendChild(element('div', f.properties.point_count + ' here', 'name'));
    index.getLeaves(id, 50).forEach(function (leaf) {
      var button = element('button', name[leaf.i]);
      button.type = 'button';
      button.addEventListener('click', function () { openPopup(leaf.i); });
      box.appendChild(button);
    });
    if (f.properties.point_count > 50) box.appendChild(element('div', 'and ' + (f.properties.point_count - 50) + ' more: search the list', 'path'));
    shared.setLatLng(at).setContent(box).openOn(map);
  }

  function line(label, text) { return element('div', label + text, 'fact'); }

  function popupOf(i) {
    var box = element('div', '', 'popup');
    var picture = kind[i] === 1, w = partner[i];
    var thumb = !picture ? null : config.live ? 'thumb/' + i + token : thumbs[i];
    if (thumb) {
      var image = document.createElement('img');
      image.className = 'thumb';
      image.alt = '';
      image.onerror = function () { image.remove(); };
      image.src = thumb;
      box.appendChild(image);
    }
    box.appendChild(element('div', name[i], 'name'));
    if (picture) box.appendChild(element('div', folders[folder[i]], 'path'));
    var time = picture ? (w >= 0 ? name[w] : '') : '';
    if (time) box.appendChild(line('Taken ', time));
    box.appendChild(line('', lat[i].toFixed(7) + ', ' + lon[i].toFixed(7)));
    if (picture && config.live) {
      var open = element('a', 'open', 'open');
      open.href = 'picture/' + i + token;
      open.target = '_blank';
      open.rel = 'noopener';
      box.appendChild(open);
      // The picture's own EXIF, read by the host: its altitude, and its
      // capture time when no waypoint gave it.
      fetch('facts/' + i + token).then(function (r) { return r.ok ? r.json() : {}; }).then(function (facts) {
        if (facts.time && !time) box.insertBefore(line('Taken ', facts.time), open);
        if (typeof facts.altitude === 'number') box.insertBefore(line('Altitude ', facts.altitude.toFixed(1) + ' m'), open);
      });
    }
    return box;
  }

  function openPopup(i) {
    shared.setLatLng([lat[i], lon[i]]).setContent(popupOf(i)).openOn(map);
  }

  // The zoom at which the picture stands alone, at most MAX_ZOOM.
  function ownZoom(i) {
    var d = 1e-6, box = [lon[i] - d, lat[i] - d, lon[i] + d, lat[i] + d];
    for (var z = Math.max(map.getZoom(), 3); z < MAX_ZOOM; z++) {
      if (index && index.getClusters(box, z).some(function (f) { return f.i === i; })) return z;
    }
    return MAX_ZOOM;
  }

  function pick(i) {
    following = false;
    map.setView([lat[i], lon[i]], ownZoom(i), {animate: false});
    openPopup(i);
  }

  // ---- the trail ----------------------------------------------------------
  var trail = L.polyline([], {renderer: canvas, color: '#d33', weight: 2, opacity: 0.6, interactive: false});
  var trailShown = document.getElementById('trail'), trailChosen = false;
  trailShown.addEventListener('change', function () {
    trailChosen = true;
    if (trailShown.checked) { buildTrail(); trail.addTo(map); } else trail.remove();
  });

  function timeOf(i) { // "2016:07:05 09:15:00", or NaN
    var w = partner[i], m = w >= 0 && /^(\d{4}):(\d\d):(\d\d) (\d\d):(\d\d):(\d\d)/.exec(name[w]);
    return m ? Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]) : NaN;
  }

  function kilometres(a, b) {
    var r = Math.PI / 180, x = (lon[b] - lon[a]) * r * Math.cos((lat[a] + lat[b]) * r / 2);
    var y = (lat[b] - lat[a]) * r;
    return 6371 * Math.sqrt(x * x + y * y);
  }

  // Pictures joined in capture-time order, broken between two more than a
  // day or 500 km apart.
  function buildTrail() {
    var timed = [], times = new Float64Array(kind.length);
    for (var i = 0; i < kind.length; i++) {
      if (kind[i] !== 1) continue;
      var t = timeOf(i);
      if (t === t) { times[i] = t; timed.push(i); }
    }
    timed.sort(function (a, b) { return times[a] - times[b] || a - b; });
    var segments = [], segment = [];
    timed.forEach(function (i, k) {
      var before = timed[k - 1];
      if (k && (times[i] - times[before] > DAY || kilometres(before, i) > FAR_KM)) {
        if (segment.length > 1) segments.push(segment);
        segment = [];
      }
      if (!segment.length || lat[i] !== lat[before] || lon[i] !== lon[before]) segment.push([lat[i], lon[i]]);
    });
    if (segment.length > 1) segments.push(segment);
    trail.setLatLngs(segments);
    trail.order = timed; // for whoever checks the order
  }

  // ---- the list, by folder, only its visible rows made --------------------
  var list = document.getElementById('list'), space = document.getElementById('list-space');
  var search = document.getElementById('search');
  var rows = []; // a folder as -1 - its number, a picture as its position number

  function buildRows() {
    var query = search.value.trim().toLowerCase(), made = [];
    var order = folders.map(function (f, k) { return k; });
    order.sort(function (a, b) { return folders[a] < folders[b] ? -1 : folders[a] > folders[b] ? 1 : 0; });
    order.forEach(function (f) {
      var whole = !query || folders[f].toLowerCase().indexOf(query) >= 0, header = false;
      members[f].forEach(function (i) {
        if (!whole && name[i].toLowerCase().indexOf(query) < 0) return;
        if (!header) { made.push(-1 - f); header = true; }
        made.push(i);
      });
    });
    rows = made;
    space.style.height = rows.length * ROW + 'px';
    drawRows();
  }

  function drawRows() {
    var first = Math.max(0, Math.floor(list.scrollTop / ROW) - 5);
    var last = Math.min(rows.length, first + Math.ceil(list.clientHeight / ROW) + 10);
    var visible = document.createDocumentFragment();
    for (var r = first; r < last; r++) {
      var row = rows[r], node;
      if (row < 0) {
        node = element('div', folders[-1 - row], 'folder');
      } else {
        node = element('button', name[row], 'entry');
        node.type = 'button';
        node.dataset.i = row;
      }
      node.style.top = r * ROW + 'px';
      visible.appendChild(node);
    }
    space.replaceChildren(visible);
  }
  list.addEventListener('scroll', function () { requestAnimationFrame(drawRows); });
  space.addEventListener('click', function (e) {
    if (e.target.dataset && e.target.dataset.i) pick(+e.target.dataset.i);
  });
  var typing = 0;
  search.addEventListener('input', function () {
    clearTimeout(typing);
    typing = setTimeout(buildRows, 150);
  });

  // ---- bringing it together ----------------------------------------------
  // The index, trail and list are made again once a flow of positions
  // pauses, and at least every few seconds while it does not; a live page
  // waits for the whole snapshot first.
  var timer = 0, waitingSince = 0;
  function rebuild() {
    timer = 0;
    waitingSince = 0;
    buildIndex();
    if (!trailChosen) trailShown.checked = counts.pictures <= TRAIL_BY_DEFAULT;
    if (trailShown.checked) { buildTrail(); trail.addTo(map); } else trail.remove();
    buildRows();
    drawMarkers();
    window.pintrailBuilt = (window.pintrailBuilt || 0) + 1;
  }
  function schedule(size) {
    if (!size || received < expected) return;
    var now = Date.now();
    waitingSince = waitingSince || now;
    clearTimeout(timer);
    timer = setTimeout(rebuild, now - waitingSince > 3000 ? 0 : 150);
  }

  // What the browser test reads.
  window.pintrail = {map: map, pick: pick, rows: function () { return rows; },
                     trail: function () { return trail.order || []; }, name: function (i) { return name[i]; },
                     following: function () { return following; }, pending: function () { return timer !== 0; },
                     points: function () {
                       var p = index ? index.points : [];
                       return [p.filter(function (f) { return kind[f.i]; }).length,
                               p.filter(function (f) { return !kind[f.i]; }).length];
                     }};
  basemap();
  if (config.live) {
    new EventSource('events' + token).onmessage = function (e) { receive(JSON.parse(e.data)); };
  } else {
    receive(block('positions'));
  }
})();
