// drum_tables.h: whole-life tables of the drum voices. A drum restarts its
// oscillator, noise and resonators from the same state at every hit of the
// same note, and its velocity enters only in the last products of each
// sample, so everything before those products is the same double hit after
// hit: these tables make it once per variant. Internal to the synthesizer.
#ifndef TUNECAST_CHIP_DRUM_TABLES_H
#define TUNECAST_CHIP_DRUM_TABLES_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace tunecast::chip {

// What sets a drum apart from the others before its velocity: the note's
// row of the key map. Tom pitches and hi-hat lengths make six and three.
constexpr std::size_t drum_variant_count = 14;

struct drum_variant_shape {
  int32_t note;       // a note that plays it
  double duration_s;  // how long it sounds
  std::size_t lanes;  // doubles per sample: two where the velocity enters
                      // between two factors rather than after them all
};

// clang-format off
constexpr std::array<drum_variant_shape, drum_variant_count> drum_variant_shapes = {{
    // kick, snare, clap
    {36, 0.25, 1}, {38, 0.2, 1}, {39, 0.15, 1},
    // the six toms
    {41, 0.35, 2}, {43, 0.35, 2}, {45, 0.35, 2}, {47, 0.35, 2}, {48, 0.35, 2}, {50, 0.35, 2},
    // closed, open and short hi-hats
    {42, 0.06, 2}, {46, 0.3, 2}, {60, 0.08, 2},
    // crash, ride
    {49, 1.2, 2}, {51, 0.8, 1},
}};
// clang-format on

// Samples a variant's table holds: its whole life (the samples whose age,
// summed step by step, stays within the duration number at most
// duration * 44100 + 1) and one spare.
constexpr int64_t drum_table_capacity(std::size_t v) {
  return static_cast<int64_t>(drum_variant_shapes[v].duration_s * 44100.0) + 2;
}

// Where each variant's entries start in the store, in doubles.
constexpr std::size_t drum_table_offset(std::size_t v) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < v; ++i) {
    at += static_cast<std::size_t>(drum_table_capacity(i)) * drum_variant_shapes[i].lanes;
  }
  return at;
}
constexpr std::size_t drum_table_doubles = drum_table_offset(drum_variant_count);

// The entries, 2.99 MiB, one store per instance, zero at the start and apart
// from the records for the same reason as the age tables' store. Pages of
// variants no song plays are never touched.
struct drum_table_store {
  std::array<double, drum_table_doubles> entries;
};
static_assert(sizeof(drum_table_store) <= std::size_t{3} << 20, "the tables stay within 3 MiB");

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_DRUM_TABLES_H
