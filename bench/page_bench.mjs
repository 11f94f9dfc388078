// The page's benchmark (bench/page_bench.sh): the marker MARKER opened
// through the file chooser of the page in PAGE_DIR, RUNS times in a fresh
// page each, then read again WARM times in the last page (its worker's memory
// and code already used); NATIVE holds lumerca-bench-memory's figures for the
// same file.
import {launch, serve} from './harness.mjs';
import path from 'node:path';

const {PAGE_DIR, MARKER, NATIVE, WORK} = process.env;
const RUNS = Number(process.env.RUNS || 3);
const WARM = Number(process.env.WARM || 3);
const native = JSON.parse(NATIVE);
const server = await serve({'/': PAGE_DIR, '/markers/': path.dirname(MARKER)});
const browser = await launch(path.join(WORK, 'profile'));

const runs = [];
const warm = [];
for (let run = 0; run < RUNS; run++) {
  const page = await browser.newPage();
  await page.goto(`${server.url}index.html`);
  await page.waitForFunction(() => document.body.dataset.library, {timeout: 60000});
  // While the marker is read and drawn: the longest gap between two frames,
  // and how long a click waits before the page handles it (clicks every 100 ms).
  await page.evaluate(() => {
    window.benchProbe = {gap: 0, clicks: [], done: false};
    let last = performance.now();
    const frame = (now) => {
      window.benchProbe.gap = Math.max(window.benchProbe.gap, now - last);
      last = now;
      if (!window.benchProbe.done) requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
    document.querySelector('nav').addEventListener('pointerdown', (event) => {
      window.benchProbe.clicks.push(performance.now() - event.timeStamp);
    });
  });
  const input = await page.$('#chooser');
  const started = Date.now();
  await input.uploadFile(MARKER);
  const hint = await (await page.$('nav')).boundingBox();
  let clicking = true;
  const clicks = (async () => {
    while (clicking) {
      await page.mouse.click(hint.x + 20, hint.y + hint.height - 20);
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  })();
  await page.waitForFunction(() => document.querySelector('#drawing').dataset.drawn === 'true',
                             {timeout: 600000, polling: 50});
  const wall = Date.now() - started;
  clicking = false;
  await clicks;
  const figures = await page.evaluate(() => {
    window.benchProbe.done = true;
    const marker = window.lumercaPage.current();
    return {
      openMs: Number(document.querySelector('#view').dataset.openMs),
      timing: marker.info.timing,
      status: marker.info.status,
      cutLines: Number(document.querySelector('#drawing').dataset.cutLines),
      pieces: Number(document.querySelector('#drawing').dataset.pieces),
      gap: window.benchProbe.gap,
      clicks: window.benchProbe.clicks,
    };
  });
  figures.wall = wall;
  runs.push(figures);
  if (run === RUNS - 1) {
    // Read again in another code page that writes ASCII alike, in place of
    // the first reading, whose memory the worker reuses.
    for (let again = 1; again <= WARM; again++) {
      await page.evaluate(() => { window.lumercaPage.current().info.seen = true; });
      await page.select('#code-page', again % 2 ? '1250' : '1252');
      await page.waitForFunction(() => {
        const info = window.lumercaPage.current().info;
        return info && !info.seen && document.body.dataset.state === 'idle' &&
               document.querySelector('#drawing').dataset.drawn === 'true';
      }, {timeout: 600000, polling: 50});
      warm.push(await page.evaluate(() => window.lumercaPage.current().info.timing));
    }
  }
  await page.close();
}
await browser.close();
await server.close();

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const best = (values) => Math.min(...values);
const f = (v) => v.toFixed(0).padStart(7);
console.log(`marker: ${path.basename(MARKER)}, ${(native.bytes / 1e6).toFixed(2)} MB, ` +
            `${runs[0].pieces} pieces drawn, ${runs[0].cutLines} cut lines drawn (${runs[0].status})`);
console.log(`runs: ${RUNS}, each in a fresh page; milliseconds, best and median\n`);
console.log('                                   best  median');
console.log(`open and draw (page's own clock) ${f(best(runs.map((r) => r.openMs)))} ${f(median(runs.map((r) => r.openMs)))}`);
console.log(`open and draw (seen from outside)${f(best(runs.map((r) => r.wall)))} ${f(median(runs.map((r) => r.wall)))}`);
console.log(`longest gap between frames       ${f(best(runs.map((r) => r.gap)))} ${f(median(runs.map((r) => r.gap)))}`);
const waits = runs.map((r) => Math.max(0, ...r.clicks));
console.log(`longest wait of a click          ${f(best(waits))} ${f(median(waits))}  (${runs.map((r) => r.clicks.length).join(', ')} clicks)`);
const table = (title, timings, nativeOf) => {
  console.log(`\n${title.padEnd(17)}WebAssembly  native  ratio`);
  for (const [name, key] of [['read', 'read'], ['write', 'write'], ['picture', 'draw']]) {
    const wasm = best(timings.map((t) => t[key]));
    console.log(`${name.padEnd(17)}${f(wasm)} ${f(nativeOf(key))}  ${(wasm / nativeOf(key)).toFixed(2).padStart(5)}`);
  }
  const wasmRw = best(timings.map((t) => t.read + t.write));
  const nativeRw = nativeOf('read') + nativeOf('write');
  console.log(`${'read + write'.padEnd(17)}${f(wasmRw)} ${f(nativeRw)}  ${(wasmRw / nativeRw).toFixed(2).padStart(5)}`);
};
// The first marker of a fresh page against the native first run, each on
// memory fresh from the system; then both with their memory used before.
table('first', runs.map((r) => r.timing), (key) => native[`first_${key}_ms`]);
if (warm.length) table(`again (${warm.length})`, warm, (key) => native[`${key}_ms`]);
console.log('\n(WebAssembly: best of the runs; native: lumerca-bench-memory, its first run, then the fastest of 5)');
