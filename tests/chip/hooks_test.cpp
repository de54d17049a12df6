// Replaces the synthesizer's weak lock hooks with counting ones and wraps
// the C library's allocation and file-opening calls (the link passes
// --wrap for them), to check which operations take the lock, that
// registration and a recording's file are read outside it, and that
// chip_next allocates, opens and prints nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "chip/state.h"
#include "tunecast/chip.h"
#include "fixtures.h"

namespace chip = tunecast::chip;

namespace {

int lock_calls = 0;
int unlock_calls = 0;
int lock_depth = 0;
int allocations = 0;            // malloc/calloc/realloc by the module, and operator new
int allocations_in_lock = 0;
int allocations_before_lock = -1;  // allocations seen when the lock was first taken
int opens = 0;
int opens_in_lock = 0;
const uint8_t *song_at_lock = nullptr;
const uint8_t *song_at_unlock = nullptr;
const int16_t *recording_at_lock = nullptr;
const int16_t *recording_at_unlock = nullptr;

void count_allocation() {
  ++allocations;
  if (lock_depth > 0) ++allocations_in_lock;
}

void reset_counters() {
  lock_calls = unlock_calls = lock_depth = 0;
  allocations = allocations_in_lock = opens = opens_in_lock = 0;
  allocations_before_lock = -1;
  song_at_lock = song_at_unlock = nullptr;
  recording_at_lock = recording_at_unlock = nullptr;
}

}  // namespace

extern "C" {

void snd_lock(void) {
  ++lock_calls;
  ++lock_depth;
  if (allocations_before_lock < 0) allocations_before_lock = allocations;
  song_at_lock = chip::the_state.song.song;
  recording_at_lock = chip::the_state.recording.pcm;
}

void snd_unlock(void) {
  ++unlock_calls;
  --lock_depth;
  song_at_unlock = chip::the_state.song.song;
  recording_at_unlock = chip::the_state.recording.pcm;
}

void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void __real_free(void *);
FILE *__real_fopen(const char *, const char *);
int __real_open(const char *, int, ...);

void *__wrap_malloc(size_t n) {
  count_allocation();
  return __real_malloc(n);
}
void *__wrap_calloc(size_t n, size_t size) {
  count_allocation();
  return __real_calloc(n, size);
}
void *__wrap_realloc(void *p, size_t n) {
  count_allocation();
  return __real_realloc(p, n);
}
void __wrap_free(void *p) { __real_free(p); }
FILE *__wrap_fopen(const char *path, const char *mode) {
  ++opens;
  if (lock_depth > 0) ++opens_in_lock;
  return __real_fopen(path, mode);
}
int __wrap_open(const char *path, int flags, ...) {
  ++opens;
  if (lock_depth > 0) ++opens_in_lock;
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  return __real_open(path, flags, mode);
}

}  // extern "C"

void *operator new(size_t n) {
  count_allocation();
  if (void *p = __real_malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// Through __real_free rather than free, so the compiler does not take the
// pair for a new/free mismatch.
void operator delete(void *p) noexcept { __real_free(p); }
void operator delete(void *p, size_t) noexcept { __real_free(p); }

namespace {

class Hooks : public ::testing::Test {
 protected:
  void SetUp() override {
    chip::state_reset();
    dir_ = fixture::make_temp_dir("hooks");
    setenv("ZARN_MUSIC_DIR", dir_.c_str(), 1);
    unsetenv("ZARN_SYNTH");
    song_ = fixture::mus_builder()
                .instrument(0, 80)
                .note_on(0, 60, 100)
                .note_on(15, 42, 127)
                .delay(2)
                .note_off(0, 60)
                .delay(30)
                .score_end()
                .build();
    reset_counters();
  }
  void TearDown() override {
    I_UnRegisterSong();
    unlink((dir_ + "/D_.wav").c_str());
    rmdir(dir_.c_str());
  }

  std::string dir_;
  fixture::bytes song_;
};

TEST_F(Hooks, ControlCallsTakeTheLockOnceAndBalanced) {
  struct {
    const char *name;
    void (*call)();
    int locks;
  } const cases[] = {
      {"I_SetMusicVolume", [] { I_SetMusicVolume(90); }, 1},
      {"I_PlaySong", [] { I_PlaySong(0, 0); }, 1},
      {"I_StopSong", [] { I_StopSong(); }, 1},
      {"I_PauseSong", [] { I_PauseSong(); }, 1},
      {"I_ResumeSong", [] { I_ResumeSong(); }, 1},
      {"I_InitMusic", [] { I_InitMusic(); }, 0},
      {"I_ShutdownMusic", [] { I_ShutdownMusic(); }, 0},
      {"chip_next", [] { float l, r; chip_next(&l, &r); }, 0},
      {"chip_sounding_voices", [] { chip_sounding_voices(); }, 0},
      {"chip_set_music_dir", [] { chip_set_music_dir(nullptr); }, 0},
      {"chip_stats",
       [] {
         int32_t m, p, q;
         double a, b;
         chip_stats(&m, &p, &q, &a, &b);
       },
       0},
      {"pcm_try", [] { pcm_try("x"); }, 0},
      {"pcm_stop", [] { pcm_stop(); }, 0},
      {"pcm_free_all", [] { pcm_free_all(); }, 0},
      {"I_UnRegisterSong", [] { I_UnRegisterSong(); }, 1},
      {"I_PlaySong without a song", [] { I_PlaySong(0, 0); }, 0},
      {"I_RegisterSong of non-MUS data", [] { I_RegisterSong("PWAD\0\0\0\0"); }, 0},
  };
  ASSERT_EQ(I_RegisterSong(song_.data()), 1);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    reset_counters();
    c.call();
    EXPECT_EQ(lock_calls, c.locks);
    EXPECT_EQ(unlock_calls, c.locks);
    EXPECT_EQ(lock_depth, 0);
  }
}

TEST_F(Hooks, RegistrationCopiesOutsideTheLockAndSwapsInside) {
  ASSERT_EQ(I_RegisterSong(song_.data()), 1);
  const uint8_t *first = chip::the_state.song.song;
  reset_counters();
  ASSERT_EQ(I_RegisterSong(song_.data()), 1);
  EXPECT_EQ(lock_calls, 1);
  EXPECT_EQ(unlock_calls, 1);
  EXPECT_EQ(allocations_before_lock, 1);  // the copy exists before the lock
  EXPECT_EQ(allocations_in_lock, 0);
  EXPECT_EQ(song_at_lock, first);         // the old copy is still installed...
  EXPECT_EQ(song_at_unlock, chip::the_state.song.song);  // ...and the new one is by the release
  EXPECT_NE(chip::the_state.song.song, first);
}

// The audio side must never wait on a disk: I_PlaySong opens and reads the
// recording, and allocates its samples, before it takes the lock, which it
// holds only to swap the recording in (or out, when there is none).
TEST_F(Hooks, PlayReadsTheRecordingBeforeTheLockAndSwapsItIn) {
  ASSERT_EQ(I_RegisterSong(song_.data()), 1);
  reset_counters();
  I_PlaySong(0, 0);  // no file yet: the lookup fails outside the lock
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(opens_in_lock, 0);
  EXPECT_EQ(lock_calls, 1);

  // g_music_name is empty, so the recording is D_.wav.
  fixture::write_file(dir_ + "/D_.wav", fixture::wav_pcm16(1, 44100, {100, 200, 300}));
  reset_counters();
  I_PlaySong(0, 0);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(opens_in_lock, 0);
  EXPECT_GE(allocations_before_lock, 1);  // the samples' buffer
  EXPECT_EQ(allocations_in_lock, 0);
  EXPECT_EQ(lock_calls, 1);
  EXPECT_EQ(recording_at_lock, nullptr);
  ASSERT_NE(recording_at_unlock, nullptr);
  EXPECT_EQ(recording_at_unlock, chip::the_state.recording.pcm);
  EXPECT_EQ(chip::the_state.recording.pcm_n, 3);

  // Playing again replaces it: the old one is still in place when the lock
  // is taken and the new one by its release.
  const int16_t *first = chip::the_state.recording.pcm;
  reset_counters();
  I_PlaySong(0, 0);
  EXPECT_EQ(opens_in_lock, 0);
  EXPECT_EQ(allocations_in_lock, 0);
  EXPECT_EQ(recording_at_lock, first);
  EXPECT_NE(recording_at_unlock, nullptr);
  EXPECT_NE(recording_at_unlock, first);
  EXPECT_EQ(recording_at_unlock, chip::the_state.recording.pcm);

  setenv("ZARN_SYNTH", "", 1);
  reset_counters();
  I_PlaySong(0, 0);
  EXPECT_EQ(opens, 0);
  EXPECT_EQ(recording_at_unlock, nullptr);  // the synthesizer plays
}

TEST_F(Hooks, SamplePullsAllocateOpenAndPrintNothing) {
  setenv("ZARN_SYNTH", "1", 1);
  ASSERT_EQ(I_RegisterSong(song_.data()), 1);
  I_SetMusicVolume(100);
  I_PlaySong(0, 1);  // loops: note-ons, drums, releases and rewinds all happen
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  reset_counters();
  double energy = 0.0;
  for (int i = 0; i < 44100; ++i) {
    float l, r;
    chip_next(&l, &r);
    energy += static_cast<double>(l) * l;
  }
  const int pull_allocations = allocations, pull_opens = opens, pull_locks = lock_calls;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(pull_allocations, 0);
  EXPECT_EQ(pull_opens, 0);
  EXPECT_EQ(pull_locks, 0);
  EXPECT_GT(energy, 0.0);  // the pulls did play the song
}

}  // namespace
