// writer.cpp: the MUS score writer declared in writer.h.
#include "mus/writer.h"

#include <stdexcept>

#include "common/byte_order.h"
#include "common/vlq.h"

namespace tunecast::mus {

bytes delay_bytes(uint64_t ticks) {
  bytes out;
  vlq_append(out, ticks);
  return out;
}

writer &writer::event(int type, int channel, const bytes &data) {
  last_event_ = stream_.size();
  stream_.push_back(static_cast<uint8_t>((type & 7) << 4 | (channel & 15)));
  stream_.insert(stream_.end(), data.begin(), data.end());
  return *this;
}

void writer::note_played(int channel, int note) {
  const int ch = channel & 15;
  channels_played_ = static_cast<uint16_t>(channels_played_ | 1u << ch);
  const int instrument = ch == percussion_channel ? percussion_instrument_base + (note & 0x7F)
                                                  : program_[static_cast<size_t>(ch)];
  instrument_used_[static_cast<size_t>(instrument)] = true;
}

writer &writer::note_on(int channel, int note, int velocity) {
  note_played(channel, note);
  return event(1, channel,
               {static_cast<uint8_t>(0x80 | (note & 0x7F)), static_cast<uint8_t>(velocity & 0x7F)});
}

writer &writer::note_on(int channel, int note) {
  note_played(channel, note);
  return event(1, channel, {static_cast<uint8_t>(note & 0x7F)});
}

writer &writer::note_off(int channel, int note) {
  return event(0, channel, {static_cast<uint8_t>(note & 0x7F)});
}

writer &writer::bend(int channel, int value) {
  return event(2, channel, {static_cast<uint8_t>(value)});
}

writer &writer::controller(int channel, int number, int value) {
  if (number == ctrl_program) program_[static_cast<size_t>(channel & 15)] = value & 0x7F;
  return event(4, channel, {static_cast<uint8_t>(number), static_cast<uint8_t>(value)});
}

writer &writer::system_event(int channel, int value) {
  return event(3, channel, {static_cast<uint8_t>(value)});
}

writer &writer::measure_end(int channel) { return event(5, channel, {}); }

writer &writer::score_end() { return event(6, 0, {}); }

writer &writer::delay(uint64_t ticks) {
  if (last_event_ == SIZE_MAX) throw std::logic_error("mus::writer: delay without an event");
  stream_[last_event_] |= 0x80;
  vlq_append(stream_, ticks);
  last_event_ = SIZE_MAX;
  return *this;
}

writer &writer::raw(const bytes &stream_bytes) {
  stream_.insert(stream_.end(), stream_bytes.begin(), stream_bytes.end());
  last_event_ = SIZE_MAX;
  return *this;
}

writer &writer::header_padding(size_t count) {
  padding_ = count;
  return *this;
}

bytes writer::build() const {
  bytes out = {'M', 'U', 'S', 0x1A};
  put_u16le(out, static_cast<uint32_t>(stream_.size()));
  put_u16le(out, static_cast<uint32_t>(8 + padding_));
  out.resize(8 + padding_, 0);
  out.insert(out.end(), stream_.begin(), stream_.end());
  return out;
}

bytes writer::build_standard() const {
  std::vector<uint16_t> instruments;
  for (size_t i = 0; i < instrument_used_.size(); ++i)
    if (instrument_used_[i]) instruments.push_back(static_cast<uint16_t>(i));
  int primary = 0, secondary = 0;
  for (int ch = 0; ch < percussion_channel; ++ch) {
    if ((channels_played_ >> ch & 1) == 0) continue;
    if (ch < 10) primary = ch + 1;
    if (ch >= 10) secondary = ch - 9;
  }
  bytes out = {'M', 'U', 'S', 0x1A};
  put_u16le(out, static_cast<uint32_t>(stream_.size()));
  put_u16le(out, static_cast<uint32_t>(16 + 2 * instruments.size()));
  put_u16le(out, static_cast<uint32_t>(primary));
  put_u16le(out, static_cast<uint32_t>(secondary));
  put_u16le(out, static_cast<uint32_t>(instruments.size()));
  put_u16le(out, 0);
  for (const uint16_t instrument : instruments) put_u16le(out, instrument);
  out.insert(out.end(), stream_.begin(), stream_.end());
  return out;
}

}  // namespace tunecast::mus
