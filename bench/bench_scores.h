// bench_scores.h: the scores the benchmarks render, generated in code with
// the MUS builder. Each is a whole piece that ends on its own after
// frames() samples; every sample before that is rendered.
#ifndef TUNECAST_BENCH_SCORES_H
#define TUNECAST_BENCH_SCORES_H

#include <cstdint>
#include <string>
#include <vector>

#include "fixtures.h"

namespace bench {

struct score {
  std::string name;
  fixture::bytes mus;
  int64_t ticks;  // length of the piece; the score end follows its last delay
  int64_t frames() const { return ticks * 315; }
};

// About eight melodic voices (lead with vibrato, bass, a three-note pad,
// an arpeggio, an occasional bell) and a drum hit every other beat.
score typical_score();
// 28 melodic voices of every family (vibrato and decay included) held all
// the time, and a drum pool kept full with all kinds.
score dense_score();
// The same drum pattern as the dense score and nothing else.
score drums_only_score();
// About 60 s built like game music: drums on every beat (kick, snare, hi-hat,
// a crash every eight bars), a hexagon lead bent in mid-note, a bass line on
// every eighth and four-note pad chords held 6.9 s each.
score real_song_score();

std::vector<score> all_scores();

// Sounding voices and drums summed over every frame of s, played from its
// start (it must be registered).
int64_t sounding_voice_samples(const score &s);

// Plays the registered s from its start as the tool pulls it: chip_render
// in blocks of block_frames.
constexpr int64_t block_frames = 1024;
void render_in_blocks(const score &s, std::vector<float> &left, std::vector<float> &right);

}  // namespace bench

#endif  // TUNECAST_BENCH_SCORES_H
