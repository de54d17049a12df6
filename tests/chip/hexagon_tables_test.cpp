// The hexagon tables: each block holds the waveform a steady note draws
// sample by sample, exactly up to its ends, over the whole 23.8 s.
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

TEST(HexagonTables, BlocksHoldTheDrawnWaveformUpToTheirEndsFor23Seconds) {
  const int64_t len = int64_t{1} << 20;
  const std::vector<double> want = drawn(len);
  chip::hexagon_block_cache note{};
  struct run {
    int64_t k0;
    int32_t n;
    std::size_t blocks_made;
  };
  const int64_t old_end = int64_t{1} << 18;
  for (const run r :
       {run{0, 100, 1}, run{4095, 1, 1}, run{4096, 1, 2}, run{old_end, 3, 3}, run{len - 1, 1, 4}}) {
    SCOPED_TRACE(r.k0);
    const double *w = chip::hexagon_entries(hexagon, note, step, r.k0, r.n);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(hexagon.arena_used, r.blocks_made);
    for (int32_t i = 0; i < r.n; ++i) {
      EXPECT_EQ(std::bit_cast<uint64_t>(w[i]),
                std::bit_cast<uint64_t>(want[static_cast<std::size_t>(r.k0 + i)]));
    }
  }
  // A run across a block end, or past the tables, is drawn by the note.
  chip::hexagon_block_cache other{};
  EXPECT_EQ(chip::hexagon_entries(hexagon, other, step, 4095, 2), nullptr);
  EXPECT_EQ(chip::hexagon_entries(hexagon, other, step, len, 1), nullptr);
}

}  // namespace
