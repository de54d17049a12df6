// The hexagon tables: a block is made only for the second note of a step
// that reaches it, holds the waveform a note draws sample by sample, and
// counts each note once per block.
#include "chip/hexagon_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "chip/state.h"
#include "chip/voices.h"

namespace chip = tunecast::chip;

namespace {

// The module's own tables, emptied before every test with the rest of the state.
chip::hexagon_tables &hexagon = chip::the_state.hexagon;

constexpr double step = 0.00997732426303855;  // 440 Hz

// The waveform a steady note draws itself on samples 0 .. n - 1.
std::vector<double> drawn(int64_t n) {
  std::vector<double> w;
  double phase = 0.0;
  bool wrapped = false;
  for (int64_t k = 0; k < n; ++k) {
    phase = chip::voice_phase_advance(phase, step, wrapped);
    w.push_back(chip::voice_hexagon(phase));
  }
  return w;
}

TEST(HexagonTables, ABlockIsMadeForTheSecondNoteThatReachesIt) {
  const std::vector<double> want = drawn(2 * 4096);
  // The first note calls all along, a run across the block end included,
  // and counts once for each block it reaches.
  chip::hexagon_block_cache first{};
  EXPECT_EQ(chip::hexagon_entries(hexagon, first, step, 0, 100), nullptr);
  EXPECT_EQ(chip::hexagon_entries(hexagon, first, step, 4090, 10), nullptr);
  EXPECT_EQ(chip::hexagon_entries(hexagon, first, step, 4100, 10), nullptr);
  EXPECT_EQ(hexagon.arena_used, 0u);

  // The second note has each block made as it reaches it.
  chip::hexagon_block_cache second{};
  struct run {
    int64_t k0;
    int32_t n;
    std::size_t blocks_made;
  };
  for (const run r : {run{0, 100, 1}, run{4095, 1, 1}, run{4096, 1, 2}, run{8191, 1, 2}}) {
    SCOPED_TRACE(r.k0);
    const double *w = chip::hexagon_entries(hexagon, second, step, r.k0, r.n);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(hexagon.arena_used, r.blocks_made);
    for (int32_t i = 0; i < r.n; ++i) {
      EXPECT_EQ(std::bit_cast<uint64_t>(w[i]),
                std::bit_cast<uint64_t>(want[static_cast<std::size_t>(r.k0 + i)]));
    }
  }
  // A run across a block end is drawn, not read past the block.
  chip::hexagon_block_cache third{};
  EXPECT_EQ(chip::hexagon_entries(hexagon, third, step, 4095, 2), nullptr);
}

}  // namespace
