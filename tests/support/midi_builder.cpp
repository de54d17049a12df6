// midi_builder.cpp: the Standard MIDI file builder declared in midi_builder.h.
#include "midi_builder.h"

#include "common/byte_order.h"
#include "common/vlq.h"

using tunecast::put_u16be;
using tunecast::put_u32be;
using tunecast::vlq_append;

namespace fixture {

namespace {

uint8_t byte7(int v) { return static_cast<uint8_t>(v & 0x7F); }

}  // namespace

midi_track &midi_track::running_status(bool on) {
  running_ = on;
  return *this;
}

midi_track &midi_track::channel_event(uint32_t delta, int kind, int channel, const bytes &data) {
  vlq_append(data_, delta);
  const int status = kind << 4 | (channel & 15);
  if (!running_ || status != last_status_) data_.push_back(static_cast<uint8_t>(status));
  last_status_ = status;
  data_.insert(data_.end(), data.begin(), data.end());
  return *this;
}

midi_track &midi_track::note_on(uint32_t delta, int channel, int note, int velocity) {
  return channel_event(delta, 0x9, channel, {byte7(note), byte7(velocity)});
}

midi_track &midi_track::note_off(uint32_t delta, int channel, int note, int velocity) {
  return channel_event(delta, 0x8, channel, {byte7(note), byte7(velocity)});
}

midi_track &midi_track::key_pressure(uint32_t delta, int channel, int note, int value) {
  return channel_event(delta, 0xA, channel, {byte7(note), byte7(value)});
}

midi_track &midi_track::controller(uint32_t delta, int channel, int number, int value) {
  return channel_event(delta, 0xB, channel, {byte7(number), byte7(value)});
}

midi_track &midi_track::program(uint32_t delta, int channel, int program) {
  return channel_event(delta, 0xC, channel, {byte7(program)});
}

midi_track &midi_track::channel_pressure(uint32_t delta, int channel, int value) {
  return channel_event(delta, 0xD, channel, {byte7(value)});
}

midi_track &midi_track::pitch_bend(uint32_t delta, int channel, int value) {
  return channel_event(delta, 0xE, channel, {byte7(value), byte7(value >> 7)});
}

midi_track &midi_track::tempo(uint32_t delta, uint32_t us_per_quarter) {
  return meta(delta, 0x51,
              {static_cast<uint8_t>(us_per_quarter >> 16),
               static_cast<uint8_t>(us_per_quarter >> 8), static_cast<uint8_t>(us_per_quarter)});
}

midi_track &midi_track::meta(uint32_t delta, int type, const bytes &data) {
  vlq_append(data_, delta);
  data_.push_back(0xFF);
  data_.push_back(static_cast<uint8_t>(type));
  vlq_append(data_, data.size());
  return raw(data);
}

midi_track &midi_track::sysex(uint32_t delta, const bytes &data, uint8_t kind) {
  vlq_append(data_, delta);
  data_.push_back(kind);
  vlq_append(data_, data.size());
  return raw(data);
}

midi_track &midi_track::end(uint32_t delta) { return meta(delta, 0x2F, {}); }

midi_track &midi_track::raw(const bytes &data) {
  data_.insert(data_.end(), data.begin(), data.end());
  return *this;
}

midi_builder::midi_builder(int format, int ticks_per_quarter)
    : format_(format), division_(static_cast<uint16_t>(ticks_per_quarter & 0x7FFF)) {}

midi_builder midi_builder::smpte(int format, int fps, int ticks_per_frame) {
  midi_builder b(format, 0);
  // High byte: the frame rate negated, in two's complement.
  b.division_ = static_cast<uint16_t>((256 - fps) << 8 | (ticks_per_frame & 0xFF));
  return b;
}

midi_builder &midi_builder::track_count(int count) {
  count_ = count;
  return *this;
}

midi_builder &midi_builder::track(const midi_track &track) { return chunk("MTrk", track.data()); }

midi_builder &midi_builder::chunk(const std::string &id, const bytes &payload,
                                  std::optional<uint32_t> length) {
  chunks_.push_back(chunk_rec{id, payload, length});
  return *this;
}

bytes midi_builder::build() const {
  int tracks = 0;
  for (const chunk_rec &c : chunks_) tracks += c.id == "MTrk" ? 1 : 0;
  bytes out;
  put_text(out, "MThd");
  put_u32be(out, 6);
  const int count = count_.value_or(tracks);
  for (int v : {format_, count, static_cast<int>(division_)})
    put_u16be(out, static_cast<uint32_t>(v));
  for (const chunk_rec &c : chunks_) {
    put_text(out, c.id.substr(0, 4));
    put_u32be(out, c.length.value_or(static_cast<uint32_t>(c.payload.size())));
    out.insert(out.end(), c.payload.begin(), c.payload.end());
  }
  return out;
}

}  // namespace fixture
