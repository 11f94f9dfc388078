// The page's worker: reads markers with the library (lumerca.js and
// lumerca.wasm, binding.cpp) off the page's thread. It answers messages only;
// nothing is shared with the page, and nothing leaves the machine: the only
// requests it makes are for the library and the code pages' tables, from the
// folder that serves the page.
//
// Messages in (each with a number `id` that names a marker):
//   {type: 'open', id, source: Blob, codePage, salvage}
//   {type: 'files', id}            both files of the marker opened
//   {type: 'rename', id, name}     both files again with another name
//   {type: 'piece', id, index}     one piece's record
//   {type: 'svg', id}              the picture as SVG
//   {type: 'close', id}
// Messages out: {type: 'ready', version} once; {type: 'progress', id, stage}
// while a marker is read; {type: 'opened', id, info, arrays} (the picture's
// arrays as ArrayBuffers handed over), {type: 'files', id, files},
// {type: 'renamed', id, result, files}, {type: 'piece', id, index, piece},
// {type: 'svg', id, svg}, {type: 'failed', id, message}. The files are Blobs:
// {csvimprt, csvimprtText, posimport, posimportText}, each text (UTF-8) null
// where it is the file's bytes themselves.
'use strict';

importScripts('lumerca.js');

// The arrays of a session (binding.cpp, enum Array).
const ARRAYS = ['boxes', 'fills', 'halfs', 'boxPieces', 'labels', 'cuts', 'cutPieces'];
const CSVIMPRT = 7, POSIMPORT = 8;
// The double-byte code pages, whose tables are files of codepages/.
const TABLE_FILES = new Set([932, 936, 949, 950]);

const utf8 = new TextDecoder('utf-8');
const sessions = new Map();
const loadedTables = new Set();
let lib = null;
const ready = createLumerca({
  locateFile: (path) => new URL(path, self.location.href).href,
}).then((module) => {
  lib = module;
  lib.FS.mkdir('/codepages');
  postMessage({type: 'ready', version: text(lib._lm_version())});
});

function text(pointer, bytes) {
  const heap = lib.HEAPU8;
  if (bytes === undefined) {
    bytes = 0;
    while (heap[pointer + bytes] !== 0) bytes++;
  }
  return utf8.decode(heap.subarray(pointer, pointer + bytes));
}

// A copy of a session's array, in a buffer of its own.
function array(session, which) {
  const pointer = lib._lm_array(session, which);
  const bytes = lib._lm_array_bytes(session, which);
  return lib.HEAPU8.slice(pointer, pointer + bytes).buffer;
}

// The tables of a double-byte code page, fetched once from beside the page.
async function loadTables(codePage) {
  if (!TABLE_FILES.has(codePage) || loadedTables.has(codePage)) return;
  const response = await fetch(new URL(`codepages/cp${codePage}.bin`, self.location.href));
  if (!response.ok) throw new Error(`the tables of code page ${codePage} cannot be loaded (${response.status})`);
  lib.FS.writeFile(`/codepages/cp${codePage}.bin`, new Uint8Array(await response.arrayBuffer()));
  loadedTables.add(codePage);
}

// Both files and, where they differ from the bytes, their texts in the
// code page (UTF-8), as Blobs: the page offers them and shows them as they are.
function files(session) {
  const out = {};
  for (const [key, which] of [['csvimprt', CSVIMPRT], ['posimport', POSIMPORT]]) {
    const pointer = lib._lm_array(session, which);
    const bytes = lib._lm_array_bytes(session, which);
    out[key] = new Blob([lib.HEAPU8.subarray(pointer, pointer + bytes)]);
    if (lib._lm_text_is_bytes(session, pointer, bytes)) {
      out[key + 'Text'] = null;
    } else {
      const decoded = lib._lm_text(session, pointer, bytes);
      out[key + 'Text'] = new Blob([lib.HEAPU8.subarray(decoded, decoded + lib._lm_text_bytes(session))]);
    }
  }
  return out;
}

async function open(message) {
  const {id, source, codePage, salvage} = message;
  await loadTables(codePage);
  // A marker read again (salvage, another code page) first frees what it was
  // read as: the memory serves the new reading.
  if (sessions.has(id)) lib._lm_close(sessions.get(id));
  sessions.delete(id);
  // The bytes go straight into the library's memory, as they are read.
  const size = source.size;
  const pointer = lib._malloc(Math.max(size, 1));
  if (pointer === 0) throw new Error('memory ran out');
  let session = 0;
  let started = 0;
  try {
    let at = 0;
    const reader = source.stream().getReader();
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      if (at + value.length > size) throw new Error('the file changed while it was read');
      lib.HEAPU8.set(value, pointer + at);
      at += value.length;
    }
    if (at !== size) throw new Error('the file changed while it was read');
    started = performance.now();
    postMessage({type: 'progress', id, stage: 'reading'});
    session = lib._lm_open(pointer, size, codePage, salvage ? 1 : 0);
  } finally {
    lib._free(pointer);
  }
  if (session === 0) throw new Error('memory ran out');
  sessions.set(id, session);
  const read = performance.now();
  postMessage({type: 'progress', id, stage: 'writing'});
  const write = JSON.parse(text(lib._lm_write(session, 0)));
  const written = performance.now();
  postMessage({type: 'progress', id, stage: 'drawing'});
  lib._lm_draw(session);
  const info = JSON.parse(text(lib._lm_describe(session)));
  const arrays = {};
  ARRAYS.forEach((name, which) => { arrays[name] = array(session, which); });
  info.write = write;
  info.timing = {read: read - started, write: written - read, draw: performance.now() - written};
  postMessage({type: 'opened', id, info, arrays}, Object.values(arrays));
}

function withName(value, call) {
  const bytes = new TextEncoder().encode(value + '\0');
  const pointer = lib._malloc(bytes.length);
  lib.HEAPU8.set(bytes, pointer);
  try {
    return call(pointer);
  } finally {
    lib._free(pointer);
  }
}

const handlers = {
  open,
  async files({id}) {
    postMessage({type: 'files', id, files: files(sessions.get(id))});
  },
  async rename({id, name}) {
    const session = sessions.get(id);
    const result = withName(name, (pointer) => JSON.parse(text(lib._lm_write(session, pointer))));
    postMessage({type: 'renamed', id, result, files: files(session)});
  },
  async piece({id, index}) {
    const session = sessions.get(id);
    postMessage({type: 'piece', id, index, piece: JSON.parse(text(lib._lm_piece(session, index)))});
  },
  async svg({id}) {
    const session = sessions.get(id);
    postMessage({type: 'svg', id, svg: text(lib._lm_svg(session))});
  },
  async close({id}) {
    const session = sessions.get(id);
    if (session !== undefined) lib._lm_close(session);
    sessions.delete(id);
  },
};

// One message at a time, in the order they came.
let queue = Promise.resolve();
self.onmessage = (event) => {
  const message = event.data;
  queue = queue.then(() => ready).then(() => handlers[message.type](message)).catch((error) => {
    postMessage({type: 'failed', id: message.id, request: message.type, message: String(error && error.message || error)});
  });
};
