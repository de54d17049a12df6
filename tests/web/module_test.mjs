// module_test.mjs: the WebAssembly module against the native tool, in node.
// Every file the module makes must be the tool's, byte for byte; every
// refusal the tool's line; and the module must keep working after one.
//   node module_test.mjs TUNECAST MAKE_DEMO BUILD_WEB_DIR
// Exits 77 (skipped) when the web build is not there.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';
import zlib from 'node:zlib';

const [tool, makeDemo, webDir] = process.argv.slice(2).map((arg) => resolve(arg));
if (!webDir || !existsSync(join(webDir, 'tunecast.mjs')) || !existsSync(join(webDir, 'tunecast.wasm'))) {
  console.log('no web build (cmake --workflow --preset web): skipped');
  process.exit(77);
}
const { default: createTunecast } = await import(pathToFileURL(join(webDir, 'tunecast.mjs')));

const dir = mkdtempSync(join(tmpdir(), 'tunecast-web-'));
after(() => rmSync(dir, { recursive: true, force: true }));

// The tool run in dir, so that the archive's name in its lines is the one
// the module is given.
function native(args) {
  const r = spawnSync(tool, args, { cwd: dir, encoding: 'buffer' });
  return { status: r.status, stdout: r.stdout, stderr: r.stderr.toString('utf8') };
}

function nativeFile(args, out) {
  const r = native([...args, out]);
  assert.equal(r.status, 0, r.stderr);
  return new Uint8Array(readFileSync(join(dir, out)));
}

// CRC-32 as ZIP declares it (reflected, polynomial 0xEDB88320).
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  }
  return (c ^ 0xffffffff) >>> 0;
}

// A ZIP of members { name, data, method: 0 stored | 8 deflated, crc (to
// declare a wrong one) }, central directory and all.
function zipOf(members) {
  const locals = [];
  const centrals = [];
  let offset = 0;
  for (const m of members) {
    const name = Buffer.from(m.name);
    const body = m.method === 8 ? zlib.deflateRawSync(m.data) : Buffer.from(m.data);
    const crc = m.crc ?? crc32(m.data);
    const common = Buffer.alloc(26);
    common.writeUInt16LE(20, 0); // version needed
    common.writeUInt16LE(m.method, 4);
    common.writeUInt32LE(crc >>> 0, 10);
    common.writeUInt32LE(body.length, 14);
    common.writeUInt32LE(m.data.length, 18);
    common.writeUInt16LE(name.length, 22);
    const local = Buffer.concat([Buffer.from([0x50, 0x4b, 0x03, 0x04]), common, name, body]);
    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4);
    common.copy(central, 6, 0, 26);
    central.writeUInt32LE(offset, 42);
    centrals.push(Buffer.concat([central, name]));
    locals.push(local);
    offset += local.length;
  }
  const directory = Buffer.concat(centrals);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(members.length, 8);
  end.writeUInt16LE(members.length, 10);
  end.writeUInt32LE(directory.length, 12);
  end.writeUInt32LE(offset, 16);
  return new Uint8Array(Buffer.concat([...locals, directory, end]));
}

let tc;
let demo; // the demo WAD's bytes
const archives = {}; // name -> bytes, each also written in dir

function keep(name, bytes) {
  writeFileSync(join(dir, name), bytes);
  archives[name] = bytes;
  return bytes;
}

before(async () => {
  const made = spawnSync(makeDemo, [join(dir, 'demo.wad')], { encoding: 'utf8' });
  assert.equal(made.status, 0, made.stderr);
  demo = keep('demo.wad', new Uint8Array(readFileSync(join(dir, 'demo.wad'))));
  keep('stored.zip', zipOf([{ name: 'demo.wad', data: demo, method: 0 }]));
  keep('deflated.zip', zipOf([{ name: 'demo.wad', data: demo, method: 8 }]));
  tc = await createTunecast();
});

describe('the listing', () => {
  for (const name of ['demo.wad', 'stored.zip', 'deflated.zip']) {
    test(`of ${name} is the tool's --json`, async () => {
      const r = native(['-l', name, '--json']);
      assert.equal(r.status, 0, r.stderr);
      const expected = r.stdout.toString('utf8').trim().split('\n').map((line) => JSON.parse(line));
      assert.equal(expected.length, 2);
      assert.deepEqual(await tc.list(archives[name], name), expected);
    });
  }
});

describe('a render', () => {
  const cases = [
    { what: '60 s', args: [], options: {} },
    { what: '-v 2 -f 3', args: ['-v', '2', '-f', '3'], options: { passes: 2, fade: 3 } },
    { what: '--estereo', args: ['--estereo'], options: { stereo: true } },
    { what: '--volumen 64', args: ['--volumen', '64'], options: { volume: 64 } },
    { what: 'the MIDI lump', args: [], options: {}, lump: 'D_DEMOMI' },
    { what: "format 'mid'", args: [], options: { format: 'mid' }, out: 'x.mid' },
    { what: 'the MIDI lump as MIDI', args: [], options: { format: 'mid' }, out: 'y.mid', lump: 'D_DEMOMI' },
  ];
  for (const c of cases) {
    test(`${c.what} is the tool's file`, async () => {
      const lump = c.lump ?? 'D_DEMO';
      const expected = nativeFile([...c.args, 'demo.wad', lump], c.out ?? 'x.wav');
      assert.ok(expected.length > 44);
      const archive = await tc.open(demo, 'demo.wad');
      try {
        assert.ok(Buffer.from(archive.render(lump, c.options)).equals(Buffer.from(expected)));
      } finally {
        archive.close();
      }
    });
  }

  test('from a deflated ZIP is the same file', async () => {
    const expected = nativeFile(['-v', '1', 'demo.wad', 'D_DEMO'], 'z.wav');
    const got = await tc.render(archives['deflated.zip'], 'D_DEMO', { passes: 1 });
    assert.ok(Buffer.from(got).equals(Buffer.from(expected)));
  });
});

describe('a damaged archive', () => {
  // A member declared as the deflated demo WAD (its size and CRC) whose
  // compressed bytes are body.
  const deflatedAs = (body) => {
    const bytes = zipOf([{ name: 'demo.wad', data: body, method: 0 }]);
    const view = new DataView(bytes.buffer);
    view.setUint16(8, 8, true);
    view.setUint32(14, crc32(demo), true);
    view.setUint32(22, demo.length, true);
    return bytes;
  };
  const deflated = zlib.deflateRawSync(demo);
  const damaged = [
    { name: 'truncated.wad', bytes: () => demo.subarray(0, demo.length - 100) },
    { name: 'notes.txt', bytes: () => new TextEncoder().encode('not an archive, only words\n') },
    { name: 'badcrc.zip', bytes: () => zipOf([{ name: 'demo.wad', data: demo, method: 8, crc: 0x1234 }]) },
    {
      name: 'longer.zip', // gives more than it declares
      bytes: () => {
        const bytes = zipOf([{ name: 'demo.wad', data: demo, method: 8 }]);
        new DataView(bytes.buffer).setUint32(22, demo.length - 1, true);
        return bytes;
      },
    },
    { name: 'trailing.zip', bytes: () => deflatedAs(Buffer.concat([deflated, Buffer.from([1, 2, 3])])) },
    { name: 'cut.zip', bytes: () => deflatedAs(deflated.subarray(0, deflated.length - 40)) },
    { name: 'corrupt.zip', bytes: () => deflatedAs(Buffer.from([0xff, 0xff, 0xff, 0x12])) },
  ];
  for (const d of damaged) {
    test(`${d.name} throws the reader's line, and the module goes on`, async () => {
      const bytes = keep(d.name, d.bytes());
      const r = native(['-l', d.name, '--json']);
      assert.notEqual(r.status, 0);
      const line = r.stderr.trim().split('\n').pop();
      assert.match(line, /^\[WAD\]/);
      await assert.rejects(tc.list(bytes, d.name), (e) => e instanceof Error && e.message === line);
      assert.equal((await tc.list(demo)).length, 2);
    });
  }

  test('a lump that is not there is "no hay NOPE"', async () => {
    await assert.rejects(tc.render(demo, 'NOPE', {}), { message: 'no hay NOPE' });
    const r = native(['demo.wad', 'NOPE', 'n.wav']);
    assert.equal(r.stderr.split('\n')[0], 'no hay NOPE');
  });
});

test('memory stays level over 100 renders', async () => {
  const archive = await tc.open(demo, 'demo.wad');
  let at10;
  for (let i = 1; i <= 100; ++i) {
    await tc.render(archives['deflated.zip'], 'D_DEMOMI', { seconds: 2, stereo: i % 2 === 0 });
    await assert.rejects(tc.list(archives['truncated.wad'] ?? demo.subarray(0, 100)));
    archive.render('D_DEMO', { format: 'mid' });
    assert.throws(() => archive.render('NOPE', {}));
    const player = archive.player('D_DEMO', { seconds: 1 });
    player.pull(1000);
    player.seek(20000);
    player.close();
    if (i === 10) at10 = tc.memory();
  }
  const at100 = tc.memory();
  archive.close();
  assert.equal(at100.heapBytes, at10.heapBytes);
  assert.equal(at100.inUse, at10.inUse);
});

describe('a player', () => {
  for (const stereo of [false, true]) {
    test(`${stereo ? 'in stereo' : 'in mono'} pulls the render's samples, from any frame`, async () => {
      const options = { passes: 1, fade: 2, stereo };
      const archive = await tc.open(demo);
      const wav = archive.render('D_DEMO', options);
      const samples = new Int16Array(wav.buffer.slice(44));
      const channels = stereo ? 2 : 1;
      const player = archive.player('D_DEMO', options);
      assert.equal(player.channels, channels);
      assert.equal(player.frames, samples.length / channels);
      // Blocks of odd sizes, and past the end.
      const pulled = [];
      for (let n = 1; player.position < player.frames; n = (n * 7 + 3) % 5000) pulled.push(...player.pull(n));
      assert.equal(player.pull(100).length, 0);
      assert.deepEqual(Int16Array.from(pulled), samples);
      for (const frame of [123457, 0, player.frames - 10, player.frames + 5]) {
        player.seek(frame);
        const from = Math.min(frame, player.frames);
        assert.equal(player.position, from);
        assert.deepEqual(player.pull(4096), samples.subarray(from * channels, (from + 4096) * channels));
      }
      player.close();
      archive.close();
    });
  }

  test('volume changes what follows', async () => {
    const archive = await tc.open(demo);
    const quiet = new Int16Array(archive.render('D_DEMO', { seconds: 3, volume: 40 }).buffer.slice(44));
    const loud = new Int16Array(archive.render('D_DEMO', { seconds: 3 }).buffer.slice(44));
    const player = archive.player('D_DEMO', { seconds: 3, volume: 40 });
    player.volume = 100; // before the first pull: the whole song at 100
    assert.deepEqual(player.pull(132300), loud);
    player.seek(0);
    player.volume = 40;
    const before = player.pull(44100);
    assert.deepEqual(before, quiet.subarray(0, 44100));
    player.volume = 100;
    assert.notDeepEqual(player.pull(44100), quiet.subarray(44100, 88200));
    assert.throws(() => {
      player.volume = 128;
    }, /volumen no válido/);
    player.close();
    archive.close();
  });
});
