// api.js: the module's JavaScript face, appended to the runtime emscripten
// writes (its factory is tunecast_runtime) and the module's one export:
//   import createTunecast from './tunecast.mjs';
//   const tc = await createTunecast();
// Every refusal is the line the tool would print, which the C++ side says on
// standard error: it is collected during each call and thrown as an Error.

const tunecastWasmUrl = new URL('tunecast.wasm', import.meta.url);

// The runtime is built for the web; in node the .wasm is read from beside
// this file, so neither __dirname nor a fetch of a file: URL is needed.
async function tunecastWasmBytes() {
  if (typeof process === 'object' && process.versions && process.versions.node) {
    const { readFile } = await import('node:fs/promises');
    return readFile(tunecastWasmUrl);
  }
  const response = await fetch(tunecastWasmUrl);
  if (!response.ok) throw new Error(`no se puede cargar ${tunecastWasmUrl}: ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

// What JavaScript's raw deflate decoder gives for one member: at most
// budget + 1 bytes (one past is how a member longer than declared is seen),
// how the stream ended, as inflate_handed.cpp numbers it, and the bytes
// left after its end.
const handed = { ended: 0, corrupt: 1, truncated: 2, trailing: 3, noMemory: 4 };

async function tunecastInflateSome(compressed, budget) {
  const inflater = new DecompressionStream('deflate-raw');
  const stream = new Blob([compressed]).stream().pipeThrough(inflater);
  const reader = stream.getReader();
  const parts = [];
  let total = 0;
  let status = handed.ended;
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      total += value.length;
      if (total > budget) {
        reader.cancel().catch(() => {});
        break;
      }
    }
  } catch (e) {
    // Data that stops short is "unexpected end of file" (Z_BUF_ERROR in
    // node); any other fault is a stream that is not valid.
    const text = `${e && e.code} ${e && e.message}`;
    status = /Z_BUF_ERROR|unexpected end/i.test(text) ? handed.truncated : handed.corrupt;
  }
  return { parts, total, status };
}

// The decoder ignores bytes after the stream's end, which the reader
// refuses: a stream that also ends without its last byte has some, and the
// shortest prefix that still ends (found by halving) says how many.
async function tunecastTrailing(compressed, budget) {
  const ends = async (n) => {
    const { status } = await tunecastInflateSome(compressed.subarray(0, n), budget);
    return status === handed.ended;
  };
  if (compressed.length === 0 || !(await ends(compressed.length - 1))) return 0;
  let low = 0; // does not end
  let high = compressed.length - 1; // ends
  while (high - low > 1) {
    const mid = Math.floor((low + high) / 2);
    if (await ends(mid)) high = mid;
    else low = mid;
  }
  return compressed.length - high;
}

async function tunecastInflate(compressed, budget) {
  const { parts, total, status } = await tunecastInflateSome(compressed, budget);
  const size = Math.min(total, budget + 1);
  const bytes = new Uint8Array(size);
  let at = 0;
  for (const part of parts) {
    if (at === size) break;
    const take = Math.min(part.length, size - at);
    bytes.set(part.subarray(0, take), at);
    at += take;
  }
  const ended = status === handed.ended && total <= budget;
  const extra = ended ? await tunecastTrailing(compressed, budget) : 0;
  return { bytes, status: extra > 0 ? handed.trailing : status, extra };
}

// Options as the tool's command line would give them; a bad one is refused
// in the tool's words.
function tunecastOptions(options) {
  const o = options || {};
  const has = (key) => o[key] !== undefined && o[key] !== null;
  const format = has('format') ? o.format : 'wav';
  if (format !== 'wav' && format !== 'mid') throw new Error(`formato no válido: ${format}`);
  if (has('seconds') && has('passes')) {
    throw new Error('con --vueltas no se da la duración en segundos');
  }
  if (has('fade') && !has('passes')) throw new Error('--fundido solo va con --vueltas');
  if (format === 'mid' && (has('seconds') || has('passes'))) {
    throw new Error('un MIDI lleva la partitura entera: sin duración ni --vueltas');
  }
  const seconds = has('seconds') ? o.seconds : 60;
  if (typeof seconds !== 'number' || !(seconds >= 0) || seconds === Infinity) {
    throw new Error(`duración no válida: ${seconds}`);
  }
  const passes = has('passes') ? o.passes : 0;
  const passesValid = Number.isInteger(passes) && passes <= 2 ** 31 - 1;
  if (!passesValid || passes < (has('passes') ? 1 : 0)) {
    throw new Error(`número de vueltas no válido: ${passes}`);
  }
  const fade = has('fade') ? o.fade : 0;
  if (typeof fade !== 'number' || !(fade >= 0) || fade === Infinity) {
    throw new Error(`fundido no válido: ${fade}`);
  }
  const volume = has('volume') ? o.volume : 100;
  if (!Number.isInteger(volume) || volume < 0 || volume > 127) {
    throw new Error(`volumen no válido: ${volume} (va de 0 a 127)`);
  }
  const stereo = o.stereo ? 1 : 0;
  return { seconds, passes, fade, volume, stereo, midi: format === 'mid' ? 1 : 0 };
}

export default async function createTunecast() {
  let said = [];
  const m = await tunecast_runtime({
    wasmBinary: await tunecastWasmBytes(),
    print: () => {},  // the reader's progress lines
    printErr: (line) => said.push(line),
  });
  // The archives are written here for the reader, each removed once read.
  m.FS.mkdir('/entrada');
  m.FS.chdir('/entrada');

  // Runs one call of the module, its lines collected; when failed(result)
  // (by default a null or 0 result), the lines it said are thrown.
  function run(fn, failed = (result) => !result) {
    said = [];
    const result = fn();
    if (failed(result)) throw new Error(said.length > 0 ? said.join('\n') : 'sin memoria');
    return result;
  }

  // A string in the module's memory for the length of fn.
  function withString(text, fn) {
    const size = m.lengthBytesUTF8(text) + 1;
    const at = m._malloc(size);
    if (!at) throw new Error('sin memoria');
    try {
      m.stringToUTF8(text, at, size);
      return fn(at);
    } finally {
      m._free(at);
    }
  }

  // The name the reader's lines show: the caller's file name without its
  // folders, or "archivo".
  function fileName(name) {
    const base = String(name === undefined ? '' : name).split(/[\\/]/).pop();
    return base === '' || base === '.' || base === '..' || base.includes('\0') ? 'archivo' : base;
  }

  // One load of the archive from the memory file system: the handle, or
  // null with the reader's lines in said.
  function load(bytes, name) {
    m.FS.writeFile(name, bytes);
    try {
      said = [];
      return withString(name, (at) => m._tc_web_open(at));
    } finally {
      m.FS.unlink(name);
    }
  }

  async function open(bytes, name) {
    if (!(bytes instanceof Uint8Array)) throw new TypeError('open: se espera un Uint8Array');
    const shown = fileName(name);
    try {
      let handle = load(bytes, shown);
      // A deflated member is inflated here, then the load runs once more.
      if (!handle && m._tc_web_inflate_wanted()) {
        const offset = m._tc_web_inflate_offset();
        const size = m._tc_web_inflate_size();
        const budget = m._tc_web_inflate_budget();
        const out = await tunecastInflate(bytes.subarray(offset, offset + size), budget);
        const at = m._malloc(Math.max(out.bytes.length, 1));
        if (at) m.HEAPU8.set(out.bytes, at);
        m._tc_web_inflate_hand(at, out.bytes.length, at ? out.status : handed.noMemory, out.extra);
        handle = load(bytes, shown);
      }
      if (!handle) throw new Error(said.length > 0 ? said.join('\n') : 'no se puede leer el archivo');
      return archiveOf(handle);
    } finally {
      m._tc_web_inflate_forget();
    }
  }

  function archiveOf(handle) {
    let open = true;
    const live = () => {
      if (!open) throw new Error('el archivo está cerrado');
      return handle;
    };
    return {
      list() {
        const lines = m.UTF8ToString(run(() => m._tc_web_list(live()))).split('\n');
        return lines.filter((line) => line !== '').map((line) => JSON.parse(line));
      },
      render(lump, options) {
        const o = tunecastOptions(options);
        withString(String(lump), (name) =>
          run(() => m._tc_web_render(live(), name, o.seconds, o.passes, o.fade, o.volume, o.stereo, o.midi)),
        );
        const at = m._tc_web_output();
        const file = m.HEAPU8.slice(at, at + m._tc_web_output_size());
        m._tc_web_output_free();
        return file;
      },
      player(lump, options) {
        const o = tunecastOptions(options);
        if (o.midi) throw new Error('un MIDI no se toca: el reproductor da muestras');
        const p = withString(String(lump), (name) =>
          run(() => m._tc_web_player_new(live(), name, o.seconds, o.passes, o.fade, o.volume, o.stereo)),
        );
        return playerOf(p, o.volume);
      },
      close() {
        if (open) m._tc_web_close(handle);
        open = false;
      },
    };
  }

  function playerOf(p, startVolume) {
    let open = true;
    const live = () => {
      if (!open) throw new Error('el reproductor está cerrado');
      return p;
    };
    const channels = m._tc_web_player_channels(p);
    let volume = startVolume;
    return {
      sampleRate: 44100,
      channels,
      frames: m._tc_web_player_frames(p),
      get position() {
        return m._tc_web_player_position(live());
      },
      pull(n) {
        const frames = Math.max(0, Math.min(Math.floor(Number(n)) || 0, 2 ** 31 - 1));
        const got = run(() => m._tc_web_player_pull(live(), frames), (count) => count < 0);
        const at = m._tc_web_player_samples(p) >> 1;
        return m.HEAP16.slice(at, at + got * channels);
      },
      seek(frame) {
        const target = Number(frame);
        run(() => m._tc_web_player_seek(live(), Number.isNaN(target) ? 0 : target));
      },
      get volume() {
        return volume;
      },
      set volume(v) {
        if (!Number.isInteger(v) || v < 0 || v > 127) {
          throw new Error(`volumen no válido: ${v} (va de 0 a 127)`);
        }
        m._tc_web_player_set_volume(live(), v);
        volume = v;
      },
      close() {
        if (open) m._tc_web_player_free(p);
        open = false;
      },
    };
  }

  return {
    open,
    // The module's memory, for a page or a test that watches it: the heap's
    // size and what its allocator holds, in bytes.
    memory: () => ({ heapBytes: m.HEAPU8.length, inUse: m._tc_web_heap_in_use() }),
    list: async (bytes, name) => {
      const archive = await open(bytes, name);
      try {
        return archive.list();
      } finally {
        archive.close();
      }
    },
    render: async (bytes, lump, options, name) => {
      const archive = await open(bytes, name);
      try {
        return archive.render(lump, options);
      } finally {
        archive.close();
      }
    },
  };
}
