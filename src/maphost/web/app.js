// The map page: markers for waypoints and pictures, a list of the pictures
// in arrival order, live updates from the host or the positions embedded in
// an exported page. Every name and path is set as text, never as markup.
(function () {
  'use strict';
  var config = JSON.parse(document.getElementById('config').textContent);
  // The live page's requests carry the token of its address: no cookie does.
  var token = '?token=' + encodeURIComponent(new URLSearchParams(location.search).get('token') || '');
  var map = L.map('map').setView([20, 0], 2);
  L.tileLayer(config.tiles, {attribution: config.attribution, maxZoom: 19}).addTo(map);
  var cluster = L.markerClusterGroup({chunkedLoading: true});
  map.addLayer(cluster);
  var list = document.getElementById('pictures');
  var shown = {}; // by position number: its marker
  var counts = {p: 0, w: 0};
  var fitted = false;

  function element(tag, text, className) {
    var node = document.createElement(tag);
    node.textContent = text;
    if (className) node.className = className;
    return node;
  }

  function popup(p) {
    var box = element('div', '', 'popup');
    var thumb = config.live ? 'thumb/' + p.i + token : p.thumb;
    if (p.k === 'p' && thumb) {
      var image = document.createElement('img');
      image.className = 'thumb';
      image.alt = '';
      image.onerror = function () { image.remove(); };
      image.src = thumb;
      box.appendChild(image);
    }
    box.appendChild(element('div', p.name, 'name'));
    if (p.k === 'p') box.appendChild(element('div', p.path, 'path'));
    box.appendChild(element('div', p.lat + ', ' + p.lon, 'coordinates'));
    return box;
  }

  // One icon per kind and one popup for all: a hundred thousand markers
  // stay light. A waypoint's name is its marker's title, set as text.
  var icons = {
    p: L.divIcon({className: 'pin pin-p', iconSize: [12, 12]}),
    w: L.divIcon({className: 'pin pin-w', iconSize: [12, 12]})
  };
  var shared = L.popup();

  function marker(p) {
    var m = L.marker([p.lat, p.lon], {icon: icons[p.k], title: p.k === 'w' ? p.name : ''});
    m.position = p;
    return m;
  }

  function openPopup(m) {
    shared.setLatLng(m.getLatLng()).setContent(popup(m.position)).openOn(map);
  }
  cluster.on('click', function (e) { openPopup(e.layer); });

  // Pans (and zooms) to a marker, fans out the cluster still holding it (a
  // picture and its waypoint share a place), then opens its popup; the
  // clusters are redrawn after each move, so it looks again a moment later.
  function reveal(m, tries) {
    var parent = cluster.getVisibleParent(m);
    if (parent === m) {
      openPopup(m);
      return;
    }
    if (tries === 0) map.setView(m.getLatLng(), Math.max(map.getZoom(), 16));
    else if (parent && parent.spiderfy) parent.spiderfy();
    if (tries < 20) setTimeout(function () { reveal(m, tries + 1); }, 150);
  }

  function listEntry(p, m) {
    var item = document.createElement('li');
    var button = element('button', p.name);
    button.type = 'button';
    button.addEventListener('click', function () { reveal(m, 0); });
    item.appendChild(button);
    return item;
  }

  function show(batch) {
    var added = [], entries = document.createDocumentFragment();
    batch.forEach(function (p) {
      var old = shown[p.i];
      if (old) { // a picture sent again: it moves
        old.marker.setLatLng([p.lat, p.lon]);
        old.marker.position = p;
        return;
      }
      var m = marker(p);
      shown[p.i] = {marker: m};
      counts[p.k]++;
      if (p.k === 'p') entries.appendChild(listEntry(p, m));
      added.push(m);
    });
    list.appendChild(entries); // the whole batch in one layout
    cluster.addLayers(added);
    document.getElementById('picture-count').textContent = counts.p;
    document.getElementById('waypoint-count').textContent = counts.w;
    if (!fitted && added.length) { fitted = true; fit(); }
  }

  function fit() { // the markers' own bounds: the clusters fill in over time
    var bounds = L.latLngBounds(Object.keys(shown).map(function (i) {
      return shown[i].marker.getLatLng();
    }));
    if (bounds.isValid()) map.fitBounds(bounds.pad(0.1), {maxZoom: 15});
  }

  document.getElementById('fit').addEventListener('click', fit);
  if (config.live) {
    new EventSource('events' + token).onmessage = function (e) { show(JSON.parse(e.data)); };
  } else {
    show(JSON.parse(document.getElementById('positions').textContent));
  }
})();
