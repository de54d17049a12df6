// The page's words, one table per language, and the choice between them:
// Spanish for a browser that prefers any Spanish, English otherwise.

const spanish = {
  title: 'tunecast: la música de un WAD',
  intro:
      'Abre un WAD, o un ZIP que lo contenga, y toca su música. El archivo no sale de este navegador.',
  file: 'Archivo WAD o ZIP',
  drop: 'o suéltalo en la página',
  songs: 'Canciones',
  name: 'Nombre',
  format: 'Formato',
  length: 'Duración',
  status: 'Estado',
  // The listing's status words, which the module gives in Spanish.
  statuses: {ok: 'bien', truncado: 'truncado', 'dañado': 'dañado', 'sin fin': 'sin fin'},
  player: 'Reproductor',
  nothing_playing: 'Ninguna canción sonando',
  play: 'Tocar',
  pause: 'Pausa',
  previous: 'Anterior',
  next: 'Siguiente',
  position: 'Posición',
  volume: 'Volumen',
  stereo: 'Estéreo',
  download_wav: 'Descargar WAV',
  download_mid: 'Descargar MIDI',
  of: (elapsed, total) => `${elapsed} de ${total}`,
  loading: 'Cargando el sintetizador…',
  ready: 'Listo: abre un WAD o un ZIP.',
  no_module: 'No se pudo cargar el sintetizador',
  reading: (file) => `Leyendo ${file}…`,
  listed: (file, count) => count === 1 ? `${file}: 1 canción` : `${file}: ${count} canciones`,
  no_music: (file) => `${file} no tiene ningún lump de música`,
  too_big: (file, mib) => `${file} es demasiado grande: pasa de ${mib} MiB`,
  not_archive: (file) => `No se puede abrir ${file}: no es un WAD, ni un ZIP sano que lo contenga.`,
  reason: (text) => `Motivo: ${text}`,
  playing: (name) => `Suena ${name}`,
  paused: (name) => `${name} en pausa`,
  list_end: 'Fin de la lista',
  cannot_play: (name) => `No se puede tocar ${name}`,
  no_audio: 'El navegador no deja tocar sonido',
  writing: (file) => `Escribiendo ${file}…`,
  written: (file) => `${file} listo para descargar`,
  cannot_write: (file) => `No se puede escribir ${file}`,
};

const english = {
  title: 'tunecast: the music of a WAD',
  intro:
      'Open a WAD, or a ZIP holding one, and play its music. The file never leaves this browser.',
  file: 'WAD or ZIP file',
  drop: 'or drop it on the page',
  songs: 'Songs',
  name: 'Name',
  format: 'Format',
  length: 'Length',
  status: 'Status',
  statuses: {ok: 'ok', truncado: 'truncated', 'dañado': 'damaged', 'sin fin': 'endless'},
  player: 'Player',
  nothing_playing: 'No song playing',
  play: 'Play',
  pause: 'Pause',
  previous: 'Previous',
  next: 'Next',
  position: 'Position',
  volume: 'Volume',
  stereo: 'Stereo',
  download_wav: 'Download WAV',
  download_mid: 'Download MIDI',
  of: (elapsed, total) => `${elapsed} of ${total}`,
  loading: 'Loading the synthesizer…',
  ready: 'Ready: open a WAD or a ZIP.',
  no_module: 'The synthesizer could not be loaded',
  reading: (file) => `Reading ${file}…`,
  listed: (file, count) => count === 1 ? `${file}: 1 song` : `${file}: ${count} songs`,
  no_music: (file) => `${file} has no music lumps`,
  too_big: (file, mib) => `${file} is too big: over ${mib} MiB`,
  not_archive: (file) => `Cannot open ${file}: it is neither a WAD nor an intact ZIP holding one.`,
  reason: (text) => `Reason: ${text}`,
  playing: (name) => `Playing ${name}`,
  paused: (name) => `${name} paused`,
  list_end: 'End of the list',
  cannot_play: (name) => `Cannot play ${name}`,
  no_audio: 'The browser does not let the page play sound',
  writing: (file) => `Writing ${file}…`,
  written: (file) => `${file} ready to download`,
  cannot_write: (file) => `Cannot write ${file}`,
};

// The first of the browser's preferences that the page speaks decides, so
// French then Spanish gets Spanish; with neither among them, English.
export function language_for(preferences) {
  for (const tag of preferences) {
    const primary = tag.toLowerCase().split('-')[0];
    if (primary === 'es' || primary === 'en') return primary;
  }
  return 'en';
}

export function texts_for(language) {
  return language === 'es' ? spanish : english;
}
