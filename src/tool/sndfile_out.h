// sndfile_out.h: FLAC and Ogg Vorbis files, encoded by libsndfile from the
// same 16-bit samples the WAV would hold, and written through output_file,
// so they are put in place by the same rename, signal cleanup and link
// rules as the WAV. Without libsndfile, in the build or on the system,
// open() refuses.
#ifndef TUNECAST_TOOL_SNDFILE_OUT_H
#define TUNECAST_TOOL_SNDFILE_OUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tool/output_format.h"
#include "tool/stream_tags.h"
#include "tool/wav_out.h"

struct sf_private_tag;  // libsndfile's SNDFILE
struct sndfile_functions;

// What an encoded file says of itself, as Vorbis comment fields (FLAC and
// Ogg Vorbis alike): TITLE and ALBUM, each left out when empty.
struct sndfile_tags {
  std::string title;  // UTF-8
  std::string album;  // UTF-8
};

// Encoded output at 44100 Hz, mono or stereo. Each call returns 0, or the errno value
// or wav_err_* reason that stopped it (ENOTSUP when this build has no
// libsndfile, the system cannot load it, or the format is not one of these, wav_err_encoder for an
// encoder failure that is not a failed write).
class sndfile_writer {
 public:
  sndfile_writer() = default;
  sndfile_writer(const sndfile_writer &) = delete;
  sndfile_writer &operator=(const sndfile_writer &) = delete;
  ~sndfile_writer();

  // format: flac (16-bit PCM, lossless) or ogg (Vorbis).
  // channels 1, or 2 with the samples interleaved left first.
  // tags go into the stream's header, wherever it goes.
  int open(const wav_target &target, output_format format, int channels = 1,
           const sndfile_tags &tags = {});
  int write(const int16_t *samples, size_t count);
  // Loop points for finish() to add (LOOPSTART and LOOPLENGTH, in frames):
  // from start on, the frames repeat every length frames. Only a file that
  // can be read back and rewritten gets them (not a pipe).
  void set_loop(int64_t start, int64_t length);
  // Flushes the encoder, then completes the file. A FLAC file of no samples,
  // for which the encoder writes nothing, is still a whole stream: its
  // header (and tags) alone.
  int finish();

  // The byte-level calls libsndfile makes, on the output's descriptor;
  // offsets count from where the stream stood at open().
  int64_t io_length();
  int64_t io_seek(int64_t offset, int whence);
  int64_t io_read(void *data, int64_t count);
  int64_t io_write(const void *data, int64_t count);
  int64_t io_tell();

 private:
  int close_encoder();
  int write_empty_flac();
  int add_fields(const tag_fields &fields);

  output_file file_;
  output_format format_ = output_format::flac;
  int channels_ = 1;
  sndfile_tags tags_;
  int64_t loop_start_ = -1;  // -1: no loop points
  int64_t loop_length_ = 0;
  const sndfile_functions *library_ = nullptr;  // loaded by open()
  sf_private_tag *sf_ = nullptr;
  // Where the stream started; -1: it cannot seek (a pipe), or every write
  // lands at its end whatever the position (a descriptor opened to append).
  int64_t base_ = -1;
  int64_t pos_ = 0;         // bytes written, the position of a stream that cannot seek
  bool misplaced_ = false;  // a stream that cannot seek was asked to go elsewhere
  int err_ = 0;             // the first failed write's reason
};

#endif  // TUNECAST_TOOL_SNDFILE_OUT_H
