// What the page's browser tests and its benchmark share: a static web server
// on the loopback address for the page's folder and the markers to open,
// and Debian's Chromium, headless, with a fresh profile under the build tree.
import {createReadStream, promises as fs} from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm', '.svg': 'image/svg+xml',
  '.json': 'application/json', '.txt': 'text/plain; charset=utf-8',
};

// Serves each folder of `roots` ({'/': pageDir, '/fixtures/': dir}) at
// http://127.0.0.1:PORT/, as any static server does: GET and HEAD only,
// nothing outside the folders. Records the paths asked for.
export async function serve(roots) {
  const requests = [];
  const server = http.createServer(async (request, response) => {
    const url = new URL(request.url, 'http://localhost');
    requests.push(url.pathname);
    const prefix = Object.keys(roots).filter((p) => url.pathname.startsWith(p))
      .sort((a, b) => b.length - a.length)[0];
    const relative = decodeURIComponent(url.pathname.slice(prefix ? prefix.length : 0)) || 'index.html';
    const root = prefix ? path.resolve(roots[prefix]) : null;
    const file = root ? path.resolve(root, relative) : null;
    if (request.method !== 'GET' && request.method !== 'HEAD') {
      response.writeHead(405).end();
      return;
    }
    if (!file || (file !== root && !file.startsWith(root + path.sep))) {
      response.writeHead(404).end();
      return;
    }
    try {
      const stat = await fs.stat(file);
      if (!stat.isFile()) throw new Error('not a file');
      response.writeHead(200, {
        'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Cache-Control': 'no-store',
      });
      if (request.method === 'HEAD') response.end();
      else createReadStream(file).pipe(response);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const {port} = server.address();
  return {
    url: `http://127.0.0.1:${port}/`,
    requests,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// Chromium without a window, a GPU, a sandbox (the tests run as root) or any
// of its own traffic (updates, sync, safe browsing, metrics).
export async function launch(profile, executable = process.env.CHROMIUM || '/usr/bin/chromium') {
  await fs.rm(profile, {recursive: true, force: true});
  await fs.mkdir(profile, {recursive: true});
  return puppeteer.launch({
    executablePath: executable,
    headless: true,
    userDataDir: profile,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-default-apps',
      '--disable-extensions', '--disable-features=Translate,MediaRouter,OptimizationHints',
      '--metrics-recording-only', '--safebrowsing-disable-auto-update', '--password-store=basic',
      '--use-mock-keychain', '--font-render-hinting=none', '--force-device-scale-factor=1',
      '--disable-dev-shm-usage',
    ],
    defaultViewport: {width: 1280, height: 900, deviceScaleFactor: 1},
    protocolTimeout: 600000,
  });
}
