// Fuzzes the MIDI reader on arbitrary bytes, once as given and once behind
// an "MThd" signature, so that most inputs reach the chunk walk. A
// conversion either fails with one line of reason, or yields a MUS score that
// the tool accepts as it is: header sizes that match, a score end that can
// be measured, a length within the reader's one-day limit.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "midi/midi.h"
#include "midi/music_lump.h"
#include "tunecast/chip.h"

using tunecast::get_u16le;

using tunecast::classify_lump;
using tunecast::lump_kind;
using tunecast::midi_is_file;
using tunecast::midi_result;
using tunecast::midi_to_mus;

namespace {

constexpr size_t mus_score_start = 16;
constexpr double longest_s = 24.0 * 60.0 * 60.0;

void check(const uint8_t *data, size_t size) {
  const midi_result r = midi_to_mus(data, size);
  if (!r.ok) {
    if (r.error.empty() || r.error.find('\n') != std::string::npos || !r.mus.empty()) std::abort();
    return;
  }
  if (!r.error.empty() || r.mus.size() < mus_score_start) std::abort();
  const auto n = static_cast<int32_t>(r.mus.size());
  if (classify_lump(r.mus.data(), n) != lump_kind::mus) std::abort();
  const size_t score_len = get_u16le(r.mus.data() + 4);
  const size_t score_start = get_u16le(r.mus.data() + 6);
  if (score_start != mus_score_start || score_start + score_len != r.mus.size()) std::abort();
  double seconds = -1.0;
  if (chip_song_length(r.mus.data(), n, &seconds) != 1) std::abort();
  if (!(seconds >= 0.0 && seconds <= longest_s)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 20) return -1;
  check(data, size);
  if (!midi_is_file(data, size)) {
    std::vector<uint8_t> signed_input(size + 4);
    std::memcpy(signed_input.data(), "MThd", 4);
    if (size != 0) std::memcpy(signed_input.data() + 4, data, size);
    check(signed_input.data(), signed_input.size());
  }
  return 0;
}
