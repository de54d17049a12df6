// render.h: renders one music lump through the synthesizer and writes
// the WAV file: the length (a fixed duration, or whole passes of the song
// and a fade), the sample loop with its peak and clipping count, the output
// (a path, or an open descriptor such as standard output) and the messages.
#ifndef TUNECAST_TOOL_RENDER_H
#define TUNECAST_TOOL_RENDER_H

#include <cstdint>

#include "midi/music_lump.h"
#include "tool/output_format.h"
#include "tool/render_span.h"
#include "tool/song_start.h"
#include "tool/wav_out.h"

struct render_job {
  const char *lump_name;  // for messages
  const uint8_t *data;    // the lump's bytes (not null)
  int32_t size;
  render_length length;
  const char *out_path;  // for messages; written unless out_fd is given
  int out_fd = -1;       // >= 0: write the WAV here (a stream, not replaced)
  bool batch = false;    // one of many: warnings name the lump, no closing line;
                         // out_path is an entry of the batch directory, never followed
  file_identity input;   // the archive being read, which is never written over
  output_format format = output_format::wav;  // settled and available in this build
  render_style style;
  int out_dir_fd = -1;  // with batch: the batch directory, out_path's entry is in it
  // The tags of a FLAC or Ogg file, in UTF-8; null: none.
  const char *title = nullptr;  // the lump's name
  const char *album = nullptr;  // the archive's (archive_album)
};

// Checks a duration before anything is loaded or rendered: its frame count
// must fit the WAV size fields. Prints the Spanish error and returns false
// when it is refused.
bool render_seconds_valid(const render_seconds &seconds, int channels);

// Prints why a prepared lump cannot be played (a truncated MUS score, a
// MIDI file that does not convert) and returns false; true when it can.
bool render_score_usable(const render_job &job, const tunecast::music_score &score);

// The line that ends a render whose file is written, unless quiet or one
// of a batch: on standard output, or on standard error when standard output
// carries the file itself. Whether it arrived is standard output's final
// check (standard_output_close).
void render_closing_line(const render_job &job, const char *line);

// Renders the lump and writes the file in job.format (for mid, the score
// as a MIDI file instead). With job.style.volume_auto, at the loudest
// volume with no clipped sample, found first by renders that write
// nothing. Prints every error and warning (standard error)
// and the closing line. A score the synthesizer refuses to register is an
// error before the output is touched. Returns the exit status: 0 written, 1 not.
int render_run(const render_job &job);

#endif  // TUNECAST_TOOL_RENDER_H
