// midi_out.cpp: the score as a Standard MIDI file. Every refusal (a lump
// that is not music, a truncated score, a failed conversion) comes before
// the output is touched, as for sound.
#include "tool/midi_out.h"

#include <cstdio>

#include "midi/mus_to_midi.h"
#include "tool/messages.h"
#include "tool/wav_out.h"

using tunecast::midi_file_result;
using tunecast::mus_to_midi;
using tunecast::music_prepare;
using tunecast::music_score;
using tunecast::tr;

int midi_out_run(const render_job &job) {
  const music_score score = music_prepare(job.data, job.size);
  if (!render_score_usable(job, score)) return 1;
  if (score.mus() == nullptr) {
    std::fprintf(stderr, tr("lump %s: no es MUS ni MIDI, no hay partitura que escribir\n"),
                 job.lump_name);
    return 1;
  }
  const midi_file_result midi = mus_to_midi(score.mus(), static_cast<size_t>(score.mus_size()));
  if (!midi.ok) {
    std::fprintf(stderr, "lump %s: %s\n", job.lump_name,
                 midi.out_of_memory ? tr("sin memoria") : midi.error.c_str());
    return 1;
  }
  output_file out;
  const wav_target target{job.out_path, job.out_fd, job.batch, job.input, job.out_dir_fd};
  int err = out.open(target);
  if (err == 0) err = out.write(midi.midi.data(), midi.midi.size());
  if (err == 0) err = out.finish();
  if (err != 0) {
    std::fprintf(stderr, tr("no se puede escribir %s: %s\n"), job.out_path,
                 wav_error_text(err).c_str());
    return 1;
  }
  char closing[48];
  std::snprintf(closing, sizeof closing, tr("MIDI de %zu bytes"), midi.midi.size());
  render_closing_line(job, closing);
  return 0;
}
