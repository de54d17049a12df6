// The page in headless Chromium, served from build-web/ on 127.0.0.1: the
// demo WAD (and a ZIP of it) opened through the file input and listed, the
// samples the worklet plays compared with the native tool's WAV (from the
// start, after a seek, after a switch to stereo, up to the song's end), a
// WAV download, a file that is not an archive, the language, names from the
// file kept as text, and no request leaving 127.0.0.1. A screenshot goes to
// TUNECAST_WEB_LOG_DIR (build-web/ if unset).
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

const root = path.resolve(import.meta.dirname, '../..');
const web_dir = process.env.TUNECAST_WEB_DIR ?? path.join(root, 'build-web');
const tool = process.env.TUNECAST_TOOL ?? path.join(root, 'build/tunecast');
const demo_wad = process.env.TUNECAST_DEMO_WAD ?? path.join(root, 'build/demo.wad');
const log_dir = process.env.TUNECAST_WEB_LOG_DIR ?? web_dir;
const rate_hz = 44100;

const types = {
  '.html': 'text/html',
  '.js': 'text/javascript',
  '.mjs': 'text/javascript',
  '.css': 'text/css',
  '.wasm': 'application/wasm',
};

let scratch, server, base, browser;

// The page's own files, nothing else: no listing, nothing outside web_dir.
function serve(request, response) {
  const name = path.normalize(decodeURIComponent(new URL(request.url, base).pathname));
  const file = path.join(web_dir, name === '/' ? 'index.html' : name);
  const type = types[path.extname(file)];
  if (!file.startsWith(web_dir + path.sep) || type === undefined || !fs.existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, {'content-type': type}).end(fs.readFileSync(file));
}

// The 16-bit samples of a WAV the tool wrote (its data chunk follows a
// fixed 44-byte head).
function wav_samples(bytes) {
  assert.equal(bytes.toString('latin1', 36, 40), 'data');
  return new Int16Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
}

// The tool's file for one whole pass of the lump, as the page plays and
// writes a song that ends.
function tool_render_pass(wad, lump, ...options) {
  const out = path.join(scratch, `tool-${lump}${options.join('')}.wav`);
  execFileSync(tool, ['-q', '-v', '1', ...options, wad, lump, out]);
  return fs.readFileSync(out);
}

// A WAD of one lump, D_PAN: a two-second MIDI note panned hard left, so the
// two sides of its stereo render differ.
function panned_wad() {
  const track = Buffer.from([
    0x00, 0xC0, 0x00,              // program 0
    0x00, 0xB0, 0x0A, 0x00,        // pan: hard left
    0x00, 0x90, 0x3C, 0x64,        // note on, middle C
    0x83, 0x00, 0x80, 0x3C, 0x00,  // 384 ticks (2 s at 96 a quarter), note off
    0x00, 0xFF, 0x2F, 0x00,        // end of track
  ]);
  const midi = Buffer.concat([
    Buffer.from('MThd\0\0\0\x06\0\0\0\x01\0\x60', 'latin1'),
    Buffer.from('MTrk', 'latin1'),
    Buffer.from([0, 0, 0, track.length]),
    track,
  ]);
  const head = Buffer.alloc(12), entry = Buffer.alloc(16);
  head.write('PWAD', 0, 'latin1');
  head.writeUInt32LE(1, 4);
  head.writeUInt32LE(12 + midi.length, 8);
  entry.writeUInt32LE(12, 0);
  entry.writeUInt32LE(midi.length, 4);
  entry.write('D_PAN', 8, 'latin1');
  const file = path.join(scratch, 'panned.wad');
  fs.writeFileSync(file, Buffer.concat([head, midi, entry]));
  return file;
}

function clock(seconds) {
  return `${Math.floor(seconds / 60)}:${String(Math.floor(seconds % 60)).padStart(2, '0')}`;
}

async function open_page(languages, query = '') {
  const page = await browser.newPage();
  page.requested = [];
  page.failures = [];
  page.on('request', (request) => page.requested.push(request.url()));
  page.on('pageerror', (error) => page.failures.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') page.failures.push(message.text());
  });
  await page.evaluateOnNewDocument((list) => {
    Object.defineProperty(navigator, 'languages', {get: () => list});
  }, languages);
  await page.goto(`${base}/index.html${query}`, {waitUntil: 'load'});
  return page;
}

// Drops what the worklet played so far, before an action that flushes it:
// the run waited for next is then the one after the flush (at most a few
// blocks of the run before may still come in, far fewer frames than wanted).
function forget_captured(page) {
  return page.evaluate(() => {
    window.tunecast_capture.length = 0;
  });
}

// What the worklet played since the last flush, at least frames_wanted
// frames: the floats it wrote on each side, from the first frame it reported.
async function captured(page, frames_wanted) {
  await page.waitForFunction((frames) => {
    const runs = window.tunecast_capture;
    const since_flush = runs.filter((run) => run.generation === runs.at(-1).generation);
    return since_flush.reduce((sum, run) => sum + run.left.length, 0) >= frames;
  }, {timeout: 30000}, frames_wanted);
  return page.evaluate(() => {
    const runs = window.tunecast_capture;
    const since_flush = runs.filter((run) => run.generation === runs.at(-1).generation);
    const played = {position: since_flush[0].position, left: [], right: []};
    for (const run of since_flush) {
      if (run.position !== played.position + played.left.length) return {gap_at: run.position};
      played.left.push(...run.left);
      played.right.push(...run.right);
    }
    return played;
  });
}

// Each side as x / 32768 of the tool's sample (exact in single precision);
// a mono song plays the same sample on both.
function assert_same_samples(played, wav, channels, from) {
  assert.ok(played.left, `the worklet's output has a gap at frame ${played.gap_at}`);
  assert.equal(played.position, from);
  assert.ok((from + played.left.length) * channels <= wav.length);
  for (let i = 0; i < played.left.length; ++i) {
    const left = wav[(from + i) * channels], right = wav[(from + i) * channels + channels - 1];
    if (played.left[i] !== Math.fround(left / 32768) ||
        played.right[i] !== Math.fround(right / 32768)) {
      assert.fail(`frame ${from + i} played as ${played.left[i] * 32768} ${
          played.right[i] * 32768}, the tool wrote ${left} ${right}`);
    }
  }
}

function assert_stayed_local(page) {
  const away =
      page.requested.filter((url) => !url.startsWith(`${base}/`) && !url.startsWith('blob:'));
  assert.deepEqual(away, []);
  assert.deepEqual(page.failures, []);
}

before(async () => {
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tunecast-web-'));
  server = http.createServer(serve);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  base = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(scratch, 'profile-')),
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(scratch, {recursive: true, force: true});
});

test('the demo song listed, played as the tool renders it, sought and downloaded', async () => {
  // English comes first among the preferences, so English it is.
  const page = await open_page(['en-GB', 'es-ES'], '?capture=1');
  await (await page.$('#file')).uploadFile(demo_wad);
  await page.waitForSelector('#song-list [role="option"]');

  // Name, format, m:ss and status of each song, as the tool lists them.
  const listed = execFileSync(tool, ['-l', demo_wad, '--json'], {encoding: 'utf8', stdio: 'pipe'});
  const expected_rows = listed.trim()
                            .split('\n')
                            .map((line) => JSON.parse(line))
                            .map((song) => [song.name, song.format, clock(song.seconds), 'ok']);
  const rows = await page.$$eval(
      '#song-list [role="option"]',
      (options) => options.map((option) => [...option.children].map((cell) => cell.textContent)));
  assert.deepEqual(rows, expected_rows);

  // The list answers the keyboard: down, up, and Enter plays.
  await page.focus('#song-list');
  await page.keyboard.press('ArrowDown');
  assert.equal(
      await page.$eval('#song-list', (list) => list.getAttribute('aria-activedescendant')),
      'song-1');
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('Enter');

  const mono = wav_samples(tool_render_pass(demo_wad, 'D_DEMO'));
  assert_same_samples(await captured(page, 2 * rate_hz), mono, 1, 0);
  assert.equal(await page.$eval('#play', (button) => button.textContent), 'Pause');

  // The position bar seeks: the samples from there on, and the clock moves on.
  // A click halfway along the bar, as a mouse would.
  const bar = await (await page.$('#position')).boundingBox();
  await forget_captured(page);
  await page.mouse.click(bar.x + bar.width / 2, bar.y + bar.height / 2);
  const sought = await captured(page, rate_hz);
  const seek_s = sought.position / rate_hz;
  assert.ok(
      Number.isInteger(seek_s) && seek_s >= 15 && seek_s <= 27,
      `the bar's middle sought frame ${sought.position}`);
  assert_same_samples(sought, mono, 1, sought.position);
  await page.waitForFunction(
      (shown) => document.getElementById('clock').textContent.startsWith(shown), {},
      clock(seek_s + 1));

  // The download is the tool's file for the same settings.
  const downloads = fs.mkdtempSync(path.join(scratch, 'downloads-'));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
  await page.click('#download-wav');
  const file = path.join(downloads, 'D_DEMO.wav');
  for (let waited_ms = 0; waited_ms < 30000 && !fs.existsSync(file); waited_ms += 100) {
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.ok(
      fs.readFileSync(file).equals(tool_render_pass(demo_wad, 'D_DEMO')),
      'the downloaded WAV is not the tool\'s');

  fs.mkdirSync(log_dir, {recursive: true});
  await page.screenshot({path: path.join(log_dir, 'web-page.png'), fullPage: true});
  assert_stayed_local(page);
  await page.close();
});

test('stereo starts the song again where it was, each side as the tool writes it', async () => {
  const wad = panned_wad();
  const page = await open_page(['en'], '?capture=1');
  await (await page.$('#file')).uploadFile(wad);
  await page.waitForSelector('#song-list [role="option"]');
  await page.click('#play');
  const mono = await captured(page, rate_hz / 2);
  assert_same_samples(mono, wav_samples(tool_render_pass(wad, 'D_PAN')), 1, 0);
  await forget_captured(page);
  await page.click('#stereo');
  const stereo = await captured(page, rate_hz / 4);
  // Half a second played; the position the page knows may lag a few reports.
  assert.ok(stereo.position >= rate_hz / 4, `stereo started at frame ${stereo.position}`);
  assert_same_samples(
      stereo, wav_samples(tool_render_pass(wad, 'D_PAN', '-e')), 2, stereo.position);
  // Its last frame played, the only song gives way to the end of the list.
  await page.waitForFunction(
      () => document.getElementById('status').textContent === 'End of the list', {timeout: 10000});
  assert_stayed_local(page);
  await page.close();
});

// A ZIP of one deflated member, maps/demo.wad: what the page inflates with
// the browser's own decompressor.
function zip_of_demo() {
  const wad = fs.readFileSync(demo_wad);
  const data = zlib.deflateRawSync(wad);
  const name = Buffer.from('maps/demo.wad', 'latin1');
  const record = (signature, bytes) => {
    const head = Buffer.alloc(bytes);
    head.writeUInt32LE(signature, 0);
    return head;
  };
  const local = record(0x04034b50, 30);
  const central = record(0x02014b50, 46);
  // The two heads share these fields, from different offsets.
  for (const [head, at] of [[local, 4], [central, 6]]) {
    head.writeUInt16LE(20, at);        // version needed
    head.writeUInt16LE(8, at + 4);     // deflated
    head.writeUInt16LE(0x21, at + 8);  // 1980-01-01
    head.writeUInt32LE(zlib.crc32(wad), at + 10);
    head.writeUInt32LE(data.length, at + 14);
    head.writeUInt32LE(wad.length, at + 18);
    head.writeUInt16LE(name.length, at + 22);
  }
  const end = record(0x06054b50, 22);
  end.writeUInt16LE(1, 8);
  end.writeUInt16LE(1, 10);
  end.writeUInt32LE(central.length + name.length, 12);
  end.writeUInt32LE(local.length + name.length + data.length, 16);
  const file = path.join(scratch, 'demo.zip');
  fs.writeFileSync(file, Buffer.concat([local, name, data, central, name, end]));
  return file;
}

test('a ZIP holding the WAD lists its songs; a file that is not an archive shows why', async () => {
  const page = await open_page(['en-US']);
  await (await page.$('#file')).uploadFile(zip_of_demo());
  await page.waitForSelector('#song-list [role="option"]');
  assert.deepEqual(
      await page.$$eval(
          '#song-list [role="option"] span:first-child',
          (names) => names.map((name) => name.textContent)),
      ['D_DEMO', 'D_DEMOMI']);
  assert.equal(await page.$eval('#status', (status) => status.textContent), 'demo.zip: 2 songs');

  const not_archive = path.join(scratch, 'notes.txt');
  fs.writeFileSync(not_archive, 'not music\n');
  await (await page.$('#file')).uploadFile(not_archive);
  await page.waitForSelector('#status.error');
  const shown = await page.$eval('.messages', (messages) => messages.innerText);
  assert.match(shown, /^Cannot open notes\.txt: it is neither a WAD nor an intact ZIP/);
  assert.match(shown, /\nReason: \[WAD\] .+/);
  assert.ok(await page.$eval('.songs', (songs) => songs.hidden));
  assert_stayed_local(page);
  await page.close();
});

// The demo WAD with its first lump renamed: a name that is markup.
function wad_with_markup_name() {
  const wad = fs.readFileSync(demo_wad);
  const directory = wad.readUInt32LE(8);
  wad.write('<b>X</b>', directory + 8, 'latin1');
  const file = path.join(scratch, 'markup.wad');
  fs.writeFileSync(file, wad);
  return file;
}

test('in Spanish when preferred, names as text, reflowed at 200% zoom', async () => {
  const page = await open_page(['fr-FR', 'es-ES', 'en']);
  await page.setViewport({width: 320, height: 600, deviceScaleFactor: 2});
  await (await page.$('#file')).uploadFile(wad_with_markup_name());
  await page.waitForSelector('#song-list [role="option"]');
  assert.equal(await page.$eval('html', (html) => html.lang), 'es');
  assert.equal(await page.$eval('#play', (button) => button.textContent), 'Tocar');
  assert.equal(await page.$eval('label[for="volume"]', (label) => label.textContent), 'Volumen');
  assert.match(await page.$eval('#status', (status) => status.textContent), /: 2 canciones$/);
  assert.equal(await page.$eval('#song-0 span', (cell) => cell.textContent), '<b>X</b>');
  assert.equal(await page.$('#song-list b'), null);
  // 320 CSS pixels is a 640-pixel window at 200%: nothing may need a sideways scroll.
  const overflow = await page.evaluate(
      () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.equal(overflow, 0);
  assert_stayed_local(page);
  await page.close();
});
