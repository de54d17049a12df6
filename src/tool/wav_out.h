// wav_out.h: the WAV file the render tool writes: the canonical 44-byte
// PCM header (mono, 16-bit, 44100 Hz) followed by the samples, written as
// they are rendered and put in place so that a failure never leaves a
// partial file or destroys an existing one.
#ifndef TUNECAST_TOOL_WAV_H
#define TUNECAST_TOOL_WAV_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr uint32_t wav_rate_hz = 44100;
inline constexpr size_t wav_header_bytes = 44;
// The largest frame count n whose sizes fit the 32-bit fields: 2n + 36 <= 2^32 - 1
// for mono, 4n + 36 for stereo.
inline constexpr int64_t wav_max_frames = 2147483629;
inline constexpr int64_t wav_max_frames_stereo = 1073741814;
inline constexpr int64_t wav_max_frames_for(int channels) {
  return channels == 2 ? wav_max_frames_stereo : wav_max_frames;
}
// Samples handed to one write: 64 KiB, so memory does not grow with the duration.
inline constexpr size_t wav_chunk_frames = 32768;

// Reasons beyond errno values that the writer and the batch report; all
// negative, so they never meet an errno value.
inline constexpr int wav_err_same_as_input = -1;  // the output is the archive being read
inline constexpr int wav_err_foreign_link = -2;   // another user's link in a shared directory
inline constexpr int wav_err_not_regular = -3;    // a pipe, device or socket where a file goes
inline constexpr int wav_err_foreign_dir = -4;    // a directory another user owns
inline constexpr int wav_err_open_dir = -5;       // world-writable without the sticky bit
inline constexpr int wav_err_encoder = -6;        // libsndfile failed other than in a write
inline constexpr int wav_err_reparse_point = -7;  // Windows: a link or junction where a file goes

// One output sample from a synthesizer value in [-1, 1]: the product is
// formed in single precision and truncated toward zero, so 0.99999 gives
// 31999. x 32000, not 32767: full scale keeps a little headroom.
inline int16_t wav_sample(float value) { return static_cast<int16_t>(value * 32000.0f); }

// The header for a file of `frames` frames of 1 or 2 channels (0 to
// wav_max_frames_for(channels)), every field encoded little-endian in the
// order it appears in the file.
std::array<uint8_t, wav_header_bytes> wav_header(uint32_t frames, int channels = 1);

// A file on disk, by device and inode (on Windows, by volume serial number
// and file index); `known` false when it could not be looked at (then it
// matches nothing).
struct file_identity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool known = false;
};
// The identity of the file path names, links followed.
file_identity file_identity_of(const char *path);

// Where the WAV goes.
struct wav_target {
  const char *path = nullptr;  // for messages; the file written unless fd >= 0
  int fd = -1;  // >= 0: an open descriptor (standard output, /dev/fd/N), written directly
  // true for an entry of the --todas directory: a link there is replaced by
  // the new file, never followed, and a pipe or device is refused. false for
  // a path the user named: a link, there or on the way to it, is followed
  // unless another user planted it in a shared sticky directory, and a pipe
  // or device is written directly.
  bool entry_only = false;
  file_identity input;  // the archive being read: never written over
  // >= 0 with entry_only: the --todas directory, opened once by the batch;
  // path's last component is the entry in it, so DIR is never looked up again.
  int entry_dir = -1;
};

// The file a render goes to, whatever its format. open() settles where the
// bytes go: a regular target (new or existing) is written to a temporary
// file `.tunecast-XXXXXX` beside it, renamed over it only by finish(); until
// then a failure, a destroyed object or any fatal signal that can be caught
// (fatal_signals.h) removes the temporary file and leaves the target as it
// was, and the process then ends by that signal. SIGXFSZ is ignored from
// the first open() on, so a file-size limit fails a write with EFBIG. A
// replaced file keeps its permission bits and, where the process may, its
// owner and group; a new one gets 0666 & ~umask. Each call returns 0, or the
// errno value or wav_err_* reason that stopped it.
//
// On Windows the temporary file is created (CREATE_NEW) beside the target
// and moved over it (MoveFileExW); Ctrl-C, Ctrl-Break and the console's
// closing remove every temporary file of the process, whichever thread
// writes it. No path is walked: a target that is a link or a junction (a
// reparse point) is refused, a device (NUL) is written directly unless it
// is an entry of the --todas directory, a new file gets the directory's
// permissions, and a stream (standard output) is switched to binary mode.
class output_file {
 public:
  output_file() = default;
  output_file(const output_file &) = delete;
  output_file &operator=(const output_file &) = delete;
  ~output_file();

  int open(const wav_target &target);
  // Appends size bytes, going on after short writes and interruptions.
  int write(const void *data, size_t size);
  int finish();
  // The descriptor written to, for an encoder that also seeks (a temporary
  // file is open for reading and writing); -1 before open().
  int fd() const { return fd_; }

 private:
  int open_descriptor(const wav_target &target);
  int open_path(const wav_target &target);
  void abandon();

  int fd_ = -1;
  bool own_fd_ = false;
#ifdef _WIN32
  bool open_device(const wav_target &target, int &err);
  int open_temporary();

  std::wstring target_;  // the regular target, in UTF-16
  std::wstring temp_;    // the temporary file beside it while it exists
#else
  int open_temporary(const struct stat *replaced);

  int dir_fd_ = -1;   // the directory of a regular target, walked to once
  std::string name_;  // the target's name in it
  std::string temp_;  // the temporary file's name in it while it exists
#endif
};

#ifndef _WIN32
// For a --todas worker: sig, whatever disposition the process inherited,
// removes the temporary file and ends the process. The worker's parent has
// the kernel send it this signal when it dies.
void output_cleanup_on(int sig);
#endif

// Writes one WAV file while it is rendered: open() writes the header,
// write() appends samples, finish() completes the file (see output_file).
class wav_writer {
 public:
  // frames: 0 to wav_max_frames_for(channels), the count the header
  // announces; channels 1, or 2 with the samples interleaved left first.
  int open(const wav_target &target, int64_t frames, int channels = 1);
  // count samples in host order (reordered in place on a big-endian host).
  int write(int16_t *samples, size_t count);
  int finish() { return file_.finish(); }

 private:
  output_file file_;
};

// Short Spanish reason for an errno value or a wav_err_* reason.
std::string wav_error_text(int err);

#endif  // TUNECAST_TOOL_WAV_H
