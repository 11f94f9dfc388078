// The page in headless Chromium: every marker opened through ?open= and
// through the file chooser, and some dropped on the page, shows what
// lumerca-import makes of it: the same two files (on the page and as
// downloads, byte for byte), the same line for a file it does not import, the
// same warnings, the same picture (its SVG byte for byte, and on the canvas
// the pieces and cut lines that --dump counts); a piece's record when pointed
// at or chosen; zoom and pan; the name and the code page; salvage; and no
// request to anywhere but the page's own server.
import assert from 'node:assert/strict';
import {execFileSync, spawnSync} from 'node:child_process';
import {promises as fs} from 'node:fs';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import {launch, serve} from './harness.mjs';

const {PAGE_DIR, TOOL, FIXTURES, WORK} = process.env;
const FILES = ['csvimprt.txt', 'posimport.txt'];
const WAIT = {timeout: 120000};

let server, browser;
const references = new Map();

// What lumerca-import makes of a file: its exit status, the line on standard
// error for a file not imported, its warnings, both files and the counts of
// what its picture draws, from --dump.
function reference(name, options = []) {
  const key = [name, ...options].join(' ');
  if (references.has(key)) return references.get(key);
  const file = path.join(FIXTURES, name);
  const out = path.join(WORK, 'reference', key.replace(/[^A-Za-z0-9.-]+/g, '_'));
  execFileSync('rm', ['-rf', out]);
  const run = spawnSync(TOOL, ['-o', out, ...options, file], {encoding: 'latin1'});
  const lines = run.stderr.split('\n').filter((l) => l !== '');
  const prefix = `lumerca-import: ${file}: `;
  const ref = {
    status: run.status,
    line: lines.filter((l) => l.startsWith(prefix)).map((l) => l.slice(prefix.length))[0] || '',
    warnings: lines.filter((l) => l.startsWith(`warning: ${file}: `)).map((l) => l.slice(`warning: ${file}: `.length)),
    files: {},
  };
  for (const f of FILES) {
    try {
      ref.files[f] = new Uint8Array(execFileSync('cat', [path.join(out, f)], {maxBuffer: 1 << 30}));
    } catch {
      ref.files[f] = null;
    }
  }
  const dump = spawnSync(TOOL, ['--dump', ...options.filter((o) => o !== '--salvage'), file],
                         {encoding: 'utf8', maxBuffer: 1 << 30});
  ref.drawn = null;
  if (dump.status === 0) {
    const d = JSON.parse(dump.stdout);
    const finite = (v) => typeof v === 'number';
    let pieces = 0, halfs = 0, cutLines = 0;
    const placed = new Map();
    for (const p of d.pieces) {
      placed.set(p.index, finite(p.PlaceX) && finite(p.PlaceY));
      if (!(finite(p.centre[0]) && finite(p.centre[1]) && finite(p.extent[0]) && finite(p.extent[1]))) continue;
      pieces++;
      if (p.half) halfs++;
    }
    for (const e of d.splits) {
      if (!e.first_for_piece || !placed.get(e.PieceIndex)) continue;
      cutLines += Math.min(Math.max(e.SplitCount, 0), e.splits.length);
    }
    ref.drawn = {pieces, halfs, cutLines};
  }
  const svg = path.join(out, 'picture.svg');
  const drawn = spawnSync(TOOL, ['--svg', svg, ...options.filter((o) => o !== '--salvage'), file]);
  ref.svg = drawn.status === 0 ? execFileSync('cat', [svg], {maxBuffer: 1 << 30}).toString('utf8') : null;
  references.set(key, ref);
  return ref;
}

function decode(bytes, codePage = 1252) {
  const label = {1252: 'windows-1252', 932: 'shift_jis'}[codePage];
  return new TextDecoder(label).decode(bytes);
}

// Waits until the page has read every marker and drawn the one it shows.
async function settled(page) {
  await page.waitForFunction(() => {
    const busy = document.body.dataset.state !== 'idle';
    const view = document.querySelector('#view');
    const reading = ['waiting', 'loading', 'reading'].includes(view.dataset.status);
    const drawing = !document.querySelector('#drawing-area').hidden &&
      document.querySelector('#drawing').dataset.drawn !== 'true';
    const offering = !document.querySelector('#files').hidden &&
      Array.from(document.querySelectorAll('[data-download]')).some((a) => a.dataset.ready !== 'true');
    return !busy && !view.hidden && !reading && !drawing && !offering;
  }, WAIT);
}

// What the page shows of the marker it shows.
function shown(page) {
  return page.evaluate(async () => {
    const $ = (s) => document.querySelector(s);
    const files = {};
    for (const name of ['csvimprt.txt', 'posimport.txt']) {
      const link = $(`[data-download="${name}"]`);
      const pre = $(`[data-file="${name}"]`);
      // A large file's text is there once its section is opened.
      if (!$('#files').hidden && pre.dataset.filled !== 'true') {
        pre.closest('details').open = true;
        for (let i = 0; i < 1200 && pre.dataset.filled !== 'true'; i++) {
          await new Promise((resolve) => setTimeout(resolve, 50));
        }
      }
      files[name] = $('#files').hidden ? null : {
        text: $(`[data-file="${name}"]`).textContent,
        download: Array.from(new Uint8Array(await (await fetch(link.href)).arrayBuffer())),
        filename: link.download,
      };
    }
    const canvas = $('#drawing');
    return {
      status: $('#view').dataset.status,
      message: $('#message').textContent,
      failed: $('#message').classList.contains('failed'),
      warnings: Array.from(document.querySelectorAll('#warnings li'), (li) => li.textContent),
      salvageOffered: !$('#salvage-offer').hidden,
      drawn: $('#drawing-area').hidden ? null : {
        pieces: Number(canvas.dataset.pieces), halfs: Number(canvas.dataset.halfs),
        cutLines: Number(canvas.dataset.cutLines),
      },
      files,
    };
  });
}

function svgOf(page) {
  return page.evaluate(async () => {
    const link = document.querySelector('#download-svg');
    link.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true}));
    for (let i = 0; i < 600 && link.dataset.markerId !== document.querySelector('#view').dataset.markerId; i++) {
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    return (await fetch(link.href)).text();
  });
}

// The page shows of `name` what the tool makes of it.
async function expectAsTool(page, name, {options = [], codePage = 1252, svg = false} = {}) {
  const ref = reference(name, options);
  const got = await shown(page);
  if (ref.status === 0) {
    assert.equal(got.status, 'imported', `${name}: ${got.message}`);
    assert.equal(got.failed, false);
    for (const f of FILES) {
      assert.ok(got.files[f], `${name}: ${f} is on the page`);
      assert.ok(Buffer.from(got.files[f].download).equals(Buffer.from(ref.files[f])), `${name}: the download of ${f}`);
      assert.ok(got.files[f].text === decode(ref.files[f], codePage), `${name}: the text of ${f}`);
      assert.equal(got.files[f].filename, f);
    }
  } else {
    assert.equal(got.message, `${name}: ${ref.line}`, `${name}: the tool's line`);
    assert.equal(got.failed, true);
    for (const f of FILES) assert.equal(got.files[f], null, `${name}: no ${f}`);
  }
  assert.deepEqual(got.warnings.map((w) => w.replace(/ \(salvage imports /, ' (--salvage imports ')),
                   ref.warnings, `${name}: warnings`);
  assert.deepEqual(got.drawn, ref.drawn, `${name}: pieces and cut lines drawn`);
  if (svg && ref.svg !== null) assert.ok(await svgOf(page) === ref.svg, `${name}: the picture's SVG`);
  return got;
}

async function fixtures() {
  return (await fs.readdir(FIXTURES)).sort();
}

async function newPage() {
  const page = await browser.newPage();
  const outside = [];
  page.on('request', (request) => {
    const url = request.url();
    if (!url.startsWith(server.url) && !url.startsWith('blob:') && !url.startsWith('data:')) outside.push(url);
  });
  page.on('pageerror', (error) => { page.errors.push(error.message); });
  page.errors = [];
  page.outside = outside;
  return page;
}

before(async () => {
  server = await serve({'/': PAGE_DIR, '/fixtures/': FIXTURES});
  browser = await launch(path.join(WORK, 'profile'));
});

after(async () => {
  if (browser) await browser.close();
  if (server) await server.close();
});

describe('the page', () => {
  test('opens each marker by ?open= as the tool imports it, and draws what --dump holds', async () => {
    const page = await newPage();
    for (const name of await fixtures()) {
      await page.goto(`${server.url}index.html?open=fixtures/${encodeURIComponent(name)}`);
      await settled(page);
      await expectAsTool(page, name, {svg: true});
    }
    assert.deepEqual(page.errors, []);
    assert.deepEqual(page.outside, []);
    await page.close();
  });

  test('opens several markers from the file chooser, and each shows what the tool makes of it', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html`);
    const names = await fixtures();
    const input = await page.$('#chooser');
    await input.uploadFile(...names.map((n) => path.join(FIXTURES, n)));
    await page.waitForFunction((count) => document.querySelectorAll('#markers li').length === count &&
      Array.from(document.querySelectorAll('#markers li')).every((li) => !['waiting', 'loading', 'reading'].includes(li.dataset.status)),
    WAIT, names.length);
    for (let i = 0; i < names.length; i++) {
      await page.click(`#markers li:nth-child(${i + 1})`);
      await settled(page);
      await expectAsTool(page, names[i]);
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('opens markers dropped on it', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html`);
    await page.evaluate(async () => {
      const transfer = new DataTransfer();
      for (const name of ['blouse.mrk', 'notes.txt']) {
        const bytes = await (await fetch(`fixtures/${name}`)).arrayBuffer();
        transfer.items.add(new File([bytes], name));
      }
      for (const type of ['dragenter', 'dragover', 'drop']) {
        document.body.dispatchEvent(new DragEvent(type, {dataTransfer: transfer, bubbles: true, cancelable: true}));
      }
    });
    await page.waitForFunction(() => document.querySelectorAll('#markers li').length === 2, WAIT);
    await settled(page);
    await expectAsTool(page, 'blouse.mrk');
    await page.click('#markers li:nth-child(2)');
    await settled(page);
    await expectAsTool(page, 'notes.txt');
    assert.equal(await page.$eval('#drop', (e) => e.hidden), true);
    await page.close();
  });

  test('says why a damaged, a foreign and an empty file are not imported, stays usable, and salvages on request', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html?open=fixtures/empty.mrk&open=fixtures/notes.txt&open=fixtures/halfs-cut.mrk&open=fixtures/jacket.mrk`);
    await page.waitForFunction(() => document.querySelectorAll('#markers li').length === 4 &&
      document.body.dataset.state === 'idle', WAIT);
    const lines = [];
    for (const [i, name] of ['empty.mrk', 'notes.txt', 'halfs-cut.mrk', 'jacket.mrk'].entries()) {
      await page.click(`#markers li:nth-child(${i + 1})`);
      await settled(page);
      const got = await expectAsTool(page, name);
      lines.push(got.message);
    }
    assert.match(lines[0], /^empty\.mrk: cannot be opened as a marker file \(.*empty/);
    assert.match(lines[1], /^notes\.txt: cannot be opened as a marker file \(not a compound file: it holds text/);
    assert.match(lines[2], /^halfs-cut\.mrk: damaged: .*--salvage imports the 1/);

    await page.click('#markers li:nth-child(3)');
    await settled(page);
    assert.equal((await shown(page)).salvageOffered, true);
    await page.click('#salvage');
    await page.waitForFunction(() => document.querySelector('#view').dataset.status === 'imported', WAIT);
    await settled(page);
    await expectAsTool(page, 'halfs-cut.mrk', {options: ['--salvage']});
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('lists the sizes of the order, a long list folded until it is opened', async () => {
    const page = await newPage();
    const names = await fixtures();
    for (const name of ['jacket.mrk', 'generated-sizes.mrk'].filter((n) => names.includes(n))) {
      const dump = JSON.parse(execFileSync(TOOL, ['--dump', path.join(FIXTURES, name)],
                                           {encoding: 'utf8', maxBuffer: 1 << 30}));
      const numbers = dump.sizes.records.map((r) => String(r.SizeNumber));
      await page.goto(`${server.url}index.html?open=fixtures/${name}`);
      await settled(page);
      const rows = () => page.$$eval('#sizes tbody tr', (trs) => trs.map((tr) => tr.dataset.size));
      const list = () => page.$eval('#sizes', (t) => ({
        open: t.closest('details').open, count: document.querySelector('[data-order="sizes"]').textContent,
      }));
      const folded = numbers.length > 100;
      assert.deepEqual(await list(), {open: !folded, count: String(numbers.length)}, name);
      if (folded) {
        assert.deepEqual(await rows(), [], `${name}: no rows until the list is opened`);
        await page.$eval('#sizes', (t) => { t.closest('details').open = true; });
        await page.waitForFunction(() => document.querySelectorAll('#sizes tbody tr').length > 0, WAIT);
      }
      assert.deepEqual(await rows(), numbers, `${name}: one row per size, in order`);
    }
    assert.ok(names.includes('jacket.mrk'));
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('writes the name given and reads the code page chosen, as --name and --codepage do', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html?open=fixtures/jacket.mrk`);
    await settled(page);
    await page.$eval('#name', (input) => {
      input.value = 'SPRING LINE 7';
      input.dispatchEvent(new Event('change'));
    });
    await page.waitForFunction(() => document.querySelector('#message').textContent.includes('SPRING LINE 7'), WAIT);
    await settled(page);
    await expectAsTool(page, 'jacket.mrk', {options: ['--name', 'SPRING LINE 7']});

    await page.goto(`${server.url}index.html?open=fixtures/names-932.mrk`);
    await settled(page);
    await expectAsTool(page, 'names-932.mrk');
    await page.select('#code-page', '932');
    await page.waitForFunction(() => document.querySelector('#message').textContent.includes('imported as'), WAIT);
    await settled(page);
    const got = await expectAsTool(page, 'names-932.mrk', {options: ['--codepage', '932'], codePage: 932});
    assert.match(got.message, /imported as ブラウス ＡＢ/);

    await page.goto(`${server.url}index.html?open=fixtures/names-1252.mrk`);
    await settled(page);
    await expectAsTool(page, 'names-1252.mrk');
    assert.equal(await page.$eval('#order [data-order="name"]', (e) => e.textContent),
                 'B---- ------- (stored: Blusé Ärmel-ø)');
    await page.close();
  });

  test('shows a piece\'s record when it is pointed at or chosen, and zooms, pans and fits', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html?open=fixtures/jacket.mrk`);
    await settled(page);
    const dump = JSON.parse(execFileSync(TOOL, ['--dump', path.join(FIXTURES, 'jacket.mrk')], {encoding: 'utf8'}));
    const canvas = await page.$('#drawing');
    const box = await canvas.boundingBox();
    const view = async () => (await page.$eval('#drawing', (c) => c.dataset.view)).split(' ').map(Number);
    const [zoom, x0, y0] = await view();

    // Pointing at the middle of piece 5's box shows its record.
    const rect = await page.evaluate(() => {
      const info = window.lumercaPage.current().arrays;
      const b = Array.from(info.boxPieces).indexOf(5);
      return Array.from(info.boxes.slice(4 * b, 4 * b + 4));
    });
    await page.mouse.move(box.x + x0 + (rect[0] + rect[2] / 2) * zoom, box.y + y0 + (rect[1] + rect[3] / 2) * zoom);
    await page.waitForFunction(() => document.querySelector('#piece').dataset.index === '5' &&
      !document.querySelector('#piece').hidden, WAIT);
    const record = await page.$eval('#piece', (e) => e.textContent);
    assert.ok(record.includes(dump.pieces[5].Class), record);
    assert.ok(record.includes(`${dump.pieces[5].SizeNumber} (size ${dump.pieces[5].SizeIndex})`), record);

    // Keys choose pieces, pan, zoom and fit.
    await canvas.focus();
    await page.keyboard.press(']');
    await page.waitForFunction(() => document.querySelector('#drawing').dataset.piece === '0', WAIT);
    await page.mouse.move(box.x + 2, box.y + box.height - 2);
    await page.waitForFunction(() => document.querySelector('#piece').dataset.index === '0', WAIT);
    const cuts = await page.$$eval('#piece-cuts tbody tr', (rows) => rows.length);
    assert.equal(cuts, 6);
    await page.keyboard.press('+');
    await page.waitForFunction((z) => Number(document.querySelector('#drawing').dataset.view.split(' ')[0]) > z, WAIT, zoom);
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('f');
    await page.waitForFunction((z) => Number(document.querySelector('#drawing').dataset.view.split(' ')[0]) === z, WAIT, zoom);

    // The wheel zooms at the pointer; a drag pans.
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.wheel({deltaY: -400});
    await page.waitForFunction((z) => Number(document.querySelector('#drawing').dataset.view.split(' ')[0]) > 1.5 * z, WAIT, zoom);
    const [, xBefore, yBefore] = await view();
    await page.mouse.down();
    await page.mouse.move(box.x + box.width / 2 + 120, box.y + box.height / 2 + 40, {steps: 5});
    await page.mouse.up();
    await page.waitForFunction((x) => Number(document.querySelector('#drawing').dataset.view.split(' ')[1]) > x + 100, WAIT, xBefore);
    const [, xAfter, yAfter] = await view();
    assert.ok(Math.abs(xAfter - xBefore - 120) < 2 && Math.abs(yAfter - yBefore - 40) < 2, `${xAfter} ${yAfter}`);
    await page.click('#fit');
    await page.waitForFunction((z) => Number(document.querySelector('#drawing').dataset.view.split(' ')[0]) === z, WAIT, zoom);
    await page.close();
  });

  test('draws each box in its size\'s colour and the cut lines in red, where the picture puts them', async () => {
    const page = await newPage();
    await page.goto(`${server.url}index.html?open=fixtures/jacket.mrk`);
    await settled(page);
    await page.screenshot({path: path.join(WORK, 'jacket-page.png')});
    // A pixel of the canvas at a point of the picture, and where that point is in the window.
    const probe = (x, y) => page.evaluate((px, py) => {
      const canvas = document.querySelector('#drawing');
      const [zoom, vx, vy] = canvas.dataset.view.split(' ').map(Number);
      const sx = vx + px * zoom, sy = vy + py * zoom;
      const rgb = Array.from(canvas.getContext('2d').getImageData(Math.round(sx), Math.round(sy), 1, 1).data).slice(0, 3);
      return {rgb, sx, sy};
    }, x, y);
    const arrays = await page.evaluate(() => {
      const a = window.lumercaPage.current().arrays;
      return {boxes: Array.from(a.boxes), fills: Array.from(a.fills), halfs: Array.from(a.halfs),
              boxPieces: Array.from(a.boxPieces), cuts: Array.from(a.cuts), cutPieces: Array.from(a.cutPieces)};
    });
    const withCuts = new Set(arrays.cutPieces);
    let boxes = 0;
    for (let b = 0; b < arrays.fills.length && boxes < 6; b++) {
      if (arrays.halfs[b] || withCuts.has(arrays.boxPieces[b])) continue;
      const [x, y, w, h] = arrays.boxes.slice(4 * b, 4 * b + 4);
      const fill = arrays.fills[b];
      const want = [fill >> 16 & 255, fill >> 8 & 255, fill & 255];
      const {rgb} = await probe(x + w * 0.15, y + h * 0.2);
      assert.ok(want.every((v, i) => Math.abs(v - rgb[i]) <= 3), `box of piece ${arrays.boxPieces[b]}: ${rgb}, not ${want}`);
      boxes++;
    }
    assert.equal(boxes, 6);
    // Each cut line probed at its middle, zoomed in there with the wheel.
    const box = await (await page.$('#drawing')).boundingBox();
    for (let c = 0; c < arrays.cutPieces.length; c += 13) {
      const [x1, y1, x2, y2] = arrays.cuts.slice(4 * c, 4 * c + 4);
      const {sx, sy} = await probe((x1 + x2) / 2, (y1 + y2) / 2);
      await page.mouse.move(box.x + sx, box.y + sy);
      await page.mouse.wheel({deltaY: -1000});
      await page.waitForFunction(() => document.querySelector('#drawing').dataset.view.split(' ')[0] > 2, WAIT);
      await page.waitForFunction(() => document.querySelector('#drawing').dataset.drawn === 'true', WAIT);
      const {rgb: [r, g, b]} = await probe((x1 + x2) / 2, (y1 + y2) / 2);
      assert.ok(r > 150 && g < 110 && b < 110, `cut line ${c} of piece ${arrays.cutPieces[c]}: ${r} ${g} ${b}`);
      await page.click('#fit');
      await page.waitForFunction(() => document.querySelector('#drawing').dataset.view.split(' ')[0] < 2 &&
        document.querySelector('#drawing').dataset.drawn === 'true', WAIT);
    }
    await page.close();
  });

  test('downloads both files as the tool writes them', async () => {
    const page = await newPage();
    const folder = path.join(WORK, 'downloads');
    await fs.rm(folder, {recursive: true, force: true});
    await fs.mkdir(folder, {recursive: true});
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: folder, eventsEnabled: true});
    await page.goto(`${server.url}index.html?open=fixtures/jacket.mrk`);
    await settled(page);
    const ref = reference('jacket.mrk');
    for (const f of FILES) {
      await page.click(`[data-download="${f}"]`);
      let bytes = null;
      for (let i = 0; i < 400 && bytes === null; i++) {
        try {
          bytes = new Uint8Array(await fs.readFile(path.join(folder, f)));
          if (bytes.length !== ref.files[f].length) bytes = null;
        } catch {
          bytes = null;
        }
        if (bytes === null) await new Promise((resolve) => setTimeout(resolve, 50));
      }
      assert.deepEqual(bytes, ref.files[f], `${f} as downloaded`);
    }
    await page.close();
  });
});
