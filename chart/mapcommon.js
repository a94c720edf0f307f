// The map pages' common logic: the script calls the player makes, drawn on
// the tile map, or on the map service when a page has loaded it. Without
// tiles (no network) the car and its track still show on a plain background.
(function (global) {
  'use strict';

  var config = global.VelmorMapConfig || {};
  var state = {
    convert: 1,      // 1: positions arrive uncorrected
    key: '',
    tool: 1001,      // 1001 pan, 1003 zoom in, 1004 zoom out
    cars: {},        // name -> {lat, lng, heading, time, speed, info}
    tracks: {},      // name -> [[lat, lng], ...]
    tileUrl: null,   // null: the public tile server; '': no tiles
    minZoom: 0,
    maxZoom: 19,
    centred: false
  };
  var backend = null;

  function toNumber(v) {
    var n = parseFloat(v);
    return isFinite(n) ? n : NaN;
  }
  function validPosition(lat, lng) {
    return isFinite(lat) && isFinite(lng) && Math.abs(lat) <= 90 && Math.abs(lng) <= 180 && !(lat === 0 && lng === 0);
  }
  function heading(v) {
    var h = toNumber(v);
    return isFinite(h) ? ((h % 360) + 360) % 360 : 0;
  }
  function escapeHtml(s) {
    return String(s === undefined || s === null ? '' : s)
      .replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
  }
  // The event text may carry line breaks "<br />"; nothing else is markup.
  function infoHtml(s) {
    return escapeHtml(s).replace(/&lt;br \/&gt;/g, '<br />');
  }
  function labelHtml(name, car) {
    var parts = ['<b>' + escapeHtml(name) + '</b>'];
    if (car.time) parts.push(escapeHtml(car.time));
    if (car.speed) parts.push(escapeHtml(car.speed));
    if (car.info && car.info.replace(/\s/g, '') !== '') parts.push(infoHtml(car.info));
    return parts.join('<br />');
  }
  function arrowSvg(deg) {
    return '<svg xmlns="http://www.w3.org/2000/svg" width="30" height="30" viewBox="-15 -15 30 30"' +
      ' style="transform: rotate(' + deg + 'deg)">' +
      '<circle r="13" fill="#ffffff" fill-opacity="0.85" stroke="#1f4e9c" stroke-width="2"/>' +
      '<path d="M0,-11 L7,8 L0,3 L-7,8 Z" fill="#1f4e9c"/></svg>';
  }

  // The map service draws mainland China on a shifted grid: positions as a
  // receiver reports them are moved onto it unless the player corrected them
  // already (SetConvertCoorFlag(0)). The tile map uses the receiver's grid.
  var GRID_A = 6378245.0, GRID_EE = 0.00669342162296594323;
  function outsideShiftedArea(lat, lng) {
    return lng < 72.004 || lng > 137.8347 || lat < 0.8293 || lat > 55.8271;
  }
  function shiftLat(x, y) {
    var r = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * Math.sqrt(Math.abs(x));
    r += (20.0 * Math.sin(6.0 * x * Math.PI) + 20.0 * Math.sin(2.0 * x * Math.PI)) * 2.0 / 3.0;
    r += (20.0 * Math.sin(y * Math.PI) + 40.0 * Math.sin(y / 3.0 * Math.PI)) * 2.0 / 3.0;
    r += (160.0 * Math.sin(y / 12.0 * Math.PI) + 320.0 * Math.sin(y * Math.PI / 30.0)) * 2.0 / 3.0;
    return r;
  }
  function shiftLng(x, y) {
    var r = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * Math.sqrt(Math.abs(x));
    r += (20.0 * Math.sin(6.0 * x * Math.PI) + 20.0 * Math.sin(2.0 * x * Math.PI)) * 2.0 / 3.0;
    r += (20.0 * Math.sin(x * Math.PI) + 40.0 * Math.sin(x / 3.0 * Math.PI)) * 2.0 / 3.0;
    r += (150.0 * Math.sin(x / 12.0 * Math.PI) + 300.0 * Math.sin(x / 30.0 * Math.PI)) * 2.0 / 3.0;
    return r;
  }
  function shiftedPosition(lat, lng) {
    if (outsideShiftedArea(lat, lng)) return [lat, lng];
    var dLat = shiftLat(lng - 105.0, lat - 35.0), dLng = shiftLng(lng - 105.0, lat - 35.0);
    var radLat = lat / 180.0 * Math.PI, magic = Math.sin(radLat);
    magic = 1 - GRID_EE * magic * magic;
    var sqrtMagic = Math.sqrt(magic);
    dLat = (dLat * 180.0) / ((GRID_A * (1 - GRID_EE)) / (magic * sqrtMagic) * Math.PI);
    dLng = (dLng * 180.0) / (GRID_A / sqrtMagic * Math.cos(radLat) * Math.PI);
    return [lat + dLat, lng + dLng];
  }
  function servicePosition(lat, lng) {
    return state.convert === 1 ? shiftedPosition(lat, lng) : [lat, lng];
  }

  // ---- the tile map ----
  function TileBackend(element) {
    var map = L.map(element, { zoomControl: true, attributionControl: true, worldCopyJump: true });
    map.setView([0, 0], 2);
    L.control.scale({ imperial: false }).addTo(map);
    var layer = null, cars = {}, lines = {};

    this.kind = 'tiles';
    this.map = map;
    this.setTiles = function () {
      if (layer) { map.removeLayer(layer); layer = null; }
      if (state.tileUrl === '') return;
      var url = state.tileUrl === null ? 'https://tile.openstreetmap.org/{z}/{x}/{y}.png' : state.tileUrl;
      var options = { minZoom: state.minZoom, maxZoom: 19, maxNativeZoom: state.maxZoom };
      if (state.tileUrl === null) options.attribution = '&copy; OpenStreetMap contributors';
      layer = L.tileLayer(url, options).addTo(map);
    };
    this.drawCar = function (name, car) {
      var icon = L.divIcon({ className: 'velmor-car', html: arrowSvg(car.heading), iconSize: [30, 30], iconAnchor: [15, 15] });
      var m = cars[name];
      if (!m) {
        m = cars[name] = L.marker([car.lat, car.lng], { icon: icon, keyboard: false, zIndexOffset: 1000 }).addTo(map);
        m.bindTooltip('', { permanent: true, direction: 'right', offset: [16, 0], className: 'velmor-car-info' });
      } else {
        m.setLatLng([car.lat, car.lng]);
        m.setIcon(icon);
      }
      m.setTooltipContent(labelHtml(name, car));
    };
    this.drawTrack = function (name, points) {
      var line = lines[name];
      if (!line) line = lines[name] = L.polyline([], { color: '#d7301f', weight: 4, opacity: 0.85 }).addTo(map);
      line.setLatLngs(points);
    };
    // One point more: appended, so a long track costs the same per point.
    this.addTrackPoint = function (name, point, points) {
      if (lines[name]) lines[name].addLatLng(point);
      else this.drawTrack(name, points);
    };
    this.clearTracks = function () {
      for (var n in lines) map.removeLayer(lines[n]);
      lines = {};
    };
    this.follow = function (lat, lng) {
      if (!state.centred) {
        // Street level, or the deepest level a local tile file holds when that is not far off it.
        var zoom = 16;
        if (state.tileUrl && state.maxZoom >= 10) zoom = Math.min(16, state.maxZoom);
        map.setView([lat, lng], Math.max(state.minZoom, zoom));
        state.centred = true;
      } else if (!map.getBounds().pad(-0.15).contains([lat, lng])) {
        map.panTo([lat, lng]);
      }
    };
    this.setTool = function (tool) {
      element.classList.remove('tool-zoom-in', 'tool-zoom-out');
      if (tool === 1003) element.classList.add('tool-zoom-in');
      if (tool === 1004) element.classList.add('tool-zoom-out');
    };
    map.on('click', function (e) {
      if (state.tool === 1003) map.setZoomAround(e.latlng, map.getZoom() + 1);
      else if (state.tool === 1004) map.setZoomAround(e.latlng, map.getZoom() - 1);
    });
    this.markers = function () { return Object.keys(cars).length; };
    this.trackPoints = function (name) { return lines[name] ? lines[name].getLatLngs().length : 0; };
    this.setTiles();
  }

  // ---- the map service ----
  function ServiceBackend(element) {
    var maps = global.google.maps;
    var map = new maps.Map(element, { center: { lat: 0, lng: 0 }, zoom: 2, scaleControl: true });
    var cars = {}, labels = {}, lines = {};

    this.kind = 'service';
    this.map = map;
    this.setTiles = function () {};
    this.drawCar = function (name, car) {
      var icon = { path: maps.SymbolPath.FORWARD_CLOSED_ARROW, scale: 5, rotation: car.heading,
                   fillColor: '#1f4e9c', fillOpacity: 1, strokeColor: '#ffffff', strokeWeight: 2 };
      var p = servicePosition(car.lat, car.lng), pos = { lat: p[0], lng: p[1] };
      if (!cars[name]) {
        cars[name] = new maps.Marker({ position: pos, map: map, icon: icon, zIndex: 1000 });
        labels[name] = new maps.InfoWindow({ disableAutoPan: true });
      } else {
        cars[name].setPosition(pos);
        cars[name].setIcon(icon);
      }
      labels[name].setContent('<div class="velmor-car-info">' + labelHtml(name, car) + '</div>');
    };
    this.showInfo = function (name) {
      if (labels[name]) labels[name].open({ map: map, anchor: cars[name] });
    };
    this.drawTrack = function (name, points) {
      var path = points.map(function (p) { var q = servicePosition(p[0], p[1]); return { lat: q[0], lng: q[1] }; });
      if (!lines[name]) {
        lines[name] = new maps.Polyline({ path: path, map: map, strokeColor: '#d7301f', strokeWeight: 4, strokeOpacity: 0.85 });
      } else {
        lines[name].setPath(path);
      }
    };
    this.addTrackPoint = function (name, point, points) {
      var q = servicePosition(point[0], point[1]);
      if (lines[name]) lines[name].getPath().push(new maps.LatLng(q[0], q[1]));
      else this.drawTrack(name, points);
    };
    this.clearTracks = function () {
      for (var n in lines) lines[n].setMap(null);
      lines = {};
    };
    this.follow = function (rawLat, rawLng) {
      var p = servicePosition(rawLat, rawLng), lat = p[0], lng = p[1];
      if (!state.centred) {
        map.setCenter({ lat: lat, lng: lng });
        map.setZoom(16);
        state.centred = true;
      } else if (map.getBounds() && !map.getBounds().contains({ lat: lat, lng: lng })) {
        map.panTo({ lat: lat, lng: lng });
      }
    };
    this.setTool = function (tool) {
      map.setOptions({ draggableCursor: tool === 1001 ? null : 'crosshair' });
    };
    map.addListener('click', function (e) {
      if (state.tool === 1003) { map.setZoom(map.getZoom() + 1); map.panTo(e.latLng); }
      else if (state.tool === 1004) { map.setZoom(map.getZoom() - 1); map.panTo(e.latLng); }
    });
    this.markers = function () { return Object.keys(cars).length; };
    this.trackPoints = function (name) { return lines[name] ? lines[name].getPath().getLength() : 0; };
  }

  function redraw() {
    backend.setTiles();
    backend.setTool(state.tool);
    var names = Object.keys(state.cars);
    for (var i = 0; i < names.length; ++i) backend.drawCar(names[i], state.cars[names[i]]);
    for (var n in state.tracks) backend.drawTrack(n, state.tracks[n]);
    if (names.length) {
      var last = state.cars[names[names.length - 1]];
      state.centred = false;
      backend.follow(last.lat, last.lng);
    }
  }

  function useTiles() {
    var element = document.getElementById('map');
    if (backend && backend.kind === 'tiles') return;
    var fresh = document.createElement('div');
    fresh.id = 'map';
    element.parentNode.replaceChild(fresh, element);
    backend = new TileBackend(fresh);
    redraw();
  }

  function start() {
    var element = document.getElementById('map');
    var service = config.service && global.google && global.google.maps && global.google.maps.Map;
    if (service) {
      try {
        backend = new ServiceBackend(element);
      } catch (e) {
        backend = null;
      }
    }
    if (!backend) backend = new TileBackend(element);
    backend.setTool(state.tool);
  }

  // The service calls this when it refuses the key: the tile map takes over.
  global.gm_authFailure = function () { useTiles(); };

  // ---- the calls the player makes ----
  global.SetConvertCoorFlag = function (n) {
    state.convert = parseInt(n, 10) === 1 ? 1 : 0;
  };
  global.SetUserKey = function (key, n) {
    state.key = String(key === undefined || key === null ? '' : key);
  };
  global.MoveCar = function (name, lat, lng, dir, time, speed, zero, info, extra1, extra2, extra3) {
    var la = toNumber(lat), ln = toNumber(lng);
    if (!validPosition(la, ln)) return;
    name = String(name);
    var car = { lat: la, lng: ln, heading: heading(dir), time: String(time || ''), speed: String(speed || ''),
                info: String(info || '') };
    state.cars[name] = car;
    backend.drawCar(name, car);
    backend.follow(la, ln);
  };
  global.ShowCarInfo = function (name) {
    name = String(name);
    if (state.cars[name] && backend.showInfo) backend.showInfo(name);
  };
  global.HistoryPath = function (name, lat, lng, dir, blank) {
    var la = toNumber(lat), ln = toNumber(lng);
    if (!validPosition(la, ln)) return;
    name = String(name);
    var points = state.tracks[name] || (state.tracks[name] = []);
    var last = points[points.length - 1];
    if (last && last[0] === la && last[1] === ln) return;
    points.push([la, ln]);
    backend.addTrackPoint(name, [la, ln], points);
  };
  global.clearHistorylines = function (blank) {
    state.tracks = {};
    backend.clearTracks();
  };

  // ---- the host's own calls ----
  // The tiles to show: an address with {z}/{x}/{y}, '' for none; zooms the source holds.
  global.SetTileSource = function (url, minZoom, maxZoom) {
    state.tileUrl = String(url);
    state.minZoom = Math.max(0, parseInt(minZoom, 10) || 0);
    state.maxZoom = Math.max(state.minZoom, parseInt(maxZoom, 10) || 18);
    if (backend.kind !== 'tiles') useTiles(); else backend.setTiles();
  };
  global.SetMapTool = function (tool) {
    tool = parseInt(tool, 10);
    if (tool !== 1001 && tool !== 1003 && tool !== 1004) return;
    state.tool = tool;
    backend.setTool(tool);
  };
  // Where the map service would draw a position ([lat, lng]).
  global.ServicePosition = function (lat, lng) { return servicePosition(toNumber(lat), toNumber(lng)); };
  // What the page shows, for the host's checks.
  global.MapState = function () {
    var tracks = {};
    for (var n in state.tracks) tracks[n] = backend.trackPoints(n);
    return JSON.stringify({ backend: backend.kind, convert: state.convert, tool: state.tool,
                            markers: backend.markers(), tracks: tracks, cars: state.cars });
  };

  start();
})(window);
