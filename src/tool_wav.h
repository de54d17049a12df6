// tool_wav.h: the WAV file the render tool writes: the canonical 44-byte
// PCM header (mono, 16-bit, 44100 Hz) followed by the samples, put in place
// so that a failure never leaves a partial file or destroys an existing one.
#ifndef TUNECAST_TOOL_WAV_H
#define TUNECAST_TOOL_WAV_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr uint32_t wav_rate_hz = 44100;
inline constexpr size_t wav_header_bytes = 44;
// The largest frame count n whose sizes fit the 32-bit fields: 2n + 36 <= 2^32 - 1.
inline constexpr int64_t wav_max_frames = 2147483629;

// One output sample from a synthesizer value in [-1, 1]: the product is
// formed in single precision and truncated toward zero, so 0.99999 gives
// 31999. x 32000, not 32767: full scale keeps a little headroom.
inline int16_t wav_sample(float value) { return static_cast<int16_t>(value * 32000.0f); }

// The header for a file of `frames` samples (0 to wav_max_frames), every
// field encoded little-endian in the order it appears in the file.
std::array<uint8_t, wav_header_bytes> wav_header(uint32_t frames);

// Writes the header and `frames` samples (host order; reordered in place on
// a big-endian host) to path. A regular file, or a new one, is written to a
// temporary file beside it and renamed over it once complete, with mode
// 0666 & ~umask; a symbolic link is followed and the file it names is
// replaced, the link kept. An existing file that is not regular (a device,
// a pipe) is written directly. Returns 0, or the errno value that stopped it.
int wav_write_file(const char *path, int16_t *samples, int64_t frames);

// Writes the same bytes straight to fd (standard output, a pipe), where
// nothing can be renamed: a failure part way leaves what was written.
// Returns 0, or the errno value that stopped it.
int wav_write_stream(int fd, int16_t *samples, int64_t frames);

// Short Spanish reason for an errno value, for the tool's messages.
std::string wav_error_text(int err);

#endif  // TUNECAST_TOOL_WAV_H
