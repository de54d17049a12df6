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

writer &writer::note_on(int channel, int note, int velocity) {
  return event(1, channel,
               {static_cast<uint8_t>(0x80 | (note & 0x7F)), static_cast<uint8_t>(velocity & 0x7F)});
}

writer &writer::note_on(int channel, int note) {
  return event(1, channel, {static_cast<uint8_t>(note & 0x7F)});
}

writer &writer::note_off(int channel, int note) {
  return event(0, channel, {static_cast<uint8_t>(note & 0x7F)});
}

writer &writer::bend(int channel, int value) {
  return event(2, channel, {static_cast<uint8_t>(value)});
}

writer &writer::controller(int channel, int number, int value) {
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

}  // namespace tunecast::mus
