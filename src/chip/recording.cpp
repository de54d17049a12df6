// recording.cpp: a pre-rendered WAV recording played in place of the
// synthesizer. Finds D_<NAME>.wav in the music directory, reads its 16-bit
// samples whole into memory and hands out one frame per output sample.
#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "common/byte_order.h"
#ifdef _WIN32
#include "common/wide_path.h"
#endif

namespace tunecast::chip {

namespace {

constexpr size_t name_max_bytes = 15;
constexpr size_t chunk_header_bytes = 8;
constexpr size_t fmt_bytes = 16;  // the part of "fmt " that is read
constexpr uint32_t required_rate_hz = 44100;
constexpr uint32_t required_bits = 16;
constexpr float sample_scale = 1.0f / 32768;  // exact in single precision

bool read_exact(std::FILE *f, unsigned char *buf, size_t n) {
  return std::fread(buf, 1, n, f) == n;
}

// Moves forward by n bytes (n < 2^33, so the sum cannot overflow). Landing
// past the end is allowed: the next header read then fails, which ends the
// walk on any chain of oversized chunks.
bool skip(std::FILE *f, int64_t n) {
  if (n == 0) return true;
  const long here = std::ftell(f);
  if (here < 0) return false;
  return std::fseek(f, static_cast<long>(here + n), SEEK_SET) == 0;
}

// Bytes between the current position and the end of the file; -1 when the
// file cannot tell (not seekable).
int64_t bytes_left(std::FILE *f) {
  const long here = std::ftell(f);
  if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(f);
  if (end < 0 || std::fseek(f, here, SEEK_SET) != 0) return -1;
  return end > here ? end - here : 0;
}

// Walks the RIFF chunks up to the first "data" chunk and reads its samples.
// Returns false, with nothing allocated, when the file is not a recording
// this player can use.
bool read_recording(std::FILE *f, recording_file &out) {
  unsigned char head[12];
  if (!read_exact(f, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    return false;
  }
  uint32_t channels = 0, rate = 0, bits = 0;
  uint32_t data_size = 0;
  for (;;) {
    unsigned char chunk[chunk_header_bytes];
    if (!read_exact(f, chunk, sizeof chunk)) return false;
    const uint32_t size = get_u32le(chunk + 4);
    const int64_t padded = int64_t{size} + (size & 1);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[fmt_bytes];
      if (size < fmt_bytes || !read_exact(f, fmt, sizeof fmt)) return false;
      channels = get_u16le(fmt + 2);
      rate = get_u32le(fmt + 4);
      bits = get_u16le(fmt + 14);
      if (!skip(f, padded - int64_t{fmt_bytes})) return false;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      data_size = size;
      break;
    } else if (!skip(f, padded)) {
      return false;
    }
  }
  if (bits != required_bits || (channels != 1 && channels != 2) || rate != required_rate_hz) {
    return false;
  }

  // The buffer holds what the file can deliver, never merely what the header
  // claims. One slot at least, so that a recording with no sample still
  // counts as loaded.
  const int64_t left = bytes_left(f);
  if (left < 0) return false;
  const int64_t wanted = (int64_t{data_size} < left ? int64_t{data_size} : left) / 2;
  const size_t slots = wanted > 0 ? static_cast<size_t>(wanted) : 1;
  auto *samples = static_cast<int16_t *>(std::malloc(slots * sizeof(int16_t)));
  if (samples == nullptr) return false;
  const size_t got = std::fread(samples, sizeof(int16_t), static_cast<size_t>(wanted), f);
  // The file is little-endian whatever the host is: decode in place.
  auto *raw = reinterpret_cast<unsigned char *>(samples);
  for (size_t i = 0; i < got; ++i) samples[i] = static_cast<int16_t>(get_u16le(raw + 2 * i));

  out.samples = samples;
  out.count = static_cast<int64_t>(got);
  out.channels = static_cast<int32_t>(channels);
  return true;
}

}  // namespace

void pcm_path(const char *dir, const char *name, char (&path)[512]) {
  // The engine's name buffer may be full with no terminator: never read
  // past the bytes that are used.
  char upper[name_max_bytes + 1];
  size_t n = 0;
  for (; n < name_max_bytes && name[n] != '\0'; ++n) {
    upper[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[n])));
  }
  upper[n] = '\0';
  // A longer path is cut to the buffer, as documented; only an encoding
  // failure, which these plain bytes cannot cause, would leave it unset.
  if (std::snprintf(path, sizeof path, "%s/D_%s.wav", dir, upper) < 0) path[0] = '\0';
}

#ifdef _WIN32
// Windows keeps no pipes among files, but a device name (NUL, CON) opens:
// only a regular file is a recording. The name is UTF-8, the file UTF-16.
std::FILE *open_recording(const char *path) {
  std::FILE *f = wide_fopen(path, L"rb");
  if (f == nullptr) return nullptr;
  struct _stat64 st;
  if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}
#else
// Opens the recording without waiting: a pipe or a device under the
// recording's name would block the open, or every read, for as long as
// nobody writes to it. Only a regular file is a recording.
std::FILE *open_recording(const char *path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  std::FILE *f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
}
#endif

bool pcm_read(const char *dir, const char *name, recording_file &out) {
  if (name == nullptr) return false;
  char path[512];
  pcm_path(dir, name, path);
  std::FILE *f = open_recording(path);
  if (f == nullptr) return false;
  const bool ok = read_recording(f, out);
  std::fclose(f);
  return ok;
}

int16_t *pcm_install(recording_state &rec, recording_file &file) {
  int16_t *replaced = rec.pcm;
  rec.pcm = file.samples;
  rec.pcm_ch = file.channels;
  rec.pcm_n = file.count / file.channels;  // a lone trailing sample is no frame
  rec.pcm_pos = 0;
  file.samples = nullptr;
  return replaced;
}

void pcm_discard(recording_state &rec) {
  std::free(rec.pcm);
  rec.pcm = nullptr;
  rec.pcm_n = 0;
}

void recording_play_step(recording_state &rec, transport &flags, float *left, float *right) {
  if (flags.playing == 0 || flags.paused != 0) {
    *left = *right = 0.0f;
    return;
  }
  int64_t frame;
  if (rec.pcm_pos < rec.pcm_n) {
    frame = rec.pcm_pos;
    rec.pcm_pos = rec.pcm_pos + 1;
  } else if (flags.looping != 0) {
    if (rec.pcm_n == 0) {
      // Nothing to loop over: play silence and keep "playing" set, as a
      // looping song never ends on its own.
      *left = *right = 0.0f;
      return;
    }
    frame = 0;  // the first frame follows the last with no gap
    rec.pcm_pos = 1;
  } else {
    flags.playing = 0;
    *left = *right = 0.0f;
    return;
  }
  const int32_t pcm_ch = rec.pcm_ch;
  const int16_t *at = rec.pcm + frame * pcm_ch;
  const auto g = static_cast<float>(rec.pcm_gain);
  // Single precision throughout, scale first, then gain; not clamped.
  *left = (static_cast<float>(at[0]) * sample_scale) * g;
  *right = (static_cast<float>(at[pcm_ch - 1]) * sample_scale) * g;
}

}  // namespace tunecast::chip
