// The page: opens an archive (file input or drop), lists its music, plays it
// through playback.js and writes a song as WAV or MIDI for download.
// Everything from the file, names and the module's messages alike, goes
// into the page as text, never as markup.

import {Playback, sample_rate_hz} from './playback.js';
import {clock_text, SongList} from './song_list.js';
import {language_for, texts_for} from './texts.js';

const max_archive_mib = 512;       // the module holds a copy: twice this in memory
const endless_seconds = 60;        // a song with no end plays a render's default minute
const restart_within_seconds = 3;  // 'previous' later than this restarts the song, as the tool

const language = language_for(navigator.languages ?? [navigator.language]);
const t = texts_for(language);
// The browser test's hook: the worklet posts back what it plays.
const capture = new URLSearchParams(location.search).has('capture');

const element = (id) => document.getElementById(id);
const ui = {
  file: element('file'),
  drop_zone: element('drop-zone'),
  status: element('status'),
  detail: element('detail'),
  songs: document.querySelector('.songs'),
  player: document.querySelector('.player'),
  song_name: element('song-name'),
  clock: element('clock'),
  position: element('position'),
  previous: element('previous'),
  play: element('play'),
  next: element('next'),
  volume: element('volume'),
  volume_value: element('volume-value'),
  stereo: element('stereo'),
  download_wav: element('download-wav'),
  download_mid: element('download-mid'),
  download_link: element('download-link'),
};

const state = {
  archive: null,
  songs: [],
  current: -1,  // the song playing or paused; -1 when none
  player: null,
  playback: null,
  playback_ready: null,  // the first play's promise of a playback, shared by quick clicks
  dragging: false,       // the position bar is held: reports do not move it
  seek_to: 0,            // the bar's last value the user set, in seconds
  opening: 0,            // counts files opened, so a slower earlier one is dropped
};

// Imported here rather than above, so a page without its module still says why.
const tunecast = import('./tunecast.mjs').then((module) => module.default());
const song_list =
    new SongList(element('song-list'), t, (index) => play_song(index).catch(report_failure));

function show_status(text) {
  ui.status.textContent = text;
  ui.detail.textContent = '';
  ui.status.classList.remove('error');
}

function show_error(text, error) {
  ui.status.textContent = text;
  ui.detail.textContent = error === undefined ? '' : t.reason(error.message ?? String(error));
  ui.status.classList.add('error');
}

function report_failure(error) {
  show_error(t.no_audio, error);
}

function translate_page() {
  document.documentElement.lang = language;
  document.title = t.title;
  for (const node of document.querySelectorAll('[data-text]')) {
    node.textContent = t[node.dataset.text];
  }
}

// A song that ends plays once, whole; one without an end, a minute.
function length_options(song) {
  return song.seconds === null ? {seconds: endless_seconds} : {passes: 1};
}

function sound_options() {
  return {stereo: ui.stereo.checked, volume: Number(ui.volume.value)};
}

// The name as the tool writes a file for it: bytes other than letters,
// digits and _-[]^ as %XX, so no name from the file makes a path.
function file_name_for(lump, extension) {
  let safe = '';
  for (const byte of new TextEncoder().encode(lump)) {
    const c = String.fromCharCode(byte);
    safe +=
        /[A-Za-z0-9_\-\[\]^]/.test(c) ? c : `%${byte.toString(16).toUpperCase().padStart(2, '0')}`;
  }
  return `${safe}.${extension}`;
}

async function open_file(file) {
  const opening = ++state.opening;
  stop_song();
  state.archive?.close();
  state.archive = null;
  state.songs = [];
  ui.songs.hidden = true;
  ui.player.hidden = true;
  if (file.size > max_archive_mib * 1024 * 1024) {
    show_error(t.too_big(file.name, max_archive_mib));
    return;
  }
  show_status(t.reading(file.name));
  let tc, archive;
  try {
    tc = await tunecast;
  } catch (error) {
    show_error(t.no_module, error);
    return;
  }
  try {
    // The name only words the module's messages.
    archive = await tc.open(new Uint8Array(await file.arrayBuffer()), file.name);
  } catch (error) {
    if (opening === state.opening) show_error(t.not_archive(file.name), error);
    return;
  }
  if (opening !== state.opening) {
    archive.close();
    return;
  }
  state.archive = archive;
  state.songs = archive.list();
  song_list.show(state.songs);
  if (state.songs.length === 0) {
    show_status(t.no_music(file.name));
    return;
  }
  show_status(t.listed(file.name, state.songs.length));
  ui.songs.hidden = false;
  ui.player.hidden = false;
  show_position(0);
}

function close_player() {
  state.player?.close();
  state.player = null;
}

function stop_song() {
  state.playback?.stop();
  close_player();
  state.current = -1;
  song_list.mark_playing(-1);
  ui.song_name.textContent = t.nothing_playing;
  ui.play.textContent = t.play;
  show_position(0);
}

// Plays song index from frame on; it sounds unless keep_paused and the
// playback is paused.
async function play_song(index, frame = 0, keep_paused = false) {
  const song = state.songs[index];
  state.playback_ready ??= Playback.create(
      {on_position: show_position, on_ended: song_ended, on_error: pull_failed, on_capture},
      {capture});
  try {
    state.playback = await state.playback_ready;
  } catch (error) {
    state.playback_ready = null;
    show_error(t.no_audio, error);
    return;
  }
  stop_song();
  try {
    state.player = state.archive.player(song.name, {...length_options(song), ...sound_options()});
  } catch (error) {
    show_error(t.cannot_play(song.name), error);
    return;
  }
  state.current = index;
  song_list.select(index);
  song_list.mark_playing(index);
  ui.song_name.textContent = song.name;
  ui.position.max = String(Math.floor(state.player.frames / sample_rate_hz));
  state.playback.play(state.player, frame);
  if (!(keep_paused && state.playback.paused)) await state.playback.resume();
  show_playing_state();
}

function show_playing_state() {
  const paused = state.playback === null || state.playback.paused || state.current < 0;
  ui.play.textContent = paused ? t.play : t.pause;
  if (state.current < 0) return;
  const name = state.songs[state.current].name;
  show_status(paused ? t.paused(name) : t.playing(name));
}

function show_position(frame) {
  const total = state.player === null ? 0 : state.player.frames / sample_rate_hz;
  const seconds = Math.min(frame / sample_rate_hz, total);
  if (!state.dragging) ui.position.value = String(Math.floor(seconds));
  ui.clock.textContent = `${clock_text(seconds)} / ${clock_text(total)}`;
  ui.position.setAttribute('aria-valuetext', t.of(clock_text(seconds), clock_text(total)));
}

function pull_failed(error) {
  show_error(t.cannot_play(state.songs[state.current]?.name ?? ''), error);
}

function song_ended() {
  if (state.current + 1 < state.songs.length) {
    play_song(state.current + 1).catch(report_failure);
    return;
  }
  stop_song();
  show_status(t.list_end);
}

async function toggle_play() {
  if (state.current < 0) {
    if (song_list.selected >= 0) await play_song(song_list.selected);
    return;
  }
  if (state.playback.paused) {
    await state.playback.resume();
  } else {
    await state.playback.pause();
  }
  show_playing_state();
}

async function step_song(step) {
  const from = state.current >= 0 ? state.current : song_list.selected;
  if (step < 0 && state.current >= 0 &&
      state.playback.position > restart_within_seconds * sample_rate_hz) {
    await play_song(state.current);
    return;
  }
  const to = from + step;
  if (to >= 0 && to < state.songs.length) await play_song(to);
}

function seek_to_bar() {
  state.dragging = false;
  if (state.current < 0) return;
  state.playback.seek(state.seek_to * sample_rate_hz);
  show_position(state.playback.position);
}

async function download(extension) {
  const song = state.songs[song_list.selected];
  if (song === undefined) return;
  const file_name = file_name_for(song.name, extension);
  show_status(t.writing(file_name));
  // The render holds the page for a moment: let the message show first.
  await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
  let bytes;
  try {
    const options = extension === 'mid' ?
        {format: 'mid'} :
        {...length_options(song), ...sound_options(), format: 'wav'};
    bytes = state.archive.render(song.name, options);
  } catch (error) {
    show_error(t.cannot_write(file_name), error);
    return;
  }
  const link = ui.download_link;
  if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(
      new Blob([bytes], {type: extension === 'mid' ? 'audio/midi' : 'audio/wav'}));
  link.download = file_name;
  link.textContent = file_name;
  link.hidden = false;
  link.click();
  show_status(t.written(file_name));
}

function on_capture(message) {
  window.tunecast_capture?.push(message);
}

function wire_controls() {
  ui.file.addEventListener('change', () => {
    if (ui.file.files.length > 0) open_file(ui.file.files[0]);
  });
  // A file dropped anywhere on the page opens, rather than replacing the page.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    ui.drop_zone.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => ui.drop_zone.classList.remove('dropping'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    ui.drop_zone.classList.remove('dropping');
    const file = event.dataTransfer?.files[0];
    if (file !== undefined) open_file(file);
  });
  ui.play.addEventListener('click', () => toggle_play().catch(report_failure));
  ui.previous.addEventListener('click', () => step_song(-1).catch(report_failure));
  ui.next.addEventListener('click', () => step_song(1).catch(report_failure));
  // While the bar is held, the worklet's reports leave it alone; the value
  // to seek to is kept apart, as a report may still land before the change.
  ui.position.addEventListener('pointerdown', () => (state.dragging = true));
  ui.position.addEventListener('pointerup', () => (state.dragging = false));
  ui.position.addEventListener('input', () => {
    state.seek_to = Number(ui.position.value);
    const total = state.player === null ? 0 : state.player.frames / sample_rate_hz;
    ui.clock.textContent = `${clock_text(state.seek_to)} / ${clock_text(total)}`;
  });
  ui.position.addEventListener('change', seek_to_bar);
  ui.volume.addEventListener('input', () => {
    ui.volume_value.textContent = ui.volume.value;
    // The queued half second keeps the old level; what is pulled next has the new one.
    if (state.player !== null) state.player.volume = Number(ui.volume.value);
  });
  // A player's channels are fixed: the song starts again where it was.
  ui.stereo.addEventListener('change', () => {
    if (state.current >= 0) {
      play_song(state.current, state.playback.position, true).catch(report_failure);
    }
  });
  ui.download_wav.addEventListener('click', () => download('wav'));
  ui.download_mid.addEventListener('click', () => download('mid'));
}

translate_page();
if (capture) window.tunecast_capture = [];
wire_controls();
stop_song();
show_status(t.loading);
tunecast.then(() => {
  if (state.opening === 0) show_status(t.ready);
}, (error) => show_error(t.no_module, error));
