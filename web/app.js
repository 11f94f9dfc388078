// The page that opens markers: files chosen or dropped, or index.html?open=URL
// (a marker that the same server serves). The library reads them in a worker
// (worker.js); this draws the picture that the library lays out (the same
// picture as lumerca-import --svg) on a canvas, and shows the order, the
// pieces, the warnings and the two output files.
'use strict';

(() => {
  const $ = (selector) => document.querySelector(selector);
  const ui = {
    chooser: $('#chooser'), codePage: $('#code-page'), name: $('#name'), status: $('#status'),
    progress: $('#progress'), markers: $('#markers'), hint: $('#hint'), view: $('#view'),
    message: $('#message'), salvageOffer: $('#salvage-offer'), salvage: $('#salvage'),
    salvageKeeps: $('#salvage-keeps'), warnings: $('#warnings'), drawingArea: $('#drawing-area'),
    canvas: $('#drawing'), pointer: $('#pointer'), svg: $('#download-svg'), order: $('#order'),
    sizes: $('#sizes tbody'), piece: $('#piece'), pieceCuts: $('#piece-cuts tbody'), files: $('#files'),
    drop: $('#drop'),
  };
  const FILES = ['csvimprt.txt', 'posimport.txt'];
  const STAGES = {loading: 'loading', reading: 'reading the marker', writing: 'writing the files', drawing: 'drawing'};

  // ---------------------------------------------------------------- the worker

  const worker = new Worker('worker.js');
  const waiting = new Map();  // `${type} ${id}` -> {resolve, reject}
  let markerProgress = null;  // the marker being read: its progress callback

  function ask(message, answer, transfer = []) {
    return new Promise((resolve, reject) => {
      waiting.set(`${answer} ${message.id}`, {resolve, reject});
      worker.postMessage(message, transfer);
    });
  }

  worker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'ready') {
      document.body.dataset.library = message.version;
      return;
    }
    if (message.type === 'progress') {
      if (markerProgress) markerProgress(message.stage);
      return;
    }
    if (message.type === 'failed') {
      const answers = {open: 'opened', files: 'files', rename: 'renamed', piece: 'piece', svg: 'svg'};
      const key = `${answers[message.request]} ${message.id}`;
      const wait = waiting.get(key);
      waiting.delete(key);
      if (wait) wait.reject(new Error(message.message));
      return;
    }
    const key = `${message.type} ${message.id}`;
    const wait = waiting.get(key);
    waiting.delete(key);
    if (wait) wait.resolve(message);
  };
  worker.onerror = (event) => {
    showStatus(`The library could not be started: ${event.message || 'its files are missing'}`);
    for (const wait of waiting.values()) wait.reject(new Error('the library could not be started'));
    waiting.clear();
  };

  // ---------------------------------------------------------------- markers

  let nextId = 1;
  const markers = [];
  let current = null;
  let queue = Promise.resolve();
  let busy = 0;

  function setBusy(delta) {
    busy += delta;
    document.body.dataset.state = busy > 0 ? 'busy' : 'idle';
    if (busy === 0) {
      ui.progress.hidden = true;
      showStatus('');
    }
  }

  function showStatus(text) {
    ui.status.textContent = text;
  }

  // A marker to open; `load(progress)` gives its bytes, as a Blob (a file
  // chosen or dropped is one already), which the worker reads.
  function addMarker(fileName, load, started) {
    const marker = {
      id: nextId++, fileName, load, started, source: null, codePage: Number(ui.codePage.value),
      salvage: false, name: '', status: 'waiting', info: null, arrays: null, files: null,
      urls: {}, element: document.createElement('li'),
    };
    marker.element.dataset.markerId = String(marker.id);
    marker.element.tabIndex = 0;
    marker.element.setAttribute('role', 'option');
    marker.element.addEventListener('click', () => select(marker));
    marker.element.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') select(marker);
    });
    markers.push(marker);
    ui.markers.append(marker.element);
    ui.hint.hidden = true;
    updateEntry(marker);
    if (!current) select(marker);
    enqueue(marker, true);
    return marker;
  }

  function updateEntry(marker) {
    marker.element.dataset.status = marker.status;
    const state = {
      waiting: 'waiting', loading: 'loading', reading: 'reading',
      imported: 'imported', failed: 'not read',
    }[marker.status] || (marker.info ? marker.info.statusText : marker.status);
    marker.element.replaceChildren(document.createTextNode(marker.fileName));
    const line = document.createElement('span');
    line.className = 'state';
    line.textContent = state;
    marker.element.append(line);
  }

  // Reads the marker (again), one marker at a time.
  function enqueue(marker, load) {
    if (!load) marker.started = performance.now();
    marker.status = load ? 'waiting' : 'reading';
    updateEntry(marker);
    setBusy(+1);
    queue = queue.then(() => read(marker, load)).catch(() => {}).then(() => setBusy(-1));
    return queue;
  }

  async function read(marker, load) {
    const progress = (stage, fraction) => {
      showStatus(`${marker.fileName}: ${STAGES[stage] || stage}…`);
      ui.progress.hidden = false;
      if (fraction === undefined) {
        ui.progress.removeAttribute('value');
      } else {
        ui.progress.value = fraction;
      }
    };
    try {
      if (load || !marker.source) {
        marker.status = 'loading';
        updateEntry(marker);
        progress('loading', 0);
        marker.source = await marker.load((fraction) => progress('loading', fraction));
      }
      marker.status = 'reading';
      updateEntry(marker);
      markerProgress = (stage) => progress(stage);
      const answer = await ask({type: 'open', id: marker.id, source: marker.source, codePage: marker.codePage,
                                salvage: marker.salvage}, 'opened');
      markerProgress = null;
      marker.info = answer.info;
      marker.arrays = typedArrays(answer.arrays);
      setFiles(marker, null);
      marker.status = answer.info.status;
      marker.drawn = false;
    } catch (error) {
      markerProgress = null;
      marker.status = 'failed';
      marker.info = null;
      marker.error = String(error && error.message || error);
    }
    updateEntry(marker);
    if (current === marker) show(marker);
    // Both files, which the worker makes while the page draws.
    if (!written(marker)) return;
    try {
      setFiles(marker, (await ask({type: 'files', id: marker.id}, 'files')).files);
    } catch (error) {
      showStatus(`${marker.fileName}: the files cannot be shown (${error.message})`);
    }
    if (current === marker) updateFiles(marker);
  }

  function written(marker) {
    const info = marker.info;
    return Boolean(info && info.written && info.written.status === 'imported');
  }

  function typedArrays(arrays) {
    return {
      boxes: new Float32Array(arrays.boxes), fills: new Uint32Array(arrays.fills),
      halfs: new Uint8Array(arrays.halfs), boxPieces: new Uint32Array(arrays.boxPieces),
      labels: new Float32Array(arrays.labels), cuts: new Float32Array(arrays.cuts),
      cutPieces: new Uint32Array(arrays.cutPieces),
    };
  }

  // The files as Blobs, each with its text (UTF-8), which is the file itself
  // when the worker sends none.
  function setFiles(marker, files) {
    for (const url of Object.values(marker.urls)) URL.revokeObjectURL(url);
    marker.urls = {};
    marker.files = files && {
      'csvimprt.txt': {blob: files.csvimprt, text: files.csvimprtText || files.csvimprt},
      'posimport.txt': {blob: files.posimport, text: files.posimportText || files.posimport},
    };
  }

  function select(marker) {
    current = marker;
    for (const m of markers) m.element.setAttribute('aria-selected', String(m === marker));
    ui.name.value = marker.name;
    ui.codePage.value = String(marker.codePage);
    show(marker);
  }

  // ---------------------------------------------------------------- what a marker shows

  // 17942439 as "17,942,439" (toLocaleString's first call loads the locale
  // data, a tenth of a second while the page draws).
  function grouped(count) {
    return String(count).replace(/\B(?=(\d{3})+$)/g, ',');
  }

  function number(value, digits) {
    if (typeof value === 'string') return value;  // "inf", "-inf", "nan"
    return value.toFixed(digits);
  }

  // The line that lumerca-import prints for a file it does not import.
  function reasonLine(info) {
    if (info.status === 'imported') {
      const w = info.written;
      return w.status === 'imported' ? '' : `${w.statusText} (${w.reason})`;
    }
    let line = info.statusText;
    if (info.status !== 'no pieces') {
      line += ` (${info.reason}${info.salvage ? ` (--salvage imports ${info.salvage})` : ''})`;
    }
    return line;
  }

  function show(marker) {
    ui.view.hidden = false;
    ui.view.dataset.markerId = String(marker.id);
    ui.view.dataset.status = marker.status;
    delete ui.svg.dataset.markerId;
    const info = marker.info;
    const ready = marker.status !== 'waiting' && marker.status !== 'loading' && marker.status !== 'reading';
    ui.message.className = '';
    ui.warnings.replaceChildren();
    ui.salvageOffer.hidden = true;
    if (!ready) {
      ui.message.textContent = `${marker.fileName}: ${marker.status}…`;
    } else if (!info) {
      ui.message.textContent = `${marker.fileName}: ${marker.error}`;
      ui.message.className = 'failed';
    } else {
      const reason = reasonLine(info);
      if (reason) {
        ui.message.textContent = `${marker.fileName}: ${reason}`;
        ui.message.className = 'failed';
      } else {
        const w = info.written;
        ui.message.textContent = `${marker.fileName}: imported as ${w.name}: ${w.sizes} sizes, ` +
          `${w.pieces} pieces, ${w.cutLines} cut lines${marker.salvage ? ' (with salvage)' : ''}`;
      }
      if (info.status === 'damaged' && info.salvage && !marker.salvage) {
        ui.salvageOffer.hidden = false;
        ui.salvageKeeps.textContent = `Salvage imports ${info.salvage}: what did not arrive reads as zero.`;
      }
      // As lumerca-import tells them: the warnings of a file imported; of one
      // that is not, the line above says what stops it.
      for (const w of info.status === 'imported' ? info.warnings : []) {
        const item = document.createElement('li');
        item.textContent = `${w.path ? `${w.path}: ` : ''}${w.message}` +
          (w.salvage ? ` (salvage imports ${w.salvage})` : '');
        ui.warnings.append(item);
      }
    }
    const drawable = ready && info && info.picture;
    ui.drawingArea.hidden = !drawable;
    ui.order.hidden = !drawable;
    ui.piece.hidden = true;
    if (drawable) {
      showOrder(info);
      drawing.show(marker);
    } else {
      drawing.show(null);
    }
    updateFiles(marker);
  }

  function updateFiles(marker) {
    ui.files.hidden = !(written(marker) && marker.files);
    if (!ui.files.hidden) showFiles(marker);
  }

  function showOrder(info) {
    const order = info.order;
    const set = (key, text) => { ui.order.querySelector(`[data-order="${key}"]`).textContent = text; };
    const written = info.written.status === 'imported' ? info.written.name : order.name;
    set('name', order.storedName === written ? written : `${written} (stored: ${order.storedName})`);
    set('width', typeof order.widthMm === 'number'
      ? `${number(order.widthMm, 1)} mm = ${number(order.widthInches, 3)} in`
      : `${order.widthMm} mm`);
    set('scale', `x ${number(order.scaleX, 4)} (${number(order.scaleXPercent, 2)} %), ` +
                 `y ${number(order.scaleY, 4)} (${number(order.scaleYPercent, 2)} %)`);
    set('pieces', `${order.pieces} placed, ${info.written.pieces} in the position file`);
    // A long list of sizes is laid out when it is opened: hundreds of rows
    // would hold up the drawing.
    ui.sizes.replaceChildren();
    const list = ui.sizes.closest('details');
    set('sizes', String(info.sizes.length));
    let filled = false;
    const fill = () => {
      if (filled) return;
      filled = true;
      for (const size of info.sizes) {
        const row = document.createElement('tr');
        row.dataset.size = String(size.number);
        for (const [value, cls] of [[size.number, 'number'], [size.name, ''], [size.pieces, 'number'],
                                    [size.halfPieces, 'number'], [size.model ? `${size.model} (${size.modelKind})` : '', '']]) {
          const cell = document.createElement('td');
          cell.textContent = String(value);
          if (cls) cell.className = cls;
          row.append(cell);
        }
        ui.sizes.append(row);
      }
    };
    list.ontoggle = () => { if (list.open) fill(); };
    list.open = info.sizes.length <= MANY_SIZES;
    if (list.open) fill();
  }

  const MANY_SIZES = 100;
  const LARGE_TEXT = 256 << 10;  // larger files' text is shown when its section is opened

  function showFiles(marker) {
    for (const name of FILES) {
      const file = marker.files[name];
      const pre = ui.files.querySelector(`[data-file="${name}"]`);
      const details = pre.closest('details');
      const link = ui.files.querySelector(`[data-download="${name}"]`);
      link.download = name;
      ui.files.querySelector(`[data-size="${name}"]`).textContent = `${grouped(file.blob.size)} bytes`;
      const shows = () => pre.dataset.markerId === String(marker.id) && marker.files && marker.files[name] === file;
      const fill = async () => {
        if (shows() && pre.dataset.filled !== 'false') return;
        pre.dataset.filled = 'filling';
        const text = await file.text.text();
        if (!shows()) return;
        pre.textContent = text;
        pre.dataset.filled = 'true';
      };
      pre.dataset.filled = 'false';
      pre.dataset.markerId = String(marker.id);
      pre.textContent = '';
      // The download's address once the page is idle: making it for a large
      // file holds the page up while the browser takes the file's bytes.
      const offer = () => {
        if (!shows()) return;
        if (!marker.urls[name]) marker.urls[name] = URL.createObjectURL(file.blob);
        link.href = marker.urls[name];
        link.dataset.ready = 'true';
      };
      if (marker.urls[name]) {
        offer();
      } else {
        link.removeAttribute('href');
        link.dataset.ready = 'false';
        requestIdleCallback(offer, {timeout: 2000});
      }
      if (file.text.size <= LARGE_TEXT) {
        details.open = true;
        fill();
      } else {
        details.open = false;
        details.ontoggle = () => { if (details.open && shows()) fill(); };
      }
    }
  }

  // ---------------------------------------------------------------- pieces

  let pieceRequest = 0;

  async function showPiece(marker, index) {
    if (index === null) {
      ui.piece.hidden = true;
      return;
    }
    const request = ++pieceRequest;
    let answer;
    try {
      answer = await ask({type: 'piece', id: marker.id, index}, 'piece');
    } catch (error) {
      return;
    }
    if (request !== pieceRequest || current !== marker || !answer.piece) return;
    const p = answer.piece;
    const r = p.record;
    const fields = [
      ['Class', p.className === null ? 'none (its CROIXES record names no class)' :
        `${p.className}${p.writtenName !== p.className ? ` (written ${p.writtenName})` : ''} (class ${p.classIndex})`],
      ['Size', p.sizeNumber === null ? 'none' : `${p.sizeNumber} (size ${p.sizeIndex})`],
      ['In the position file', p.written ? 'yes' : p.half ? 'no: a half piece' : 'no: it belongs to no size'],
      ['Centre', `${coordinate(p.centre[0])}, ${coordinate(p.centre[1])}`],
      ['Extent', `${coordinate(p.extent[0])} × ${coordinate(p.extent[1])}`],
      ['Placed at', `${coordinate(r.PlaceX)}, ${coordinate(r.PlaceY)}`],
      ['Attributes', `Attr2 ${r.Attr2}, Attr4 ${coordinate(r.Attr4)}, Attr5 ${r.Attr5}`],
      ['CROIXES record', String(r.CroixIndex)],
      ['Cut lines', `${p.cutLines.length}${p.cutsElement >= 0 ? ` (.CUTS element ${p.cutsElement})` : ''}`],
    ];
    ui.piece.querySelector('[data-piece="index"]').textContent = String(p.index);
    const list = ui.piece.querySelector('[data-piece="fields"]');
    list.replaceChildren();
    for (const [term, value] of fields) {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      list.append(dt, dd);
    }
    ui.pieceCuts.replaceChildren();
    for (const line of p.cutLines.slice(0, 200)) {
      const row = document.createElement('tr');
      for (const value of line) {
        const cell = document.createElement('td');
        cell.textContent = typeof value === 'number' && !Number.isInteger(value) ? coordinate(value) : String(value);
        row.append(cell);
      }
      ui.pieceCuts.append(row);
    }
    ui.piece.dataset.index = String(p.index);
    ui.piece.hidden = false;
  }

  function coordinate(value) {
    return typeof value === 'number' ? String(Math.round(value * 1e6) / 1e6) : String(value);
  }

  // ---------------------------------------------------------------- the drawing

  const drawing = (() => {
    const canvas = ui.canvas;
    const overlay = document.createElement('canvas');
    const pending = document.createElement('canvas');  // where a drawing is made, slice by slice
    let marker = null;
    let scene = null;           // {picture, style, arrays, labels}
    let view = {zoom: 1, x: 0, y: 0};
    let fitted = true;
    let snapshot = null;        // the last complete drawing and the view it was made for
    let job = null;
    let hovered = null, chosen = null;
    const colours = new Map();

    function css(rgb) {
      let text = colours.get(rgb);
      if (!text) {
        text = `#${(rgb >>> 0).toString(16).padStart(6, '0')}`;
        colours.set(rgb, text);
      }
      return text;
    }

    function size() {
      const ratio = window.devicePixelRatio || 1;
      const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
      const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
      return {ratio, width, height};
    }

    function fit() {
      if (!scene) return;
      const {width, height, ratio} = size();
      const p = scene.picture;
      const zoom = Math.min(width / ratio / p.width, height / ratio / p.height);
      view = {zoom, x: (width / ratio - p.width * zoom) / 2, y: (height / ratio - p.height * zoom) / 2};
      fitted = true;
      redraw();
    }

    function zoomAt(factor, sx, sy) {
      if (!scene) return;
      const zoom = Math.min(Math.max(view.zoom * factor, 1e-4), 1e4);
      view = {zoom, x: sx - (sx - view.x) * (zoom / view.zoom), y: sy - (sy - view.y) * (zoom / view.zoom)};
      fitted = false;
      redraw();
    }

    function panBy(dx, dy) {
      if (!scene) return;
      view = {zoom: view.zoom, x: view.x + dx, y: view.y + dy};
      fitted = false;
      redraw();
    }

    // Shows the last drawing moved and scaled to the view at once, and makes
    // the sharp one, a slice per frame, so that the page keeps answering.
    function redraw() {
      const {width, height, ratio} = size();
      for (const c of [canvas, overlay]) {
        if (c.width !== width || c.height !== height) {
          c.width = width;
          c.height = height;
        }
      }
      const ctx = canvas.getContext('2d');
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      ctx.fillStyle = '#ffffff';
      ctx.fillRect(0, 0, width, height);
      if (snapshot) {
        const k = view.zoom / snapshot.view.zoom;
        ctx.setTransform(k, 0, 0, k, (view.x - snapshot.view.x * k) * ratio, (view.y - snapshot.view.y * k) * ratio);
        ctx.drawImage(snapshot.image, 0, 0);
      }
      drawOverlay();
      if (job) job.cancelled = true;
      delete canvas.dataset.drawn;
      if (scene) start(width, height, ratio);
    }

    function start(width, height, ratio) {
      pending.width = width;
      pending.height = height;
      const ctx = pending.getContext('2d', {willReadFrequently: true});
      const s = scene;
      const p = s.picture, st = s.style, a = s.arrays;
      const v = {...view};
      // The part of the picture in the window, in the picture's pixels.
      const left = -v.x / v.zoom, top = -v.y / v.zoom;
      const right = left + width / ratio / v.zoom, bottom = top + height / ratio / v.zoom;
      const thisJob = {cancelled: false, pieces: 0, halfs: 0, cutLines: 0, labels: 0};
      job = thisJob;
      ctx.setTransform(v.zoom * ratio, 0, 0, v.zoom * ratio, v.x * ratio, v.y * ratio);
      const font = (px, weight = '') => `${weight}${px}px ${st.fontFamily}`;

      const steps = [];
      steps.push(() => {
        ctx.save();
        ctx.setTransform(1, 0, 0, 1, 0, 0);
        ctx.fillStyle = '#ffffff';
        ctx.fillRect(0, 0, width, height);
        ctx.restore();
        ctx.fillStyle = css(st.background);
        ctx.fillRect(0, 0, p.width, p.height);
        ctx.textAlign = 'left';
        ctx.textBaseline = 'alphabetic';
        ctx.fillStyle = '#000000';
        ctx.font = font(st.titleFontSize, 'bold ');
        ctx.fillText(p.title, p.titleX, p.titleY);
        ctx.fillStyle = css(st.subtitleColour);
        ctx.font = font(st.subtitleFontSize);
        ctx.fillText(p.summary, p.summaryX, p.summaryY);
        if (p.frame) {
          ctx.fillStyle = css(st.frameFill);
          ctx.fillRect(p.frameX, p.frameY, p.frameWidth, p.frameHeight);
          ctx.strokeStyle = css(st.frameStroke);
          ctx.lineWidth = st.frameStrokeWidth;
          ctx.strokeRect(p.frameX, p.frameY, p.frameWidth, p.frameHeight);
        }
        return true;
      });

      const inView = (x0, y0, x1, y1) => x1 >= left && x0 <= right && y1 >= top && y0 <= bottom;
      const boxCount = a.fills.length;
      let b = 0;
      steps.push((deadline) => {
        ctx.strokeStyle = css(st.pieceStroke);
        ctx.lineWidth = st.pieceStrokeWidth;
        for (; b < boxCount; b++) {
          if ((b & 255) === 0 && performance.now() > deadline) return false;
          const x = a.boxes[4 * b], y = a.boxes[4 * b + 1], w = a.boxes[4 * b + 2], h = a.boxes[4 * b + 3];
          if (!inView(x, y, x + w, y + h)) continue;
          thisJob.pieces++;
          ctx.fillStyle = css(a.fills[b]);
          if (a.halfs[b]) {
            thisJob.halfs++;
            ctx.globalAlpha = st.halfOpacity;
            ctx.fillRect(x, y, w, h);
            ctx.globalAlpha = 1;
            ctx.setLineDash([st.halfDash, st.halfGap]);
            ctx.strokeRect(x, y, w, h);
            ctx.setLineDash([]);
          } else {
            ctx.fillRect(x, y, w, h);
            ctx.strokeRect(x, y, w, h);
          }
        }
        return true;
      });

      // The cut lines. Where they are at most about a pixel wide on the screen
      // they are set pixel by pixel into the image (a stroke of hundreds of
      // thousands of lines costs the canvas seconds); wider, they are stroked
      // with round caps, a few thousand at a time, each batch drawn before the
      // time is taken, so that no frame waits long.
      const cutCount = a.cutPieces.length;
      const lineWidth = st.cutWidth * v.zoom * ratio;
      let c = 0;
      let batch = 2048;
      let image = null;
      steps.push((deadline) => {
        if (lineWidth <= 1.6) {
          if (!image) image = ctx.getImageData(0, 0, width, height);
          const pixels = new Uint32Array(image.data.buffer);
          const cut = st.cutColour;
          const value = new Uint32Array(new Uint8Array([cut >> 16 & 255, cut >> 8 & 255, cut & 255, 255]).buffer)[0];
          const k = v.zoom * ratio, ox = v.x * ratio, oy = v.y * ratio;
          while (c < cutCount) {
            const end = Math.min(cutCount, c + 4096);
            for (; c < end; c++) {
              let x1 = Math.round(a.cuts[4 * c] * k + ox), y1 = Math.round(a.cuts[4 * c + 1] * k + oy);
              const x2 = Math.round(a.cuts[4 * c + 2] * k + ox), y2 = Math.round(a.cuts[4 * c + 3] * k + oy);
              if ((x1 < 0 && x2 < 0) || (y1 < 0 && y2 < 0) || (x1 >= width && x2 >= width) ||
                  (y1 >= height && y2 >= height)) continue;
              thisJob.cutLines++;
              const dx = Math.abs(x2 - x1), dy = -Math.abs(y2 - y1);
              const sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
              let error = dx + dy;
              for (let n = 0; n <= 4 * (width + height); n++) {
                if (x1 >= 0 && y1 >= 0 && x1 < width && y1 < height) pixels[y1 * width + x1] = value;
                if (x1 === x2 && y1 === y2) break;
                const e2 = 2 * error;
                if (e2 >= dy) { error += dy; x1 += sx; }
                if (e2 <= dx) { error += dx; y1 += sy; }
              }
            }
            if (performance.now() > deadline) break;
          }
          if (c < cutCount) return false;
          ctx.putImageData(image, 0, 0);
          image = null;
          return true;
        }
        ctx.strokeStyle = css(st.cutColour);
        ctx.lineWidth = st.cutWidth;
        ctx.lineCap = 'round';
        while (c < cutCount) {
          const began = performance.now();
          ctx.beginPath();
          const end = Math.min(cutCount, c + batch);
          for (; c < end; c++) {
            const x1 = a.cuts[4 * c], y1 = a.cuts[4 * c + 1], x2 = a.cuts[4 * c + 2], y2 = a.cuts[4 * c + 3];
            if (!inView(Math.min(x1, x2), Math.min(y1, y2), Math.max(x1, x2), Math.max(y1, y2))) continue;
            thisJob.cutLines++;
            ctx.moveTo(x1, y1);
            ctx.lineTo(x2, y2);
          }
          ctx.stroke();
          ctx.getImageData(0, 0, 1, 1);  // the batch is drawn now, not at the frame's end
          const took = performance.now() - began;
          batch = Math.max(256, Math.min(65536, Math.round(batch * 4 / Math.max(took, 0.5))));
          if (performance.now() > deadline) break;
        }
        ctx.lineCap = 'butt';
        return c >= cutCount;
      });

      // Labels that are at least 3 pixels high on the screen, as in the picture.
      let l = 0;
      steps.push((deadline) => {
        ctx.fillStyle = css(st.labelColour);
        ctx.textAlign = 'center';
        ctx.textBaseline = 'middle';
        let current = 0;
        for (; l < boxCount; l++) {
          if ((l & 255) === 0 && performance.now() > deadline) return false;
          const px = a.labels[3 * l + 2];
          if (px === 0 || px * v.zoom < 3) continue;
          const x = a.labels[3 * l], y = a.labels[3 * l + 1];
          if (!inView(x - 200, y - px, x + 200, y + px)) continue;
          if (px !== current) {
            ctx.font = font(px);
            current = px;
          }
          ctx.fillText(s.labels[l], x, y);
          thisJob.labels++;
        }
        return true;
      });

      steps.push(() => {
        ctx.textAlign = 'left';
        ctx.textBaseline = 'alphabetic';
        ctx.fillStyle = '#000000';
        ctx.font = font(st.legendFontSize, 'bold ');
        ctx.fillText('Sizes', p.legendX, p.legendY);
        ctx.font = font(st.legendFontSize);
        ctx.strokeStyle = css(st.pieceStroke);
        ctx.lineWidth = st.pieceStrokeWidth;
        const swatch = st.swatchSize;
        for (const e of p.legend) {
          let indent = 20;
          if (e.kind === 'more') {
            indent = 0;
          } else if (e.kind === 'cut') {
            ctx.strokeStyle = css(e.colour);
            ctx.lineWidth = st.cutWidth;
            ctx.beginPath();
            ctx.moveTo(e.x, e.y + 7);
            ctx.lineTo(e.x + swatch, e.y + 7);
            ctx.stroke();
            ctx.strokeStyle = css(st.pieceStroke);
            ctx.lineWidth = st.pieceStrokeWidth;
          } else {
            ctx.fillStyle = css(e.colour);
            ctx.globalAlpha = e.kind === 'half' ? st.halfOpacity : 1;
            ctx.fillRect(e.x, e.y, swatch, swatch);
            ctx.globalAlpha = 1;
            if (e.kind === 'half') ctx.setLineDash([st.halfDash, st.halfGap]);
            ctx.strokeRect(e.x, e.y, swatch, swatch);
            ctx.setLineDash([]);
          }
          ctx.fillStyle = '#000000';
          ctx.fillText(e.text, e.x + indent, e.y + 11);
        }
        return true;
      });

      let step = 0;
      const slice = () => {
        if (thisJob.cancelled) return;
        const deadline = performance.now() + 10;
        while (step < steps.length) {
          if (!steps[step](deadline)) break;
          step++;
          if (performance.now() > deadline) break;
        }
        if (step < steps.length) {
          if (!snapshot) show();
          requestAnimationFrame(slice);
          return;
        }
        show();
        done(thisJob, v);
      };
      const show = () => {
        const visible = canvas.getContext('2d');
        visible.setTransform(1, 0, 0, 1, 0, 0);
        visible.drawImage(pending, 0, 0);
      };
      slice();
    }

    function done(finished, v) {
      job = null;
      const image = document.createElement('canvas');
      image.width = pending.width;
      image.height = pending.height;
      image.getContext('2d').drawImage(pending, 0, 0);
      snapshot = {image, view: v};
      canvas.dataset.pieces = String(finished.pieces);
      canvas.dataset.halfs = String(finished.halfs);
      canvas.dataset.cutLines = String(finished.cutLines);
      canvas.dataset.labels = String(finished.labels);
      canvas.dataset.view = `${v.zoom} ${v.x} ${v.y}`;
      canvas.dataset.drawn = 'true';
      drawOverlay();
      if (marker && !marker.drawn) {
        marker.drawn = true;
        const ms = performance.now() - marker.started;
        marker.element.dataset.openMs = ms.toFixed(0);
        ui.view.dataset.openMs = ms.toFixed(0);
      }
    }

    // The piece pointed at and the one chosen, outlined over the drawing.
    function drawOverlay() {
      const {ratio} = size();
      const ctx = overlay.getContext('2d');
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      ctx.clearRect(0, 0, overlay.width, overlay.height);
      if (!scene) return;
      ctx.setTransform(view.zoom * ratio, 0, 0, view.zoom * ratio, view.x * ratio, view.y * ratio);
      const a = scene.arrays;
      for (const [box, colour] of [[hovered, '#1565c0'], [chosen, '#0d47a1']]) {
        if (box === null) continue;
        ctx.lineWidth = 3 / view.zoom;
        ctx.strokeStyle = colour;
        ctx.strokeRect(a.boxes[4 * box], a.boxes[4 * box + 1], a.boxes[4 * box + 2], a.boxes[4 * box + 3]);
      }
      const canvasArea = canvas.getContext('2d');
      canvasArea.setTransform(1, 0, 0, 1, 0, 0);
      canvasArea.drawImage(overlay, 0, 0);
    }

    // The topmost box at a point of the window (CSS pixels), or null.
    function boxAt(sx, sy) {
      if (!scene) return null;
      const x = (sx - view.x) / view.zoom, y = (sy - view.y) / view.zoom;
      const boxes = scene.arrays.boxes;
      for (let b = scene.arrays.fills.length - 1; b >= 0; b--) {
        const bx = boxes[4 * b], by = boxes[4 * b + 1];
        if (x >= bx && y >= by && x <= bx + boxes[4 * b + 2] && y <= by + boxes[4 * b + 3]) return b;
      }
      return null;
    }

    function pieceOf(box) {
      return box === null ? null : scene.arrays.boxPieces[box];
    }

    function point(box, choose) {
      if (choose) chosen = box;
      else hovered = box;
      redrawOverlay();
      const shown = choose ? box : (hovered !== null ? hovered : chosen);
      canvas.dataset.piece = shown === null ? '' : String(pieceOf(shown));
      showPiece(marker, pieceOf(shown));
    }

    function redrawOverlay() {
      // The overlay is drawn over the last drawing: put it back first.
      const {ratio} = size();
      const ctx = canvas.getContext('2d');
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      if (snapshot && !job) {
        const k = view.zoom / snapshot.view.zoom;
        ctx.fillStyle = '#ffffff';
        ctx.fillRect(0, 0, canvas.width, canvas.height);
        ctx.setTransform(k, 0, 0, k, (view.x - snapshot.view.x * k) * ratio, (view.y - snapshot.view.y * k) * ratio);
        ctx.drawImage(snapshot.image, 0, 0);
      }
      drawOverlay();
    }

    // -------------------------------------------------------------- input

    let drag = null;
    canvas.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      canvas.setPointerCapture(event.pointerId);
      drag = {x: event.offsetX, y: event.offsetY, moved: false};
    });
    canvas.addEventListener('pointermove', (event) => {
      if (!scene) return;
      const x = (event.offsetX - view.x) / view.zoom, y = (event.offsetY - view.y) / view.zoom;
      const p = scene.picture;
      const mx = p.minX + (x - p.left) / p.scale, my = p.maxY - (y - p.top) / p.scale;
      ui.pointer.textContent = Number.isFinite(mx) && Number.isFinite(my) ? `${mx.toFixed(1)}, ${my.toFixed(1)} mm` : '';
      if (drag) {
        const dx = event.offsetX - drag.x, dy = event.offsetY - drag.y;
        if (drag.moved || Math.abs(dx) + Math.abs(dy) > 3) {
          drag.moved = true;
          canvas.classList.add('dragging');
          drag.x = event.offsetX;
          drag.y = event.offsetY;
          panBy(dx, dy);
        }
        return;
      }
      const box = boxAt(event.offsetX, event.offsetY);
      if (box !== hovered) point(box, false);
    });
    const endDrag = (event) => {
      if (!drag) return;
      const clicked = !drag.moved;
      drag = null;
      canvas.classList.remove('dragging');
      if (clicked && event.type === 'pointerup') point(boxAt(event.offsetX, event.offsetY), true);
    };
    canvas.addEventListener('pointerup', endDrag);
    canvas.addEventListener('pointercancel', endDrag);
    canvas.addEventListener('pointerleave', () => {
      if (hovered !== null && !drag) point(null, false);
    });
    canvas.addEventListener('wheel', (event) => {
      event.preventDefault();
      const delta = event.deltaMode === 1 ? event.deltaY * 16 : event.deltaY;
      zoomAt(Math.exp(-delta * 0.0015), event.offsetX, event.offsetY);
    }, {passive: false});
    canvas.addEventListener('keydown', (event) => {
      if (!scene) return;
      const w = canvas.clientWidth, h = canvas.clientHeight;
      const keys = {
        ArrowLeft: () => panBy(w * 0.1, 0), ArrowRight: () => panBy(-w * 0.1, 0),
        ArrowUp: () => panBy(0, h * 0.1), ArrowDown: () => panBy(0, -h * 0.1),
        '+': () => zoomAt(1.25, w / 2, h / 2), '=': () => zoomAt(1.25, w / 2, h / 2),
        '-': () => zoomAt(0.8, w / 2, h / 2), f: fit, F: fit, 0: fit,
        ']': () => choose(+1), '[': () => choose(-1), Escape: () => point(null, true),
      };
      const action = keys[event.key];
      if (!action) return;
      event.preventDefault();
      action();
    });
    function choose(step) {
      const count = scene.arrays.fills.length;
      if (count === 0) return;
      const box = chosen === null ? (step > 0 ? 0 : count - 1) : (chosen + step + count) % count;
      point(box, true);
    }
    new ResizeObserver(() => {
      if (!scene) return;
      if (fitted) fit(); else redraw();
    }).observe(canvas);

    // -------------------------------------------------------------- a marker

    function showMarker(m) {
      if (job) job.cancelled = true;
      job = null;
      marker = m;
      snapshot = null;
      hovered = chosen = null;
      delete canvas.dataset.drawn;
      canvas.dataset.piece = '';
      if (!m) {
        scene = null;
        return;
      }
      scene = {picture: m.info.picture, style: m.info.style, arrays: m.arrays, labels: m.info.picture.labels};
      canvas.dataset.markerId = String(m.id);
      fit();
    }

    return {show: showMarker, fit, zoomAt, panBy};
  })();

  // ---------------------------------------------------------------- loading bytes

  // What the server sends, as it arrives (a large marker shows its progress).
  async function fetchBlob(url, progress) {
    const response = await fetch(url, {credentials: 'same-origin'});
    if (!response.ok) throw new Error(`cannot be loaded (${response.status} ${response.statusText})`);
    const total = Number(response.headers.get('Content-Length')) || 0;
    const chunks = [];
    let at = 0;
    const reader = response.body.getReader();
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      chunks.push(value);
      at += value.length;
      if (total) progress(Math.min(at / total, 1));
    }
    return new Blob(chunks);
  }

  function openFiles(files) {
    const started = performance.now();
    const list = Array.from(files);
    const first = list.length ? addMarker(list[0].name, async () => list[0], started) : null;
    for (const file of list.slice(1)) addMarker(file.name, async () => file, started);
    if (first) select(first);
  }

  function openUrl(relative) {
    const started = performance.now();
    let url;
    try {
      url = new URL(relative, window.location.href);
    } catch (error) {
      showStatus(`${relative}: not a address`);
      return;
    }
    // Only what the same server serves: nothing is fetched from elsewhere.
    if (url.origin !== window.location.origin) {
      showStatus(`${relative}: only markers that this server serves can be opened by address`);
      return;
    }
    const name = decodeURIComponent(url.pathname.split('/').pop() || relative);
    select(addMarker(name, (p) => fetchBlob(url.href, p), started));
  }

  // ---------------------------------------------------------------- the controls

  ui.chooser.addEventListener('change', () => {
    openFiles(ui.chooser.files);
    ui.chooser.value = '';
  });

  let dragDepth = 0;
  window.addEventListener('dragenter', (event) => {
    if (!event.dataTransfer || !Array.from(event.dataTransfer.types).includes('Files')) return;
    event.preventDefault();
    dragDepth++;
    ui.drop.hidden = false;
  });
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    if (event.dataTransfer) event.dataTransfer.dropEffect = 'copy';
  });
  window.addEventListener('dragleave', () => {
    dragDepth = Math.max(0, dragDepth - 1);
    if (dragDepth === 0) ui.drop.hidden = true;
  });
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    ui.drop.hidden = true;
    if (event.dataTransfer && event.dataTransfer.files.length) openFiles(event.dataTransfer.files);
  });

  ui.codePage.addEventListener('change', () => {
    if (!current) return;
    current.codePage = Number(ui.codePage.value);
    enqueue(current, false);
  });

  ui.name.addEventListener('change', async () => {
    const marker = current;
    if (!marker || !marker.info || marker.info.status !== 'imported') {
      if (marker) marker.name = ui.name.value;
      return;
    }
    const name = ui.name.value;
    setBusy(+1);
    try {
      const answer = await ask({type: 'rename', id: marker.id, name}, 'renamed');
      if (answer.result.bad) {
        showStatus(`“${answer.result.bad}” is not a character of code page ${marker.codePage}: the name was not changed`);
        ui.name.value = marker.name;
      } else {
        marker.name = name;
        marker.info.written.name = answer.result.name;
        marker.info.written.status = answer.result.status;
        marker.info.written.reason = answer.result.reason;
        setFiles(marker, answer.files);
      }
    } catch (error) {
      showStatus(`${marker.fileName}: ${error.message}`);
    }
    setBusy(-1);
    if (current === marker) show(marker);
  });

  ui.salvage.addEventListener('click', () => {
    if (!current) return;
    current.salvage = true;
    enqueue(current, false);
  });

  $('#fit').addEventListener('click', () => drawing.fit());
  $('#zoom-in').addEventListener('click', () => {
    drawing.zoomAt(1.25, ui.canvas.clientWidth / 2, ui.canvas.clientHeight / 2);
  });
  $('#zoom-out').addEventListener('click', () => {
    drawing.zoomAt(0.8, ui.canvas.clientWidth / 2, ui.canvas.clientHeight / 2);
  });
  ui.svg.addEventListener('click', async (event) => {
    const marker = current;
    if (!marker || ui.svg.dataset.markerId === String(marker.id)) return;
    event.preventDefault();
    try {
      const answer = await ask({type: 'svg', id: marker.id}, 'svg');
      if (ui.svg.dataset.url) URL.revokeObjectURL(ui.svg.dataset.url);
      const url = URL.createObjectURL(new Blob([answer.svg], {type: 'image/svg+xml'}));
      ui.svg.href = url;
      ui.svg.dataset.url = url;
      ui.svg.dataset.markerId = String(marker.id);
      ui.svg.download = marker.fileName.replace(/\.[^.]*$/, '') + '.svg';
      ui.svg.click();
    } catch (error) {
      showStatus(`${marker.fileName}: ${error.message}`);
    }
  });

  // ---------------------------------------------------------------- start

  // For scripts that look at the page (its tests): the marker shown, with its
  // picture's arrays.
  window.lumercaPage = Object.freeze({current: () => current});

  document.body.dataset.state = 'idle';
  const open = new URLSearchParams(window.location.search).getAll('open');
  for (const relative of open) openUrl(relative);
})();
