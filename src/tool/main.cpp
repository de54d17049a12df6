// main.cpp: the render tool's entry point. Plays a music lump (MUS
// or MIDI) of a WAD archive through the synthesizer and writes a mono 16-bit
// 44100 Hz WAV file; options list an archive's music or render all of it.
//   tunecast ARCHIVE LUMP OUT.wav [seconds] [opciones]
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tool/archive.h"
#include "tool/batch.h"
#include "tool/messages.h"
#include "tool/options.h"
#include "tool/output_format.h"
#include "tool/output_path.h"
#include "tool/play.h"
#include "tool/render.h"
#include "tool/sound_device.h"
#include "tool/standard_streams.h"
#include "tool/wav_out.h"
#include "tunecast/wad.h"
#ifdef _WIN32
#include "common/wide_path.h"
#endif

using tunecast::tr;

namespace {

const char *usage_text() { return tr("uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n"); }

// In each language, the option names of that language (the Spanish ones
// under Spanish, the English ones under English).
const char *help_text() {
  // TRANSLATORS: list the long options by the names of your language where
  // the tool has them (English: --passes, --fade, --volume, --all, --list,
  // --play, --stereo, --format, --quiet, --help) and keep the columns.
  return tr(
      "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n"
      "     tunecast -v N [-f S] ZARN.WAD D_E1M1 salida.wav\n"
      "     tunecast -a DIR [-v N [-f S]] ZARN.WAD [segundos]\n"
      "     tunecast -l ZARN.WAD [--json]\n"
      "     tunecast -p ZARN.WAD [D_E1M1 [segundos]] [-v N [-f S]]\n"
      "\n"
      "Toca un lump de música (MUS o MIDI) de un archivo WAD (o de un ZIP que lo\n"
      "contenga) y lo escribe en un WAV mono (o estéreo con -e) de 16 bits a\n"
      "44100 Hz; 60 segundos si no se dice otra cosa. Con - como salida, el WAV va\n"
      "a la salida estándar.\n"
      "\n"
      "De un ZIP con varios WAD, ARCHIVO.zip:MIEMBRO elige uno por su nombre exacto\n"
      "(tunecast -l pack.zip:maps/zarn.wad); tunecast -l ARCHIVO.zip dice cuáles hay.\n"
      "\n"
      "Con --tocar, cada canción suena hasta su fin; en una terminal, espacio pausa,\n"
      "← y → retroceden o avanzan 5 s, n y p pasan a la siguiente o la anterior,\n"
      "+ y - cambian el volumen, l repite la canción y q sale.\n"
      "\n"
      "La duración va en segundos, con punto decimal y una s final si se quiere\n"
      "(90, 90s, 12.5, .5), o como m:ss o h:mm:ss (1:30, 0:01:30, 1:30.5).\n"
      "Las opciones pueden ir antes o después de los demás argumentos; tras --,\n"
      "todo es argumento (para un nombre que empiece por -).\n"
      "Las opciones largas tienen también nombre en inglés: --passes, --fade,\n"
      "el resto igual: --volume, --all, --list, --play, --stereo, --format, --quiet.\n"
      "\n"
      "  -v, --vueltas N         toca la canción entera N veces, repitiendo al final\n"
      "                            tunecast -v 2 zarn.wad D_E1M1 e1m1.wav\n"
      "  -f, --fundido S         con --vueltas, S segundos más bajando hasta el silencio\n"
      "                            tunecast -v 1 -f 6 zarn.wad D_E1M1 e1m1.wav\n"
      "      --volumen N|auto    0 a 127 (100 si no); auto: el más alto sin recortes\n"
      "                            tunecast --volumen 80 zarn.wad D_E1M1 e1m1.wav\n"
      "  -a, --todas DIR         escribe cada lump de música en DIR/NOMBRE.wav\n"
      "                            tunecast -a canciones zarn.wad 90\n"
      "  -l, --listar ZARN.WAD   lista los lumps de música: nombre, formato, bytes, duración\n"
      "                            tunecast -l zarn.wad\n"
      "  -p, --tocar ZARN.WAD    toca por la tarjeta de sonido el lump dado, o todos\n"
      "                            tunecast -p zarn.wad D_E1M1\n"
      "  -e, --estereo           dos canales, cada voz donde la pone su canal (pan)\n"
      "                            tunecast -e zarn.wad D_E1M1 e1m1.wav\n"
      "      --formato F         wav, flac, ogg o mid (si no, la extensión de la salida)\n"
      "                            tunecast --formato flac zarn.wad D_E1M1 -\n"
      "      --json              con --listar, un objeto JSON por línea, para programas\n"
      "                            tunecast -l zarn.wad --json\n"
      "  -q, --silencio          solo errores y avisos: sin líneas de progreso ni resumen\n"
      "                            tunecast -q zarn.wad D_E1M1 e1m1.wav\n"
      "  -h, --ayuda, --help     muestra esta ayuda\n"
      "                            tunecast --ayuda\n"
      "  -V, --version           muestra la versión\n"
      "                            tunecast --version\n"
      "\n"
      "Todo lo demás, en el manual: man tunecast\n");
}

struct wad_closer {
  void operator()(wad_file *w) const { wad_free(w); }
};
using wad_handle = std::unique_ptr<wad_file, wad_closer>;

#ifdef _WIN32
// _isatty says yes to every character device, NUL too: a console is what
// answers GetConsoleMode.
bool is_terminal(int fd) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode) != 0;
}
#else
bool is_terminal(int fd) { return isatty(fd) != 0; }
#endif

int usage_error(const std::string &line) {
  if (!line.empty()) std::fprintf(stderr, tr("%s (ver tunecast --ayuda)\n"), line.c_str());
  std::fputs(usage_text(), stderr);
  return 1;
}

// The loader's lines: failures on standard error, progress on the stream
// user points at (standard output, or standard error when standard output
// carries the tool's data), or nowhere when user is null (--silencio).
// Flushed at once, so each keeps its place among the tool's own lines.
void print_wad_line(void *user, int32_t level, const char *line) {
  if (level == WAD_LOG_PROGRESS && user == nullptr) return;
  std::FILE *stream = level == WAD_LOG_PROGRESS ? static_cast<std::FILE *>(user) : stderr;
  std::fprintf(stream, "%s\n", line);
  standard_stream_flush(stream);
}

render_style style_of(const tool_options &opt) {
  return {opt.volume, opt.quiet, opt.stereo, opt.volume_auto};
}

// After "no hay NAME": the music lumps that name may have meant.
void report_near_names(wad_file *opened, const char *archive, const char *lump) {
  const std::string hint = archive_absent_hint(opened, archive, lump);
  if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
}

int render_one(const tool_options &opt) {
  const char *archive = opt.args[0];
  const char *lump = opt.args[1];
  const char *out = opt.args[2];
#ifdef _WIN32
  // Windows has no names for a process's own descriptors: - alone is one.
  const int out_fd = std::strcmp(out, "-") == 0 ? STDOUT_FILENO : -1;
#else
  // - and the names of a descriptor of ours (/dev/stdout, /dev/fd/N) are
  // written as that descriptor, where it stands.
  const int out_fd = std::strcmp(out, "-") == 0 ? STDOUT_FILENO : path_named_descriptor(out);
#endif
  if (out_fd >= 0 && is_terminal(out_fd)) {
    std::fputs(tr("no se escribe un WAV en la terminal: redirige la salida a un archivo o a otro "
                  "programa\n"),
               stderr);
    return 1;
  }
  if (out_fd == STDOUT_FILENO) {
    // The WAV alone goes to standard output: the loader's line and the
    // closing line, which would corrupt it, go to standard error.
    wad_set_log(print_wad_line, opt.quiet ? nullptr : stderr);
  }
  // Only the directory and the one lump are read: a song of a large
  // archive costs little more than the song.
  const archive_arg source = archive_arg_parse(archive);
  const wad_handle wad(archive_arg_open(source));
  if (!wad) return 1;  // the loader has said why
  const wad_lump *entry = wad_get(wad.get(), lump);
  const std::unique_ptr<uint8_t, decltype(&std::free)> data(
      entry != nullptr ? wad_read_lump(wad.get(), entry) : nullptr, &std::free);
  if (data == nullptr) {
    std::fprintf(stderr, tr("no hay %s\n"), lump);
    report_near_names(wad.get(), archive, lump);
    return 1;
  }
  const int32_t size = entry->size;
  render_length length;
  length.seconds = {opt.seconds, opt.seconds_text};  // read and checked by main
  length.loops = opt.loops;
  length.fade_s = opt.fade_s;
  length.fade_text = opt.fade_text;
  // The archive itself is never an output: writing over it would destroy what is read.
  render_job job{lump,       data.get(),   size,  length,
                 out,        out_fd,       false, file_identity_of(source.path.c_str()),
                 opt.format, style_of(opt)};
  const std::string title = archive_safe_name(entry->name);
  const std::string album = archive_album(wad.get(), source.path);
  job.title = title.c_str();
  job.album = album.c_str();
  return render_run(job);
}

// The listing is the output here: the loader's line goes to standard error.
// Opened, not loaded: each lump is read when it is measured, one at a time.
int list_archive(const tool_options &opt) {
  wad_set_log(print_wad_line, opt.quiet ? nullptr : stderr);
  const archive_arg source = archive_arg_parse(opt.archive);
  const wad_handle wad(archive_arg_open(source));
  if (!wad) return 1;
  // Which of a ZIP's WADs the table is of: on standard output before the
  // table, or as a note on standard error when the output is JSON alone.
  const std::string members = archive_members_line(wad.get(), source.path.c_str());
  if (!members.empty() && !opt.json) std::printf("%s\n", members.c_str());
  if (!members.empty() && opt.json && !opt.quiet) std::fprintf(stderr, "%s\n", members.c_str());
  if (opt.json) {
    archive_list_json(wad.get());
  } else {
    archive_list(wad.get());
  }
  return 0;
}

// Opened, not loaded: each song's lump is read by the worker that renders
// it, so a large archive costs its directory and the songs being rendered.
int render_all(const tool_options &opt) {
  const archive_arg source = archive_arg_parse(opt.args[0]);
  const wad_handle wad(archive_arg_open(source));
  if (!wad) return 1;
  render_length length;
  length.seconds = {opt.seconds, opt.seconds_text};  // read and checked by main
  length.loops = opt.loops;
  length.fade_s = opt.fade_s;
  length.fade_text = opt.fade_text;
  return batch_run(wad.get(), opt.dir, length, style_of(opt), file_identity_of(source.path.c_str()),
                   opt.format, archive_album(wad.get(), source.path));
}

// What to write, settled like the duration before the archive is loaded:
// --formato, else the output's extension; a batch writes WAV unless told.
bool settle_format(tool_options &opt) {
  const char *out = opt.action == tool_action::render ? opt.args[2] : nullptr;
  std::string error;
  output_format format = output_format::wav;
  if (!output_format_settle(opt.format_given ? &opt.format : nullptr, out, format, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  if (format == output_format::mid && (opt.loops != 0 || opt.seconds_text != nullptr)) {
    std::fputs(tr("un MIDI lleva la partitura entera: sin duración ni --vueltas\n"), stderr);
    return false;
  }
  // No volume enters a MIDI file, so there is no level to find or report.
  if (format == output_format::mid && opt.volume_auto) {
    std::fputs(tunecast::tr("un MIDI no lleva volumen: --volumen auto no va con la salida MIDI\n"),
               stderr);
    return false;
  }
  opt.format = format;
  return true;
}

// The version, then what this build can do: the formats it writes and the
// sound library it plays through.
void print_version() {
  const std::string sound = sound_device_library();
  std::printf(tr("tunecast %s\nformatos: %s\ntocar: %s\n"), TUNECAST_VERSION,
              output_formats_built_in().c_str(), sound.empty() ? tr("no") : sound.c_str());
}

int run(int argc, char **argv) {
  tool_options opt = options_parse(argc, argv);
  wad_set_log(print_wad_line, opt.quiet ? nullptr : stdout);
  if (opt.error.empty()) options_check_args(opt);
  if (!opt.error.empty()) return usage_error(opt.error);
  switch (opt.action) {
    case tool_action::help:
      std::fputs(help_text(), stdout);
      return 0;
    case tool_action::version:
      print_version();
      return 0;
    case tool_action::list:
      return list_archive(opt);
    case tool_action::batch:
    case tool_action::render:
    case tool_action::play:
      break;
  }
  if (opt.action == tool_action::render && opt.args.size() < 3) {
    std::fputs(usage_text(), stderr);
    return 1;
  }
  // The duration is settled before the archive is loaded (which may mean
  // extracting a large ZIP member) and before any output is touched.
  if (!options_read_seconds(opt)) {
    std::fprintf(stderr, "%s\n", opt.error.c_str());
    return 1;
  }
  if (opt.action != tool_action::play && !settle_format(opt)) return 1;
  if (opt.loops == 0 &&
      !render_seconds_valid({opt.seconds, opt.seconds_text}, style_of(opt).channels())) {
    return 1;
  }
  switch (opt.action) {
    case tool_action::batch:
      return render_all(opt);
    case tool_action::play:
      return play_run(opt);
    default:
      return render_one(opt);
  }
}

int run_held(int argc, char **argv) {
  tunecast::messages_use_environment();
  wad_set_translation(tr);  // the reader's lines in the same language
  // Before anything is opened: a file given a closed stream's number would
  // receive whatever the tool says on that stream.
  if (!standard_streams_hold()) return 1;
  return standard_output_close(run(argc, argv));
}

}  // namespace

#ifdef _WIN32
// Windows hands main its arguments in the console's code page, which loses
// every character that page lacks: they are taken again from the UTF-16
// command line, as UTF-8 like everything else in the tool, and the console
// shows the tool's UTF-8 lines as such.
int main() {
  int count = 0;
  wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    std::fputs(tr("no se puede leer la línea de órdenes\n"), stderr);
    return 1;
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(tunecast::wide_to_utf8(wide[i]));
  LocalFree(wide);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  SetConsoleOutputCP(CP_UTF8);
  return run_held(count, argv.data());
}
#else
int main(int argc, char **argv) { return run_held(argc, argv); }
#endif
