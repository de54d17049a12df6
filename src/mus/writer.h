// writer.h: writes MUS scores from readable calls. Events join the current
// group; delay() closes the group (bit 7 of its last event) and writes the
// tick count. Used by the demo song, the benchmarks' scores and the tests'
// fixtures; an internal library, not installed.
#ifndef TUNECAST_MUS_WRITER_H
#define TUNECAST_MUS_WRITER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tunecast::mus {

using bytes = std::vector<uint8_t>;

// Variable-length delay bytes for ticks: 7 bits per byte, most significant
// first, bit 7 set on every byte but the last.
bytes delay_bytes(uint64_t ticks);

class writer {
 public:
  writer &note_on(int channel, int note, int velocity);  // with velocity byte
  writer &note_on(int channel, int note);                // reuses the channel's last velocity
  writer &note_off(int channel, int note);
  writer &bend(int channel, int value);  // 0..255, 128 = centre
  writer &controller(int channel, int number, int value);
  writer &instrument(int channel, int program) {
    return controller(channel, ctrl_program, program);
  }
  writer &volume(int channel, int value) { return controller(channel, ctrl_main_volume, value); }
  writer &pan(int channel, int value) { return controller(channel, ctrl_pan, value); }
  writer &system_event(int channel, int value);
  writer &measure_end(int channel);
  writer &score_end();
  // Throws std::logic_error when no event is waiting for it.
  writer &delay(uint64_t ticks);
  // Appends bytes to the stream as they are (for malformed streams).
  writer &raw(const bytes &stream_bytes);
  // Extra header bytes between the 8-byte header and the score (an
  // instrument list in real files); the score start grows by their count.
  writer &header_padding(size_t count);

  bytes stream() const { return stream_; }
  // Header + stream. The score length is the stream's size (its low 16 bits:
  // a longer stream is the caller's to refuse).
  bytes build() const;
  // The same score behind the full 16-byte header other MUS readers expect:
  // signature, score length, score start, primary channels (one past the
  // highest of channels 0 to 9 that plays a note), secondary channels (the
  // same for 10 to 14, counted from 10), instrument count, a reserved 0,
  // then the instruments the notes use, ascending, one u16 each: a
  // channel's program as it stands at the note (0 before any), and on the
  // percussion channel 15, 100 + the key (so key 35 is 135). The score starts
  // at 16 + 2 * count; header_padding does not apply.
  bytes build_standard() const;

 private:
  static constexpr int ctrl_program = 0;
  static constexpr int ctrl_main_volume = 3;
  static constexpr int ctrl_pan = 4;
  static constexpr int percussion_channel = 15;
  static constexpr int percussion_instrument_base = 100;
  writer &event(int type, int channel, const bytes &data);
  void note_played(int channel, int note);
  bytes stream_;
  std::array<int, 16> program_{};            // each channel's program as the stream stands
  std::array<bool, 256> instrument_used_{};  // programs 0..127, percussion 100 + key
  uint16_t channels_played_ = 0;             // bit n: channel n has played a note
  size_t last_event_ = SIZE_MAX;             // offset of the current group's last event byte
  size_t padding_ = 0;
};

}  // namespace tunecast::mus

#endif  // TUNECAST_MUS_WRITER_H
