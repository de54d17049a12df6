// batch_windows.cpp: --todas on Windows, which cannot fork: the archive is
// opened once and its music lumps are rendered on worker threads, each
// taking the next lump and reading it then. Every render owns its
// synthesizer instance, its copy of the lump and its output file, so the
// threads share only the lump list, the open archive (read at offsets, never
// through a shared position) and the tally; a render's failure is its own,
// as with worker processes.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/wide_path.h"
#include "tool/archive.h"
#include "tool/batch.h"
#include "tool/messages.h"
#include "tool/wav_out.h"

using tunecast::errno_from_windows;
using tunecast::tr;
using tunecast::utf8_to_wide;

namespace {

std::string without_trailing_slashes(std::string dir) {
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  return dir;
}

// DIR, created when missing. Returns 0, or the reason it cannot be written in.
int make_directory(const std::string &dir) {
  std::wstring wide;
  if (!utf8_to_wide(dir.c_str(), wide)) return EINVAL;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  const DWORD code = GetLastError();
  if (code != ERROR_ALREADY_EXISTS) return errno_from_windows(code);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return errno_from_windows(GetLastError());
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ENOTDIR;
}

struct batch_tally {
  std::mutex lock;
  size_t total = 0;
  size_t done = 0;
  size_t written = 0;
  bool progress = false;  // standard error is a console
  std::string extension;

  void finish(const archive_music &m, bool ok) {
    const std::lock_guard<std::mutex> hold(lock);
    ++done;
    if (ok) ++written;
    if (progress) {
      if (ok) {
        std::fprintf(stderr, "[%zu/%zu] %s%s\n", done, total, m.name.c_str(), extension.c_str());
      } else {
        std::fprintf(stderr, tr("[%zu/%zu] %s: falló\n"), done, total, m.name.c_str());
      }
    }
  }
};

}  // namespace

int batch_run(wad_file *w, const char *dir_arg, const render_length &length,
              const render_style &style, const file_identity &input, output_format format,
              const std::string &album) {
  if (length.loops == 0 && !render_seconds_valid(length.seconds, style.channels())) return 1;
  const std::string dir = without_trailing_slashes(dir_arg);
  if (const int err = make_directory(dir); err != 0) {
    std::fprintf(stderr, tr("no se puede escribir en %s: %s\n"), dir.c_str(),
                 wav_error_text(err).c_str());
    return 1;
  }
  batch_tally tally;
  tally.extension = std::string(".") + output_format_name(format);
  tally.progress = !style.quiet && _isatty(_fileno(stderr)) != 0;
  const std::vector<archive_music> music = archive_music_lumps(w, true);
  tally.total = music.size();
  std::mutex next_lock;
  size_t next = 0;
  const auto work = [&] {
    for (;;) {
      size_t index = 0;
      {
        const std::lock_guard<std::mutex> hold(next_lock);
        if (next == music.size()) return;
        index = next++;
      }
      const archive_music &m = music[index];
      if (m.name.empty()) {
        std::fputs(tr("lump sin nombre: no se escribe\n"), stderr);
        tally.finish(m, false);
        continue;
      }
      const std::string path = dir + "/" + m.name + tally.extension;
      const std::unique_ptr<uint8_t, decltype(&std::free)> data(wad_read_lump(w, m.lump),
                                                                &std::free);
      if (data == nullptr) {
        std::fprintf(stderr, tr("lump %s: no se puede leer\n"), m.name.c_str());
        tally.finish(m, false);
        continue;
      }
      render_job job{m.name.c_str(), data.get(), m.lump->size, length, path.c_str(), -1,
                     true,           input,      format,       style};
      job.title = m.name.c_str();
      job.album = album.c_str();
      tally.finish(m, render_run(job) == 0);
    }
  };
  // One thread per core, as many as there were worker processes.
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (size_t i = 0; i < std::min(cores, music.size()); ++i) workers.emplace_back(work);
  for (std::thread &t : workers) t.join();
  if (!style.quiet) {
    std::printf(tally.total == 1 ? tr("%zu de %zu pista escrita en %s\n")
                                 : tr("%zu de %zu pistas escritas en %s\n"),
                tally.written, tally.total, dir.c_str());
  }
  return tally.written == tally.total ? 0 : 1;
}
