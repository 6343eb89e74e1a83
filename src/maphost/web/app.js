// The map page: one marker per picture (the waypoint of its capture time
// folded in), lone waypoints, clusters, the trail in capture-time order, the
// pictures listed by time, name or folder with a search, and an outline map
// of the world under the tiles, drawn alone without them. A live page asks
// the host for what it shows and hears when positions arrive; an exported
// page answers the same questions from the positions embedded in it.
// Every name and path is set as text, never as markup.
(function () {
  'use strict';
  function block(id) { return JSON.parse(document.getElementById(id).textContent); }
  var config = block('config');
  // The live page's requests carry the token of its address: no cookie does.
  var token = '?token=' + encodeURIComponent(new URLSearchParams(location.search).get('token') || '');
  var map = L.map('map', {zoomSnap: 1}).setView([20, 0], 2);
  var canvas = L.canvas({padding: 0.2});
  // Clusters part up to MAX_ZOOM; there a cluster lists its pictures.
  var MAX_ZOOM = 17, ROW = 22, PAGE = 200, DAY = 864e5, FAR_KM = 500;
  var TRAIL_BY_DEFAULT = 50000; // pictures: a larger library's trail is shown on request
  var CELL = 100, MOST_SELECTED = 100000; // a grid's thumbnail with its gap, in pixels; pictures in a file
  var TWO = Array.from({length: 100}, function (_, n) { return (n < 10 ? '0' : '') + n; }); // "00" to "99"

  function element(tag, text, className) {
    var node = document.createElement(tag);
    node.textContent = text;
    if (className) node.className = className;
    return node;
  }

  // ---- the base map -------------------------------------------------------
  var notes = {tiles: '', host: ''};
  function note(about, text) {
    var box = document.getElementById('note');
    notes[about] = text;
    box.textContent = [notes.host, notes.tiles].filter(Boolean).join(' \u00b7 ');
    box.hidden = !box.textContent;
    showLabels();
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
                 attribution: 'Outline: <a href="https://www.naturalearthdata.com/">Natural Earth</a>, towns: <a href="https://www.geonames.org/">GeoNames</a> (CC BY 4.0)'};
    topology.objects.countries.geometries.forEach(function (g) {
      var polygons = g.type === 'Polygon' ? [g.arcs] : g.type === 'MultiPolygon' ? g.arcs : [];
      if (!polygons.length) return;
      var shape = L.polygon(polygons.map(function (rings) { return rings.map(ring); }), style).addTo(map);
      var name = g.properties && g.properties.name;
      if (!name) return;
      var largest = shape.getLatLngs().map(function (p) { return L.latLngBounds(p[0]); }).sort(function (a, b) {
        return span(b) - span(a);
      })[0];
      var label = L.marker(largest.getCenter(), {icon: L.divIcon({className: 'country-label', html: element('span', name), iconSize: null}),
                                                 interactive: false, keyboard: false, pane: 'outline'}).addTo(labels);
      countries.push({name: name, label: label,
                      degrees: largest.getEast() - largest.getWest()});
    });
    showLabels();
  }
  function span(b) { return (b.getNorth() - b.getSouth()) * (b.getEast() - b.getWest()); }

  var countries = [], labels = L.layerGroup();
  // Offline, the outline map names its countries from zoom 3 on.
  // A name is shown where its country is wider than it.
  function showLabels() {
    var shown = notes.tiles && map.getZoom() >= 3, pixels = 256 * Math.pow(2, map.getZoom()) / 360;
    if (shown && !map.hasLayer(labels)) labels.addTo(map);
    showTowns(shown);
    if (!shown) return labels.remove();
    countries.forEach(function (c) {
      c.label.getElement().style.display = c.degrees * pixels > c.name.length * 7 ? '' : 'none';
    });
  }
  map.on('zoomend', showLabels);
  // And its larger towns as it zooms in: from zoom 4 those of two million
  // people, each zoom further those of half as many, down to 100,000; the
  // largest sixty in view. [[latitude, longitude, population, name], ...]
  var towns = null, townLabels = L.layerGroup();
  function showTowns(shown) {
    townLabels.clearLayers();
    if (!shown || map.getZoom() < 4) return townLabels.remove();
    if (!towns) {
      towns = [];
      if (!config.live) towns = block('towns');
      else fetch('assets/towns.json' + token).then(function (r) { return r.json(); }).then(function (t) { towns = t; showLabels(); });
    }
    var least = Math.max(1e5, 2e6 / Math.pow(2, map.getZoom() - 4)), bounds = map.getBounds(), made = 0;
    for (var k = 0; k < towns.length && towns[k][2] >= least && made < 60; k++) {
      var at = [towns[k][0], inView(towns[k][1])];
      if (!bounds.contains(at)) continue;
      L.marker(at, {icon: L.divIcon({className: 'town-label', html: element('span', towns[k][3]), iconSize: null}),
                    interactive: false, keyboard: false, pane: 'outline'}).addTo(townLabels);
      made++;
    }
    townLabels.addTo(map);
  }
  map.on('moveend', function () { if (map.hasLayer(labels)) showTowns(true); });

  function basemap() {
    if (config.live) {
      fetch('assets/countries-50m.json' + token).then(function (r) { return r.json(); }).then(outline);
    } else {
      outline(block('world'));
    }
    if (config.tiles === 'none') return;
    var tiles = L.tileLayer(config.tiles, {attribution: config.attribution, maxZoom: 19});
    tiles.on('tileerror', function () { note('tiles', 'offline: outline map'); });
    tiles.addTo(map);
  }

  // ---- the sources: the host's answers, or the embedded positions ---------
  // Each answers clusters(box, zoom), trail(box, zoom), list(order, search,
  // from, n), area(box, zoom, from, n), position(i) and thumb(i), and tells
  // listen(callback) what the library holds: its counts and bounds.
  function liveSource() {
    function ask(question) {
      return fetch(question + '&' + token.slice(1)).then(function (r) { return r.ok ? r.json() : Promise.reject(r.status); });
    }
    // What narrows the pictures: the search and the capture times.
    function narrowing(f) {
      var q = '';
      if (f && f.q) q += '&q=' + encodeURIComponent(f.q);
      if (f && f.from) q += '&t0=' + encodeURIComponent(f.from) + '&t1=' + encodeURIComponent(nextOf(f.to));
      return q;
    }
    function where(box, zoom, f) { return 'z=' + zoom + '&b=' + box.join() + narrowing(f); }
    return {
      clusters: function (box, zoom, f) {
        return ask('clusters?' + where(box, zoom, f)).then(function (a) {
          return a.c.map(function (c) { return {lat: c[0], lon: c[1], count: c[2], i: c[3], picture: c[4], cover: c[5]}; });
        });
      },
      trail: function (box, zoom, f) {
        return ask('trail?' + where(box, zoom, f)).then(function (a) {
          return {segments: a.s.map(function (flat) {
            var line = [];
            for (var k = 0; k < flat.length; k += 2) line.push([flat[k], flat[k + 1]]);
            return line;
          }), order: a.o};
        });
      },
      list: function (order, f, from, n) { return ask('list?o=' + order + narrowing(f) + '&from=' + from + '&n=' + n); },
      area: function (box, zoom, f, from, n) { return ask('list?' + where(box, zoom, f) + '&from=' + from + '&n=' + n); },
      timeline: function (box, zoom, f) { return ask('timeline?' + where(box, zoom, f)).then(function (a) { return a.d; }); },
      position: function (i) { return ask('position/' + i + '?'); },
      thumb: function (i) { return 'thumb/' + i + token; },
      whole: function (i) { return 'picture/' + i + token; },
      trips: function () { return ask('trips?').then(function (a) { return a.t; }); },
      selection: function (box, zoom, f, format) {
        return Promise.resolve('selection?f=' + format + '&' + where(box, zoom, f) + '&' + token.slice(1));
      },
      // A host that stops is waited for: the browser asks again while it is
      // away, and this page again when the host turned it away meanwhile.
      listen: function listen(tell) {
        var events = new EventSource('events' + token);
        events.onmessage = function (e) {
          var m = JSON.parse(e.data);
          note('host', '');
          tell({pictures: m.n[0], places: m.n[1], waypoints: m.n[2], bounds: m.b});
        };
        events.onerror = function () {
          note('host', 'the map host has stopped: this is what it held; waiting for it');
          if (events.readyState === EventSource.CLOSED) setTimeout(function () { listen(tell); }, 3000);
        };
      }
    };
  }

  // The embedded library's columns: 32-bit numbers, in base64.
  function columns(id) {
    var text = document.getElementById(id).textContent.trim();
    if (Uint8Array.fromBase64) return Uint8Array.fromBase64(text).buffer;
    var binary = atob(text), bytes = new Uint8Array(binary.length);
    for (var k = 0; k < binary.length; k++) bytes[k] = binary.charCodeAt(k);
    return bytes.buffer;
  }
  // The cell of a place at a zoom, of 64 pixels a side: x, y.
  function cellOf(lat, lon, side) {
    var phi = Math.max(-85.0511287798066, Math.min(85.0511287798066, lat)) * Math.PI / 180;
    var x = Math.floor((lon + 180) / 360 * side), y = Math.floor((1 - Math.log(Math.tan(phi) + 1 / Math.cos(phi)) / Math.PI) / 2 * side);
    return [Math.max(0, Math.min(side - 1, x)), Math.max(0, Math.min(side - 1, y))];
  }

  // Texts each given as the counts of characters it shares with the one
  // before at its start and at its end (characters from '0') and the rest between.
  function unshared(texts) {
    var before = '';
    return texts.map(function (t) {
      return (before = before.slice(0, t.charCodeAt(0) - 48) + t.slice(2) + before.slice(before.length - (t.charCodeAt(1) - 48)));
    });
  }

  // The exported page's selections as files, as the host writes them.
  function fileOf(format, pictures) {
    function iso(t) { return /^\d{4}:\d\d:\d\d \d\d:\d\d:\d\d$/.test(t) ? t.replace(/:/, '-').replace(/:/, '-').replace(' ', 'T') : ''; }
    function xml(t) { return t.replace(/[&<>"]/g, function (c) { return {'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;'}[c]; }); }
    function link(p) { return encodeURI('file://' + p.path); }
    if (format === 'geojson') {
      return JSON.stringify({type: 'FeatureCollection', features: pictures.map(function (p) {
        return {type: 'Feature', properties: {name: p.name, file: link(p), time: iso(p.taken) || undefined},
                geometry: {type: 'Point', coordinates: [p.lon, p.lat]}};
      })});
    }
    var gpx = format === 'gpx', lines = pictures.map(function (p) {
      var time = iso(p.taken);
      return gpx ? '<wpt lat="' + p.lat + '" lon="' + p.lon + '">' + (time ? '<time>' + time + '</time>' : '') + '<name>' +
                   xml(p.name) + '</name><link href="' + xml(link(p)) + '"/></wpt>'
                 : '<Placemark><name>' + xml(p.name) + '</name><description>' + xml(link(p)) + '</description>' +
                   (time ? '<TimeStamp><when>' + time + '</when></TimeStamp>' : '') + '<Point><coordinates>' + p.lon +
                   ',' + p.lat + '</coordinates></Point></Placemark>';
    });
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + (gpx
      ? '<gpx version="1.1" creator="pintrail-maphost" xmlns="http://www.topografix.com/GPX/1/1">\n' + lines.join('\n') + '\n</gpx>\n'
      : '<kml xmlns="http://www.opengis.net/kml/2.2"><Document>\n' + lines.join('\n') + '\n</Document></kml>\n');
  }

  function embeddedSource() {
    // Shown positions by number, pictures first in capture-time order, then
    // the waypoints without one: their places in ten-millionths of a degree,
    // a picture's folder (-1: a waypoint) in runs; the clusters of the wider zooms,
    // made by the host: each cell's count, place and its one position (-1:
    // more than one).
    var data = block('library'), thumbs = block('thumbnails'), buffer = columns('columns');
    function column(name) { return new Int32Array(buffer, data.s[name][0], data.s[name][1]); }
    function varints(name) { // seven bits a byte, the lowest first
      var s = data.s[name], bytes = new Uint8Array(buffer, s[0], s[2]), codes = new Float64Array(s[1]);
      for (var k = 0, at = 0; k < codes.length; k++) {
        var code = 0, scale = 1, b;
        do { b = bytes[at++]; code += (b & 127) * scale; scale *= 128; } while (b & 128);
        codes[k] = code;
      }
      return codes;
    }
    function step(code) { return code % 2 ? -(code + 1) / 2 : code / 2; } // 0, 1, 2, 3... as 0, -1, 1, -2...
    function summed(name) { // each value as the step from the one before
      var codes = varints(name), values = new Int32Array(codes.length);
      for (var k = 0, value = 0; k < codes.length; k++) values[k] = value += step(codes[k]);
      return values;
    }
    var lat7 = summed('lat'), lon7 = summed('lon'), cells = column('cells');
    function unrun(runs) { // each position's value, from the runs
      var all = new Int32Array(lat7.length);
      for (var r = 0; r < runs.length; r += 2) all.fill(runs[r + 1], runs[r], r + 2 < runs.length ? runs[r + 2] : all.length);
      return all;
    }
    var folder = unrun(column('folders')), town = unrun(column('towns'));
    var levels = data.s.levels, names = null, taken = null, seconds = null, untimed = {}, dayTexts = new Map(), folders = data.f;
    var shown = lat7.length, pictures = 0, bounds = null, sorted = {};
    while (pictures < shown && folder[pictures] >= 0) pictures++;
    for (var k = 0; k < shown; k++) {
      var la = lat7[k] / 1e7, lo = lon7[k] / 1e7;
      bounds = bounds ? [Math.min(bounds[0], la), Math.min(bounds[1], lo), Math.max(bounds[2], la),
                         Math.max(bounds[3], lo)] : [la, lo, la, lo];
    }
    function lat(i) { return lat7[i] / 1e7; }
    function lon(i) { return lon7[i] / 1e7; }
    function inside(box, i) { return lon(i) >= box[0] && lat(i) >= box[1] && lon(i) <= box[2] && lat(i) <= box[3]; }
    function nameOf(i) { return (names = names || unshared(data.names))[i]; } // made when first asked
    function path(i) { return folders[folder[i]] + nameOf(i); }
    // The host's place keys, the country first: "Italy\u001fFlorence".
    function placeKey(i) { return town[i] >= 0 ? data.t[town[i]] : ''; }
    function townOf(i) { return placeKey(i).split('\u001f').reverse().join(', '); }
    // Each picture's capture time in seconds, from the step from the one
    // before, one more (0: a text of its own, the next of data.taken); NaN
    // for a text of its own. Made when first asked.
    function secondsOf(i) {
      if (!seconds) {
        var codes = varints('times'), s = 0, own = 0;
        seconds = new Float64Array(pictures);
        for (var k = 0; k < pictures; k++) {
          if (codes[k]) seconds[k] = s += step(codes[k] - 1);
          else seconds[k] = NaN, untimed[k] = data.taken[own++];
        }
      }
      return seconds[i];
    }
    function dayText(day) { // "2016:07:05" of days since 1970, made once a day
      var text = dayTexts.get(day);
      if (text === undefined) {
        var iso = new Date(day * 86400000).toISOString();
        dayTexts.set(day, text = iso.slice(0, 4) + ':' + iso.slice(5, 7) + ':' + iso.slice(8, 10));
      }
      return text;
    }
    function dayOf(i) { var s = secondsOf(i); return s === s ? dayText(Math.floor(s / 86400)) : untimed[i].slice(0, 10); }
    function takenOf(i) { // "2016:07:05 09:15:00", or the picture's own text; all made when first asked
      if (!taken) {
        taken = new Array(pictures);
        for (var k = 0; k < pictures; k++) {
          var s = secondsOf(k), t = s - Math.floor(s / 86400) * 86400;
          taken[k] = s === s ? dayOf(k) + ' ' + TWO[Math.floor(t / 3600)] + ':' + TWO[Math.floor(t / 60) % 60] + ':' + TWO[t % 60] : untimed[k];
        }
      }
      return i < pictures ? taken[i] : ''; // a waypoint has none
    }
    // Whether position i is a picture the search and the times let through,
    // as the host's: any case of ASCII letters, from until before the next.
    function folded(text) { return text.replace(/[A-Z]/g, function (c) { return c.toLowerCase(); }); }
    function narrows(f) { return !!(f && (f.q || f.from)); }
    function lets(f, i) {
      if (!narrows(f)) return true;
      if (f.until === undefined) f.until = f.from ? nextOf(f.to) : '', f.sought = folded(f.q || ''); // once per question
      if (i >= pictures || f.from && !(takenOf(i) >= f.from && takenOf(i) < f.until)) return false;
      return !f.q || folded(path(i)).indexOf(f.sought) >= 0 || folded(townOf(i)).indexOf(f.sought) >= 0;
    }
    function timeOf(i) { // milliseconds of "2016:07:05 09:15:00" and of a text that starts so, or NaN
      var s = secondsOf(i), m = s === s ? null : /^(\d{4}):(\d\d):(\d\d) (\d\d):(\d\d):(\d\d)/.exec(untimed[i]);
      return s === s ? s * 1000 : m ? Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]) : NaN;
    }
    // The pictures by name or path, sorted once when first asked.
    var keys = {name: nameOf, folder: path,
                town: function (i) { return placeKey(i) + '\u0000' + takenOf(i); }};
    function inOrder(order) {
      if (order === 'time') return null;
      if (!sorted[order]) {
        var key = keys[order], text = [], ids = new Int32Array(pictures);
        for (var k = 0; k < pictures; k++) { ids[k] = k; text[k] = key(k); }
        sorted[order] = ids.sort(function (a, b) { return text[a] < text[b] ? -1 : text[a] > text[b] ? 1 : a - b; });
      }
      return sorted[order];
    }
    function page(ids, total, from, n) {
      var rows = [];
      for (var k = from; k < Math.min(total, from + n); k++) {
        var i = ids ? ids[k] : k; // none: in capture-time order
        rows.push([i, nameOf(i), folders[folder[i]], townOf(i)]);
      }
      return {total: total, rows: rows};
    }
    function kilometres(a, b) {
      var r = Math.PI / 180, x = (lon(b) - lon(a)) * r * Math.cos((lat(a) + lat(b)) * r / 2);
      var y = (lat(b) - lat(a)) * r;
      return 6371 * Math.sqrt(x * x + y * y);
    }
    // Closer in than the host's cells: the positions in view, gathered so.
    function gathered(box, zoom, f) {
      var side = Math.pow(2, zoom + 2), found = new Map();
      for (var i = 0; i < shown; i++) {
        if (!inside(box, i) || !lets(f, i)) continue;
        var cell = cellOf(lat(i), lon(i), side), key = cell[0] * side + cell[1], c = found.get(key);
        if (!c) found.set(key, c = {lat: 0, lon: 0, count: 0, i: i, picture: folder[i] >= 0, cover: -1});
        if (c.cover < 0 && folder[i] >= 0) c.cover = i;
        c.lat += lat(i); c.lon += lon(i); c.count++;
      }
      return Array.from(found.values(), function (c) {
        return {lat: c.lat / c.count, lon: c.lon / c.count, count: c.count, i: c.count > 1 ? -1 : c.i, picture: c.picture,
                cover: c.cover};
      });
    }
    return {
      clusters: function (box, zoom, f) {
        if (zoom >= levels.length - 1 || narrows(f)) return Promise.resolve(gathered(box, zoom, f));
        var found = [], pad = 360 / Math.pow(2, zoom + 2); // a cell's width: its place may lie outside it
        for (var c = 5 * levels[zoom]; c < 5 * levels[zoom + 1]; c += 5) {
          var la = cells[c + 1] / 1e7, lo = cells[c + 2] / 1e7, one = cells[c + 3], first = cells[c + 4];
          if (lo >= box[0] - pad && la >= box[1] - pad && lo <= box[2] + pad && la <= box[3] + pad)
            found.push({lat: la, lon: lo, count: cells[c], i: one, picture: one >= 0 && folder[one] >= 0,
                        cover: first < pictures ? first : -1});
        }
        return Promise.resolve(found);
      },
      // The pictures of the view with a capture time, joined in that order,
      // broken between two more than a day or 500 km apart, a point dropped
      // on the pixel of the one before.
      trail: function (box, zoom, f) {
        var segments = [], segment = [], order = [], before = -1, last = '', side = Math.pow(2, zoom + 8);
        for (var i = 0; i < pictures; i++) {
          if (timeOf(i) !== timeOf(i) || !inside(box, i) || !lets(f, i)) continue;
          if (before < 0 || timeOf(i) - timeOf(before) > DAY || kilometres(before, i) > FAR_KM) {
            if (segment.length > 1) segments.push(segment);
            segment = [];
            last = '';
          }
          var pixel = cellOf(lat(i), lon(i), side).join();
          if (pixel !== last) segment.push([lat(i), lon(i)]);
          if (order.length < 1000) order.push(i);
          before = i;
          last = pixel;
        }
        if (segment.length > 1) segments.push(segment);
        return Promise.resolve({segments: segments, order: order});
      },
      list: function (order, f, from, n) {
        var ids = inOrder(order), total = pictures;
        if (narrows(f)) {
          var found = [];
          for (var k = 0; k < pictures; k++) {
            var i = ids ? ids[k] : k;
            if (lets(f, i)) found.push(i);
          }
          ids = found;
          total = found.length;
        }
        return Promise.resolve(page(ids, total, from, n));
      },
      area: function (box, zoom, f, from, n) {
        var found = [];
        for (var i = 0; i < pictures; i++) if (inside(box, i) && lets(f, i)) found.push(i);
        return Promise.resolve(page(found, found.length, from, n));
      },
      timeline: function (box, zoom, f) {
        var days = [], search = {q: f && f.q};
        for (var i = 0; i < pictures; i++) {
          var day = dayOf(i);
          if ((secondsOf(i) !== secondsOf(i) && !/^\d{4}:\d\d:\d\d$/.test(day)) || !inside(box, i) || !lets(search, i)) continue;
          if (days.length && days[days.length - 1][0] === day) days[days.length - 1][1]++;
          else days.push([day, 1]);
        }
        return Promise.resolve(days);
      },
      position: function (i) {
        return Promise.resolve({i: i, picture: folder[i] >= 0, name: nameOf(i), folder: folder[i] >= 0 ? folders[folder[i]] : '',
                                lat: lat(i), lon: lon(i), taken: takenOf(i), town: townOf(i), altitude: thumbs.a[i]});
      },
      thumb: function (i) { return thumbs[i]; },
      // The picture itself beside the page, as the browser shows it, else
      // the thumbnail the page carries.
      whole: function (i) { return /\.(jpe?g|png|webp|gif|avif)$/i.test(nameOf(i)) ? encodeURI('file://' + path(i)).replace(/[?#]/g, encodeURIComponent) : thumbs[i]; },
      trips: function () { // parted as the host parts them
        var trips = [], last = -1;
        for (var i = 0; i < pictures; i++) {
          if (isNaN(timeOf(i))) continue;
          if (last < 0 || timeOf(i) - timeOf(last) > DAY || kilometres(last, i) > FAR_KM) {
            trips.push([takenOf(i), '', 0, lat(i), lon(i), lat(i), lon(i), townOf(i)]);
          }
          var t = trips[trips.length - 1];
          t[1] = takenOf(i), t[2]++, last = i;
          t[3] = Math.min(t[3], lat(i)), t[4] = Math.min(t[4], lon(i)), t[5] = Math.max(t[5], lat(i)), t[6] = Math.max(t[6], lon(i));
        }
        return Promise.resolve(trips.slice(-1000));
      },
      selection: function (box, zoom, f, format) {
        var found = [];
        for (var i = 0; i < pictures && found.length <= MOST_SELECTED; i++) {
          if (inside(box, i) && lets(f, i)) found.push({name: nameOf(i), lat: lat(i), lon: lon(i), taken: takenOf(i), path: path(i)});
        }
        if (found.length > MOST_SELECTED) return Promise.reject('too many');
        return Promise.resolve(URL.createObjectURL(new Blob([fileOf(format, found)])));
      },
      listen: function (tell) {
        tell({pictures: data.n[0], places: data.n[1], waypoints: data.n[2], bounds: bounds});
      }
    };
  }

  var source = config.live ? liveSource() : embeddedSource();
  var asking = 0; // questions not answered yet
  function asked(promise) {
    asking++;
    return promise.finally(function () { asking--; });
  }

  // The view's box: west, south, east, north, within the world; the whole
  // width of it when the view spans the antimeridian.
  function viewBox() {
    var b = map.getBounds(), west = b.getWest(), east = b.getEast();
    var south = Math.max(-85, b.getSouth()), north = Math.min(85, b.getNorth());
    var shift = 360 * Math.floor((west + 180) / 360); // the copy of the world the view is in
    if (east - west >= 360 || east - shift > 180) return [-180, south, 180, north];
    return [west - shift, south, east - shift, north];
  }
  // A longitude in the copy of the world the view is in.
  function inView(lon) {
    var center = map.getCenter().lng;
    return lon + 360 * Math.round((center - lon) / 360);
  }

  // ---- what the library holds, and following it ---------------------------
  var latest = {pictures: 0, places: 0, waypoints: 0, bounds: null};
  var following = true, fitting = false, fitted = '';
  function news(told) {
    latest = told;
    document.getElementById('picture-count').textContent = told.pictures;
    document.getElementById('place-count').textContent = told.places;
    document.getElementById('waypoint-count').textContent = told.waypoints;
    document.querySelectorAll('#counts [data-one]').forEach(function (word, k) {
      var one = word.dataset.one, count = [told.pictures, told.places, told.waypoints][k];
      word.textContent = count === 1 ? one : one + 's';
    });
    if (!trailChosen) trailShown.checked = told.pictures <= TRAIL_BY_DEFAULT;
    if (following) follow();
    refresh();
  }
  // Fits the map to the positions; nothing to do when they have not spread
  // since (every move redraws the outline map).
  function follow() {
    var b = latest.bounds;
    if (!b || b.join() === fitted) return;
    fitted = b.join();
    fitting = true;
    map.fitBounds(L.latLngBounds([b[0], b[1]], [b[2], b[3]]).pad(0.1), {maxZoom: 15, animate: false});
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
  var markers = L.layerGroup().addTo(map), shared = L.popup({maxWidth: 320}), drawn = 0, shown = 0;
  var icons = {
    p: L.divIcon({className: 'pin pin-p', iconSize: [12, 12]}),
    w: L.divIcon({className: 'pin pin-w', iconSize: [12, 12]})
  };

  // A cluster shows one of its pictures under its count, when the view has
  // few enough of them for their thumbnails to come at once.
  var MOST_COVERS = 60;
  function clusterIcon(c, covered) {
    var size = c.count < 10 ? 'small' : c.count < 1000 ? 'medium' : 'large', thumb = covered && c.cover >= 0 && source.thumb(c.cover);
    if (!thumb) {
      return L.divIcon({html: '<div><span>' + c.count + '</span></div>', iconSize: [40, 40],
                        className: 'marker-cluster marker-cluster-' + size});
    }
    var cover = element('div', ''), image = document.createElement('img');
    image.alt = '';
    image.src = thumb;
    image.onerror = function () { image.remove(); };
    cover.append(image, element('span', String(c.count)));
    return L.divIcon({html: cover, iconSize: [48, 48], className: 'cover-cluster'});
  }

  // A marker is a button to the keyboard too: Enter or Space opens it.
  var keyFocus = false; // a marker the keyboard opened went with the view it opened
  function operable(marker) {
    var icon = marker.getElement();
    icon.setAttribute('role', 'button');
    icon.setAttribute('aria-label', icon.title);
    icon.addEventListener('keydown', function (e) {
      if (e.key !== 'Enter' && e.key !== ' ') return;
      e.preventDefault();
      keyFocus = true;
      marker.fire('click'); // not a click on the icon: Leaflet drops those after a drag
    });
  }

  function drawMarkers() {
    var ask = ++drawn;
    asked(source.clusters(viewBox(), Math.min(map.getZoom(), 20), narrowing())).then(function (clusters) {
      if (ask !== drawn) return; // a newer view is on its way
      var focused = onMarker(); // a cluster opened from the keyboard: its parts take the focus
      markers.clearLayers();
      shown = 0;
      clusters.forEach(function (c) {
        var marker, at = [c.lat, inView(c.lon)];
        shown += c.count;
        if (c.count > 1) {
          marker = L.marker(at, {icon: clusterIcon(c, clusters.length <= MOST_COVERS), title: c.count + ' positions here'});
          marker.on('click', function () { openCluster(c); });
        } else {
          marker = L.marker(at, {icon: c.picture ? icons.p : icons.w, title: c.picture ? 'a picture' : 'a waypoint'});
          marker.on('click', function () { openPopup(c.i); });
        }
        markers.addLayer(marker);
        operable(marker);
      });
      var first = document.querySelector('.leaflet-marker-icon');
      if ((focused || document.activeElement === document.body && keyFocus) && first) first.focus({preventScroll: true});
      keyFocus = false;
      window.pintrailBuilt = (window.pintrailBuilt || 0) + 1;
    }, function () {});
  }

  // A cluster opens two zooms further; at the closest zoom it lists its
  // pictures instead of fanning out a ball of legs.
  function openCluster(c) {
    var zoom = map.getZoom();
    if (zoom < MAX_ZOOM) {
      following = false;
      map.setView([c.lat, inView(c.lon)], Math.min(zoom + 2, MAX_ZOOM));
      return;
    }
    var d = 90 / Math.pow(2, zoom); // a cell's width, either way
    asked(source.area([c.lon - d, c.lat - d, c.lon + d, c.lat + d], zoom, narrowing(), 0, 50)).then(function (found) {
      var box = element('div', '', 'popup cluster-list');
      box.appendChild(element('div', found.total + ' here', 'name'));
      found.rows.forEach(function (row) {
        var button = element('button', row[1]);
        button.type = 'button';
        button.addEventListener('click', function () { openPopup(row[0]); });
        box.appendChild(button);
      });
      var all = element('button', 'Show all ' + found.total + ' as pictures');
      all.type = 'button';
      all.addEventListener('click', function () { openGrid([c.lon - d, c.lat - d, c.lon + d, c.lat + d]); });
      box.appendChild(all);
      opened = -1;
      show([c.lat, inView(c.lon)], box);
    }, function () {});
  }

  // The popup fits the map's width, a phone's too, and grows to its
  // thumbnail once that has come.
  function show(at, box) {
    shared.options.maxWidth = Math.max(120, Math.min(320, map.getSize().x - 80));
    shared.setLatLng(at).setContent(box).openOn(map);
    // Opened from a marker by the keyboard: the focus goes on into it.
    var focus = box.querySelector('button, a');
    if (focus && onMarker()) focus.focus({preventScroll: true});
    keepView();
  }
  function onMarker() { return document.activeElement.classList.contains('leaflet-marker-icon'); }

  function line(label, text) { return element('div', label + text, 'fact'); }
  // "2016:07:05 09:15:00" in the reader's own way of writing a date and time.
  function localTime(text, day) {
    var f = /^(\d{4}):(\d\d):(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(text);
    var date = f && new Date(+f[1], f[2] - 1, +f[3], +f[4], +f[5], +f[6]);
    if (!date || isNaN(date)) return day ? '' : text;
    return date.toLocaleString(undefined, day ? {dateStyle: 'medium'} : {dateStyle: 'medium', timeStyle: 'medium'});
  }


  function popupOf(p) {
    var box = element('div', '', 'popup'), thumb = p.picture ? source.thumb(p.i) : null;
    if (thumb) {
      var image = document.createElement('img');
      image.className = 'thumb';
      image.alt = '';
      image.onerror = function () { image.remove(); };
      image.onload = function () { // update() sets the content again: the focus in it is kept
        var focused = box.contains(document.activeElement) && document.activeElement;
        if (shared.isOpen()) shared.update();
        if (focused) focused.focus({preventScroll: true});
      };
      image.src = thumb;
      box.appendChild(image);
    }
    box.appendChild(element('div', p.name, 'name'));
    if (p.picture) box.appendChild(element('div', p.folder, 'path'));
    if (p.taken) box.appendChild(line('Taken ', localTime(p.taken)));
    box.appendChild(line('', p.lat.toFixed(7) + ', ' + p.lon.toFixed(7)));
    var place = p.town; // "Florence, Italy", as the host names it
    if (place) box.appendChild(line('', place));
    if (typeof p.altitude === 'number') box.appendChild(line('Altitude ', p.altitude.toFixed(1) + ' m'));
    var whole = p.picture && source.whole(p.i), open = element('a', 'open', 'open');
    if (whole && !/^data:/.test(whole)) {
      open.href = whole;
      open.target = '_blank';
      open.rel = 'noopener';
      box.appendChild(open);
    }
    if (p.picture && config.live) {
      // The picture's own EXIF, read by the host: its altitude, and its
      // capture time when no waypoint gave it.
      fetch('facts/' + p.i + token).then(function (r) { return r.ok ? r.json() : {}; }).then(function (facts) {
        var from = facts.from === 'original' ? '' : ' (' + facts.from + ')';
        if (facts.time && !p.taken) box.insertBefore(line('Taken ', localTime(facts.time) + from), open);
        if (typeof facts.altitude === 'number') box.insertBefore(line('Altitude ', facts.altitude.toFixed(1) + ' m'), open);
      });
    }
    return box;
  }

  function openPopup(i, then) {
    asked(source.position(i)).then(function (p) {
      opened = i;
      if (then) then(p);
      show([p.lat, inView(p.lon)], popupOf(p));
    }, function () {});
  }

  function pick(i) {
    chosen = i;
    drawRows();
    foldPanel(false);
    openPopup(i, function (p) {
      following = false;
      map.setView([p.lat, p.lon], MAX_ZOOM, {animate: false});
    });
  }

  // ---- the trail of the view ---------------------------------------------
  var trail = L.polyline([], {renderer: canvas, color: '#d33', weight: 2, opacity: 0.6, interactive: false});
  var trailShown = document.getElementById('trail'), trailChosen = false, trailOrder = [], trailAsked = 0;
  trailShown.addEventListener('change', function () {
    trailChosen = true;
    drawTrail();
  });

  function drawTrail() {
    var ask = ++trailAsked;
    if (!trailShown.checked) {
      trail.remove();
      return;
    }
    asked(source.trail(viewBox(), Math.min(map.getZoom(), 20), narrowing())).then(function (t) {
      if (ask !== trailAsked) return;
      trail.setLatLngs(t.segments);
      trailOrder = t.order;
      trail.addTo(map);
    }, function () {});
  }

  // ---- the list, a page at a time, only its visible rows made -------------
  var list = document.getElementById('list'), space = document.getElementById('list-space');
  var search = document.getElementById('search'), order = document.getElementById('order');
  var total = 0, pages = new Map(), names = new Map(), listAsked = 0, chosen = -1;
  var empty = document.getElementById('list-empty');

  function resetList() {
    listAsked++;
    pages = new Map();
    loadPage(0);
  }

  function loadPage(k) {
    if (pages.has(k)) return;
    pages.set(k, null);
    var ask = listAsked;
    asked(source.list(order.value, narrowing(), k * PAGE, PAGE)).then(function (found) {
      if (ask !== listAsked) return;
      total = found.total;
      space.style.height = total * ROW + 'px';
      var f = narrowing();
      empty.textContent = total ? '' : f.q || f.from ? 'Nothing matches ' + narrowingText(f) + '.' : 'No pictures yet.';
      empty.hidden = total > 0;
      if (k === 0) showNarrowed(f, total);
      pages.set(k, found.rows);
      found.rows.forEach(function (row) { names.set(row[0], row[1]); });
      drawRows();
    }, function () { pages.delete(k); });
  }

  // Puts made in space in place of what it held: the row that had the
  // focus (by its data-r) has it again when it is still made.
  function keepingFocus(space, made) {
    var focused = space.contains(document.activeElement) ? document.activeElement.dataset.r : null;
    space.replaceChildren(made);
    var again = focused === null ? null : space.querySelector('[data-r="' + focused + '"]');
    if (again) again.focus({preventScroll: true});
  }

  // The rows in view, rebuilt as the list scrolls, the focused one keeping
  // the focus.
  function drawRows() {
    var first = Math.max(0, Math.floor(list.scrollTop / ROW) - 5);
    var last = Math.min(total, first + Math.ceil(list.clientHeight / ROW) + 10);
    var visible = document.createDocumentFragment();
    for (var r = first; r < last; r++) {
      var rows = pages.get(Math.floor(r / PAGE));
      if (rows === undefined) loadPage(Math.floor(r / PAGE));
      var row = rows && rows[r % PAGE];
      if (!row) continue;
      var node = element('button', row[1], 'entry');
      if (order.value === 'town') { // grouped by country, region and town: the first of each says it
        var above = r > 0 && (pages.get(Math.floor((r - 1) / PAGE)) || [])[(r - 1) % PAGE];
        if (!above || above[3] !== row[3]) node.prepend(element('span', (row[3] || 'No place') + ' \u203a ', 'town'));
      }
      node.type = 'button';
      node.title = row[2];
      node.dataset.i = row[0];
      node.dataset.r = r;
      if (row[0] === chosen) {
        node.classList.add('chosen');
        node.setAttribute('aria-current', 'true');
      }
      node.style.top = r * ROW + 'px';
      visible.appendChild(node);
    }
    keepingFocus(space, visible);
  }

  // Tab and the arrows go from row to row through the whole list, however
  // few of its rows are made.
  function focusRow(r) {
    if (r < 0 || r >= total) return false;
    if (r * ROW < list.scrollTop) list.scrollTop = r * ROW;
    else if ((r + 1) * ROW > list.scrollTop + list.clientHeight) list.scrollTop = (r + 1) * ROW - list.clientHeight;
    drawRows();
    var node = space.querySelector('[data-r="' + r + '"]');
    if (node) node.focus({preventScroll: true});
    return !!node;
  }
  var steps = {ArrowDown: 1, ArrowUp: -1, PageDown: 10, PageUp: -10};
  space.addEventListener('keydown', function (e) {
    var r = +e.target.dataset.r, to = e.key === 'Tab' ? r + (e.shiftKey ? -1 : 1)
      : e.key === 'Home' ? 0 : e.key === 'End' ? total - 1 : steps[e.key] !== undefined ? r + steps[e.key] : null;
    if (to === null || isNaN(r)) return;
    if (e.key !== 'Tab') to = Math.max(0, Math.min(total - 1, to));
    if (focusRow(to)) e.preventDefault();
  });
  list.addEventListener('scroll', function () { requestAnimationFrame(drawRows); });

  // A phone's panel slides over the map and away again.
  var toggle = document.getElementById('panel-toggle');
  function foldPanel(open) {
    document.body.classList.toggle('panel-open', open);
    toggle.setAttribute('aria-expanded', String(open));
    toggle.textContent = open ? 'Map' : 'List';
  }
  toggle.addEventListener('click', function () {
    foldPanel(!document.body.classList.contains('panel-open'));
    if (document.body.classList.contains('panel-open')) drawRows();
  });
  space.addEventListener('click', function (e) {
    if (e.target.dataset && e.target.dataset.i) pick(+e.target.dataset.i);
  });
  var typing = 0;
  search.addEventListener('input', function () {
    clearTimeout(typing);
    typing = setTimeout(function () { typing = 0; narrowed(); drawTimeline(); }, 150);
  });
  order.addEventListener('change', resetList);

  // ---- trips: where the trail parts, newest first ----------------------------
  var tripsBox = document.getElementById('trips'), tripList = document.getElementById('trip-list'), tripsAsked = 0;
  tripsBox.addEventListener('toggle', drawTrips);
  function drawTrips() {
    if (!tripsBox.open) return;
    var ask = ++tripsAsked;
    asked(source.trips()).then(function (trips) {
      if (ask !== tripsAsked) return;
      tripList.replaceChildren();
      trips.slice().reverse().forEach(function (t) {
        var days = [localTime(t[0], true), localTime(t[1], true)];
        var place = t[7];
        var trip = element('button', [days[0] === days[1] ? days[0] : days.join(' \u2013 '), place,
                                      t[2] + (t[2] === 1 ? ' picture' : ' pictures')].filter(Boolean).join(' \u00b7 '), 'trip');
        trip.type = 'button';
        trip.addEventListener('click', function () {
          following = false;
          foldPanel(false);
          chooseRange({from: t[0], to: t[1]});
          map.fitBounds(L.latLngBounds([t[3], t[4]], [t[5], t[6]]).pad(0.1), {maxZoom: 15, animate: false});
          openGrid([t[4], t[3], t[6], t[5]]);
        });
        tripList.appendChild(trip);
      });
      if (!trips.length) tripList.textContent = 'No pictures with a capture time yet.';
    }, function () {});
  }

  // ---- the timeline: the view's pictures per day, month or year ------------
  // A range of it, dragged over the bars or set with its two sliders (or a
  // trip's), narrows the markers, the trail, the list and the counts, as
  // the search does. A range is its first and last key: "2016" a year,
  // "2016:07" a month, "2016:07:05" a day, or whole capture times.
  var range = null, bars = {keys: [], counts: []}, timelineAsked = 0, timelineDays = [];
  var barBox = document.getElementById('bars'), fromSlider = document.getElementById('t-from');
  var toSlider = document.getElementById('t-to'), rangeLabel = document.getElementById('t-label');
  var allTimes = document.getElementById('t-all'), narrowedNote = document.getElementById('narrowed');

  function narrowing() { return {q: search.value.trim(), from: range && range.from, to: range && range.to}; }
  function pad(n, width) { return String(n).padStart(width, '0'); }
  function keyOf(date, length) { // a UTC date's key of that length
    return [pad(date.getUTCFullYear(), 4), pad(date.getUTCMonth() + 1, 2), pad(date.getUTCDate(), 2)].join(':').slice(0, length);
  }
  function dateOf(key) { var f = key.split(':').map(Number); return new Date(Date.UTC(f[0], (f[1] || 1) - 1, f[2] || 1)); }
  // The key that follows: the next year, month or day; just after a time.
  function nextOf(key) {
    var d = dateOf(key);
    if (key.length === 4) d.setUTCFullYear(d.getUTCFullYear() + 1);
    else if (key.length === 7) d.setUTCMonth(d.getUTCMonth() + 1);
    else if (key.length === 10) d.setUTCDate(d.getUTCDate() + 1);
    else return key + '~';
    return keyOf(d, key.length);
  }
  function keyText(key) {
    if (key.length === 4) return key;
    if (key.length > 10) return localTime(key, true) || key;
    return dateOf(key).toLocaleDateString(undefined, key.length === 7 ? {year: 'numeric', month: 'short', timeZone: 'UTC'}
                                                                        : {dateStyle: 'medium', timeZone: 'UTC'});
  }
  function rangeText(r) {
    var from = keyText(r.from), to = keyText(r.to);
    return from === to ? from : from + ' \u2013 ' + to;
  }
  function narrowingText(f) {
    return [f.from ? 'taken ' + rangeText(f) : '', f.q ? '\u201c' + f.q + '\u201d' : ''].filter(Boolean).join(', ');
  }
  function showNarrowed(f, count) {
    narrowedNote.hidden = !(f.q || f.from);
    narrowedNote.textContent = narrowedNote.hidden ? '' : 'Showing ' + count + (count === 1 ? ' picture ' : ' pictures ') + narrowingText(f);
  }

  // Days to bars: a bar a day up to two months, a month up to six years,
  // else a year. A range chosen is drawn alone, finer, to be narrowed again.
  function barsOf(days) {
    if (range) {
      days = days.filter(function (d) { return d[0] >= range.from.slice(0, 10) && d[0].slice(0, range.to.length) <= range.to; });
    }
    if (!days.length) return {keys: [], counts: []};
    var span = (dateOf(days[days.length - 1][0]) - dateOf(days[0][0])) / DAY;
    var length = span <= 62 ? 10 : span <= 6 * 366 ? 7 : 4, keys = [], counts = [], at = new Map();
    for (var k = days[0][0].slice(0, length); k <= days[days.length - 1][0].slice(0, length); k = nextOf(k)) {
      at.set(k, keys.length);
      keys.push(k);
      counts.push(0);
    }
    days.forEach(function (d) { counts[at.get(d[0].slice(0, length))] += d[1]; });
    return {keys: keys, counts: counts};
  }
  // Whether bar k lies in the range.
  function inRange(k) { return !range || bars.keys[k] < nextOf(range.to) && nextOf(bars.keys[k]) > range.from; }

  function drawTimeline() {
    var ask = ++timelineAsked;
    asked(source.timeline(viewBox(), Math.min(map.getZoom(), 20), narrowing())).then(function (days) {
      if (ask !== timelineAsked) return;
      timelineDays = days;
      bars = barsOf(days);
      drawBars();
    }, function () {});
  }
  function drawBars() {
    var most = Math.max.apply(null, bars.counts.concat(1)), made = document.createDocumentFragment(), chosen = [];
    bars.keys.forEach(function (key, k) {
      var bar = element('div', '', range && !inRange(k) ? 'bar out' : 'bar');
      bar.style.height = Math.max(2, 100 * bars.counts[k] / most) + '%';
      bar.title = keyText(key) + ': ' + bars.counts[k] + (bars.counts[k] === 1 ? ' picture' : ' pictures');
      made.appendChild(bar);
      if (inRange(k)) chosen.push(k);
    });
    barBox.replaceChildren(made);
    [fromSlider, toSlider].forEach(function (slider) { slider.max = Math.max(0, bars.keys.length - 1); });
    fromSlider.value = chosen.length ? chosen[0] : 0;
    toSlider.value = chosen.length ? chosen[chosen.length - 1] : bars.keys.length - 1;
    fromSlider.setAttribute('aria-valuetext', bars.keys.length ? keyText(bars.keys[fromSlider.value]) : 'none');
    toSlider.setAttribute('aria-valuetext', bars.keys.length ? keyText(bars.keys[toSlider.value]) : 'none');
    rangeLabel.textContent = range ? rangeText(range) : bars.keys.length
      ? 'All times: ' + rangeText({from: bars.keys[0], to: bars.keys[bars.keys.length - 1]}) : 'No capture times in view';
    allTimes.hidden = !range;
  }
  // The markers, trail, list and bars again, narrowed anew.
  function narrowed() {
    drawMarkers();
    drawTrail();
    resetList();
    drawBars();
    keepView();
    if (!gridBox.hidden) openGrid(grid.box);
  }
  function chooseRange(r) {
    range = r;
    bars = barsOf(timelineDays);
    narrowed();
  }
  function chooseBars(a, b) {
    if (!bars.keys.length) return;
    chooseRange({from: bars.keys[Math.min(a, b)], to: bars.keys[Math.max(a, b)]});
  }
  [fromSlider, toSlider].forEach(function (slider) {
    slider.addEventListener('change', function () { chooseBars(+fromSlider.value, +toSlider.value); });
  });
  allTimes.addEventListener('click', function () { chooseRange(null); });
  // Dragging over the bars chooses the bars it passes; a click, one bar.
  var dragged = null;
  function barAt(e) {
    var made = barBox.children;
    for (var k = 0; k < made.length - 1; k++) if (e.clientX < made[k].getBoundingClientRect().right + 0.5) return k;
    return made.length - 1;
  }
  barBox.addEventListener('pointerdown', function (e) {
    if (!bars.keys.length) return;
    dragged = barAt(e);
    barBox.setPointerCapture(e.pointerId);
  });
  barBox.addEventListener('pointermove', function (e) {
    if (dragged === null) return;
    var a = Math.min(dragged, barAt(e)), b = Math.max(dragged, barAt(e));
    barBox.querySelectorAll('.bar').forEach(function (bar, k) { bar.classList.toggle('out', k < a || k > b); });
  });
  barBox.addEventListener('pointerup', function (e) {
    if (dragged === null) return;
    chooseBars(dragged, barAt(e));
    dragged = null;
  });

  // ---- an area's pictures as a grid, a picture at a time in the viewer ------
  // Shift-drag an area of the map, or take the view; the grid makes only
  // the thumbnails in sight, in capture-time order, a page at a time.
  var gridBox = document.getElementById('grid'), gridScroll = document.getElementById('grid-scroll');
  var gridSpace = document.getElementById('grid-space'), viewer = document.getElementById('viewer');
  var grid = {asked: 0, total: 0, pages: new Map()}, viewed = -1;

  function openGrid(box) {
    var zoom = Math.min(map.getZoom(), 20);
    grid = {box: box, zoom: zoom, narrowing: narrowing(), total: 0, pages: new Map(), asked: grid.asked + 1};
    gridBox.hidden = false;
    gridScroll.scrollTop = 0;
    document.getElementById('grid-title').textContent = '';
    var links = document.getElementById('grid-export');
    links.replaceChildren();
    ['gpx', 'geojson', 'kml'].forEach(function (format) {
      var a = element('a', format.toUpperCase());
      a.download = 'pictures.' + format;
      a.href = '#';
      a.addEventListener('click', function (e) { // made when asked: an exported page writes it itself
        if (a.dataset.made) return;
        e.preventDefault();
        if (grid.total > MOST_SELECTED) return (a.textContent = 'too many for a file');
        source.selection(box, zoom, grid.narrowing, format).then(function (url) { a.href = url; a.dataset.made = 1; a.click(); },
                                                  function () { a.textContent = 'too many for a file'; });
      });
      links.appendChild(a);
    });
    loadGrid(0);
  }
  function gridRow(r) { var rows = grid.pages.get(Math.floor(r / PAGE)); return rows && rows[r % PAGE]; }
  function loadGrid(k) {
    if (grid.pages.has(k)) return;
    grid.pages.set(k, null);
    var ask = grid.asked;
    asked(source.area(grid.box, grid.zoom, grid.narrowing, k * PAGE, PAGE)).then(function (found) {
      if (ask !== grid.asked) return;
      if (k === 0) describe(found.total, found.rows[0]);
      grid.total = found.total;
      grid.pages.set(k, found.rows);
      drawGrid();
    }, function () { grid.pages.delete(k); });
  }
  // "120 pictures, 4 Jul 2016 – 9 Jul 2016": the first and last in time.
  function describe(total, first) {
    var title = document.getElementById('grid-title'), ask = grid.asked, box = grid.box, zoom = grid.zoom, f = grid.narrowing;
    title.textContent = total + (total === 1 ? ' picture' : ' pictures') + (total ? '' : ' here');
    if (!total) return;
    var last = source.area(box, zoom, f, total - 1, 1).then(function (a) { return source.position(a.rows[0][0]); });
    Promise.all([source.position(first[0]), last]).then(function (ends) {
      var days = ends.map(function (p) { return localTime(p.taken, true); }).filter(Boolean);
      if (ask === grid.asked && days.length) title.textContent += ', ' + days.filter(function (d, k) { return days.indexOf(d) === k; }).join(' \u2013 ');
    });
  }
  function drawGrid() {
    var across = Math.max(1, Math.floor(gridScroll.clientWidth / CELL));
    gridSpace.style.height = Math.ceil(grid.total / across) * CELL + 'px';
    var first = Math.floor(gridScroll.scrollTop / CELL) * across;
    var last = Math.min(grid.total, first + (Math.ceil(gridScroll.clientHeight / CELL) + 1) * across);
    var made = document.createDocumentFragment();
    for (var r = first; r < last; r++) {
      var row = gridRow(r);
      if (!row) { loadGrid(Math.floor(r / PAGE)); continue; }
      var cell = element('button', '', 'cell'), thumb = source.thumb(row[0]);
      cell.type = 'button';
      cell.title = row[1];
      cell.dataset.r = r;
      cell.style.left = (r % across) * CELL + 'px';
      cell.style.top = Math.floor(r / across) * CELL + 'px';
      if (thumb) {
        var image = document.createElement('img');
        image.alt = row[1];
        image.src = thumb;
        cell.appendChild(image);
      } else cell.textContent = row[1];
      made.appendChild(cell);
    }
    keepingFocus(gridSpace, made);
  }
  gridScroll.addEventListener('scroll', function () { requestAnimationFrame(drawGrid); });
  gridSpace.addEventListener('click', function (e) {
    var cell = e.target.closest('.cell');
    if (cell) view(+cell.dataset.r);
  });
  document.getElementById('grid-close').addEventListener('click', function () { gridBox.hidden = true; grid.asked++; });
  document.getElementById('in-view').addEventListener('click', function () { foldPanel(false); openGrid(viewBox()); });

  var selecting = null;
  map.boxZoom.disable(); // shift-drag selects instead
  map.on('mousedown', function (e) {
    if (!e.originalEvent.shiftKey) return;
    map.dragging.disable();
    selecting = {from: e.latlng, box: L.rectangle([e.latlng, e.latlng], {color: '#e80', weight: 1, interactive: false}).addTo(map)};
  });
  map.on('mousemove', function (e) { if (selecting) selecting.box.setBounds([selecting.from, e.latlng]); });
  map.on('mouseup', function () {
    if (!selecting) return;
    var b = selecting.box.getBounds(), shift = 360 * Math.floor((b.getWest() + 180) / 360);
    selecting.box.remove();
    selecting = null;
    map.dragging.enable();
    openGrid([Math.max(-180, b.getWest() - shift), Math.max(-85, b.getSouth()), Math.min(180, b.getEast() - shift),
              Math.min(85, b.getNorth())]);
  });

  // The viewer: the whole picture, its name, time and place; the arrows
  // go through the grid, Esc closes it.
  function view(r) {
    var row = gridRow(r);
    if (!row) return;
    viewed = r;
    viewer.hidden = false;
    var image = document.getElementById('viewer-image'), caption = document.getElementById('viewer-caption');
    image.onerror = function () { // a picture moved from beside an exported page: its thumbnail
      if (source.thumb(row[0]) && image.src !== source.thumb(row[0])) image.src = source.thumb(row[0]);
    };
    image.src = source.whole(row[0]) || '';
    image.alt = row[1];
    caption.textContent = row[1];
    document.getElementById('viewer-prev').disabled = r === 0;
    document.getElementById('viewer-next').disabled = r + 1 >= grid.total;
    if (r + 1 < grid.total) loadGrid(Math.floor((r + 1) / PAGE));
    asked(source.position(row[0])).then(function (p) {
      if (viewed === r) caption.textContent = [p.name, localTime(p.taken), p.town, p.lat.toFixed(5) + ', ' + p.lon.toFixed(5)].filter(Boolean).join(' \u00b7 ');
    }, function () {});
    if (!viewer.contains(document.activeElement)) document.getElementById('viewer-close').focus();
  }
  function closeViewer() {
    viewer.hidden = true;
    var cell = gridSpace.querySelector('[data-r="' + viewed + '"]');
    if (cell) cell.focus();
  }
  document.getElementById('viewer-prev').addEventListener('click', function () { view(viewed - 1); });
  document.getElementById('viewer-next').addEventListener('click', function () { view(viewed + 1); });
  document.getElementById('viewer-close').addEventListener('click', closeViewer);
  document.getElementById('viewer-where').addEventListener('click', function () {
    var row = gridRow(viewed);
    closeViewer();
    if (row) pick(row[0]);
  });
  document.addEventListener('keydown', function (e) {
    if (viewer.hidden) return;
    if (e.key === 'Escape') closeViewer();
    else if (e.key === 'ArrowLeft' && viewed > 0) view(viewed - 1);
    else if (e.key === 'ArrowRight' && viewed + 1 < grid.total) view(viewed + 1);
    else return;
    e.preventDefault();
  });

  // ---- bringing it together ----------------------------------------------
  // The markers, trail and list are asked for again when the view moves,
  // and when positions arrive: at most once a second while they stream in.
  var timer = 0, lastRefresh = 0;
  function refresh() {
    if (timer) return;
    timer = setTimeout(function () {
      timer = 0;
      lastRefresh = Date.now();
      drawMarkers();
      drawTrail();
      resetList();
      drawTrips();
      drawTimeline();
    }, Math.max(100, lastRefresh + 1000 - Date.now()));
  }
  map.on('moveend', function () {
    drawMarkers();
    drawTrail();
    drawTimeline();
    keepView();
  });

  // ---- the address keeps the view -----------------------------------------
  // "#c=LAT,LON&z=ZOOM&q=SEARCH&t=FROM,TO&p=PICTURE", once the map was
  // moved, narrowed or a picture opened: a reload or a bookmark comes back
  // to it.
  var opened = -1;
  function keepView() {
    var c = map.getCenter(), kept = new URLSearchParams();
    if (!following) kept.set('c', c.lat.toFixed(5) + ',' + c.lng.toFixed(5));
    if (!following) kept.set('z', map.getZoom());
    if (search.value.trim()) kept.set('q', search.value.trim());
    if (range) kept.set('t', range.from + ',' + range.to);
    if (opened >= 0) kept.set('p', opened);
    history.replaceState(null, '', kept.toString() ? '#' + kept : location.pathname + location.search);
  }
  function restoreView() {
    var kept = new URLSearchParams(location.hash.slice(1)), c = (kept.get('c') || '').split(',').map(Number);
    if (c.length === 2 && !c.some(isNaN) && kept.get('z') !== null) {
      following = false;
      map.setView(c, +kept.get('z') || 0, {animate: false});
    }
    search.value = kept.get('q') || '';
    var t = (kept.get('t') || '').split(',');
    range = t.length === 2 && /^\d{4}/.test(t[0]) && /^\d{4}/.test(t[1]) ? {from: t[0], to: t[1]} : null;
    if (kept.get('p') !== null) openPopup(+kept.get('p'));
  }
  map.on('popupclose', function () { opened = -1; keepView(); });

  // What the browser test reads.
  window.pintrail = {map: map, pick: pick, following: function () { return following; },
                     pending: function () { return timer !== 0 || typing !== 0 || asking > 0; },
                     rows: function () {
                       var all = [];
                       for (var k = 0; pages.get(k); k++) pages.get(k).forEach(function (row) { all.push(row[0]); });
                       return all;
                     },
                     name: function (i) { return names.get(i); }, trail: function () { return trailOrder; },
                     shown: function () { return shown; }};
  basemap();
  restoreView();
  source.listen(news);
})();
