// score_timeline.h: parts laid out on a timeline of ticks (140 per second)
// and written as one MUS score, events of a tick in the order releases,
// controllers, bends, note-ons, so that a note ending where the next of the
// same key starts frees its voice first.
#ifndef TUNECAST_BENCH_SCORE_TIMELINE_H
#define TUNECAST_BENCH_SCORE_TIMELINE_H

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_scores.h"

namespace bench {

constexpr int drum_channel = 15;

class timeline {
 public:
  void note(int ch, int tick, int len, int key, int velocity) {
    add(tick, 3, ch, key, velocity);
    add(tick + len, 0, ch, key, 0);
  }
  void hit(int tick, int key, int velocity) { add(tick, 3, drum_channel, key, velocity); }
  void instrument(int ch, int tick, int program) { add(tick, 1, ch, 0, program); }
  void volume(int ch, int tick, int value) { add(tick, 1, ch, 3, value); }
  void pan(int ch, int tick, int value) {
    add(tick, 1, ch, 4, value);
  }  // 0 left, 64 centre, 127 right
  void bend(int ch, int tick, int value) { add(tick, 2, ch, value, 0); }

  // The score up to end_tick (events at or after it are dropped). Throws
  // std::length_error when the events do not fit the 16-bit score length of
  // the MUS header.
  score build(const std::string &name, int end_tick) const {
    std::vector<event> sorted = events_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const event &x, const event &y) {
      return x.tick != y.tick ? x.tick < y.tick : x.order < y.order;
    });
    fixture::mus_builder mus;
    int now = 0;
    for (const event &e : sorted) {
      if (e.tick >= end_tick) break;
      if (e.tick > now) {
        mus.delay(static_cast<uint64_t>(e.tick - now));
        now = e.tick;
      }
      switch (e.order) {
        case 0:
          mus.note_off(e.ch, e.a);
          break;
        case 1:
          mus.controller(e.ch, e.a, e.b);
          break;
        case 2:
          mus.bend(e.ch, e.a);
          break;
        default:
          mus.note_on(e.ch, e.a, e.b);
          break;
      }
    }
    mus.delay(static_cast<uint64_t>(end_tick - now));
    mus.score_end();
    if (mus.stream().size() > score_bytes_max) {
      throw std::length_error(name + ": the score does not fit in a MUS lump");
    }
    return score{name, mus.build(), end_tick};
  }

 private:
  static constexpr size_t score_bytes_max = 0xFFFF;
  struct event {
    int tick, order, ch, a, b;
  };
  void add(int tick, int order, int ch, int a, int b) {
    events_.push_back({tick, order, ch, a, b});
  }
  std::vector<event> events_;
};

}  // namespace bench

#endif  // TUNECAST_BENCH_SCORE_TIMELINE_H
