// sndfile_out.cpp: libsndfile encodes, output_file stores. libsndfile is
// given virtual I/O rather than a path, so the temporary file, the rename
// and the reasons of a failed write (a full disk, a size limit) stay the
// tool's own, as for the WAV.
#include "tool/sndfile_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "tool/sndfile_library.h"

#ifdef TUNECAST_HAVE_SNDFILE

namespace {

sndfile_writer &writer_of(void *user) { return *static_cast<sndfile_writer *>(user); }

sf_count_t vio_length(void *user) { return writer_of(user).io_length(); }
sf_count_t vio_seek(sf_count_t offset, int whence, void *user) {
  return writer_of(user).io_seek(offset, whence);
}
sf_count_t vio_read(void *data, sf_count_t count, void *user) {
  return writer_of(user).io_read(data, count);
}
sf_count_t vio_write(const void *data, sf_count_t count, void *user) {
  return writer_of(user).io_write(data, count);
}
sf_count_t vio_tell(void *user) { return writer_of(user).io_tell(); }

SF_VIRTUAL_IO virtual_io = {vio_length, vio_seek, vio_read, vio_write, vio_tell};

constexpr size_t flac_streaminfo_bytes = 34;
constexpr uint32_t flac_block_frames = 4096;

// A FLAC stream of no samples: the signature and one STREAMINFO block, the
// last, every field written out. Frame sizes 0 mean unknown; the checksum
// is the MD5 of no data.
std::array<uint8_t, 8 + flac_streaminfo_bytes> flac_empty_stream(int channels) {
  std::array<uint8_t, 8 + flac_streaminfo_bytes> out{};
  size_t at = 0;
  const auto put = [&](uint64_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out[at++] = static_cast<uint8_t>(value >> (8 * k));
  };
  put(0x664C6143, 4);             // "fLaC"
  put(0x80, 1);                   // the last metadata block, type 0: STREAMINFO
  put(flac_streaminfo_bytes, 3);  // its length
  put(flac_block_frames, 2);      // smallest block, in frames
  put(flac_block_frames, 2);      // largest block
  put(0, 3);                      // smallest frame, in bytes: unknown
  put(0, 3);                      // largest frame: unknown
  // 20 bits of rate, 3 of channels - 1, 5 of bits per sample - 1, 36 of
  // total samples (0).
  put(uint64_t{wav_rate_hz} << 44 | static_cast<uint64_t>(channels - 1) << 41 | uint64_t{15} << 36,
      8);
  put(0xD41D8CD98F00B204, 8);  // MD5 of no data
  put(0xE9800998ECF8427E, 8);
  return out;
}

}  // namespace

sndfile_writer::~sndfile_writer() {
  // An unfinished file: the encoder's last bytes go to the temporary file,
  // which output_file then removes.
  if (sf_ != nullptr) library_->close(sf_);
}

int sndfile_writer::open(const wav_target &target, output_format format, int channels) {
  if (format != output_format::flac && format != output_format::ogg) return ENOTSUP;
  // Settled before any output is touched; checked again for a caller that did not.
  library_ = sndfile_library();
  if (library_ == nullptr) return ENOTSUP;
  if (const int err = file_.open(target); err != 0) return err;
  format_ = format;
  channels_ = channels;
  const off_t start = lseek(file_.fd(), 0, SEEK_CUR);
  // A descriptor opened to append (standard output redirected with >>)
  // seeks, yet writes every byte at the end: for the encoder it is a pipe.
  const int flags = fcntl(file_.fd(), F_GETFL);
  base_ = start < 0 || flags < 0 || (flags & O_APPEND) != 0 ? -1 : start;
  SF_INFO info{};
  info.samplerate = static_cast<int>(wav_rate_hz);
  info.channels = channels;
  info.format = format == output_format::flac ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                                              : SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  sf_ = library_->open_virtual(&virtual_io, SFM_WRITE, &info, this);
  if (sf_ == nullptr) return err_ != 0 ? err_ : wav_err_encoder;
  return 0;
}

int sndfile_writer::write(const int16_t *samples, size_t count) {
  const auto n = static_cast<sf_count_t>(count);
  if (library_->write_short(sf_, samples, n) != n || err_ != 0)
    return err_ != 0 ? err_ : wav_err_encoder;
  return 0;
}

int sndfile_writer::close_encoder() {
  const int status = library_->close(sf_);
  sf_ = nullptr;
  if (err_ != 0) return err_;
  return status == 0 ? 0 : wav_err_encoder;
}

int sndfile_writer::finish() {
  if (const int err = close_encoder(); err != 0) return err;
  if (format_ == output_format::flac && pos_ == 0) {
    const auto empty = flac_empty_stream(channels_);
    if (const int err = file_.write(empty.data(), empty.size()); err != 0) return err;
  }
  return file_.finish();
}

int64_t sndfile_writer::io_length() {
  struct stat st {};
  if (base_ >= 0 && fstat(file_.fd(), &st) == 0 && S_ISREG(st.st_mode)) {
    return st.st_size > base_ ? st.st_size - base_ : 0;
  }
  return pos_;
}

// A stream that cannot seek says so. The FLAC encoder writes its header's
// sample count and checksum even so, meaning them for the header: what is
// asked to go anywhere but the current end is dropped, and the header keeps
// what it was written with at the start (decoders then read to the end).
int64_t sndfile_writer::io_seek(int64_t offset, int whence) {
  if (base_ < 0) {
    const int64_t to = whence == SEEK_SET ? offset : pos_ + offset;
    misplaced_ = to != pos_;
    return -1;
  }
  const off_t to =
      whence == SEEK_SET ? static_cast<off_t>(base_ + offset) : static_cast<off_t>(offset);
  const off_t at = lseek(file_.fd(), to, whence);
  return at < 0 ? -1 : at - base_;
}

int64_t sndfile_writer::io_read(void *data, int64_t count) {
  ssize_t n;
  do {
    n = ::read(file_.fd(), data, static_cast<size_t>(count));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : n;
}

int64_t sndfile_writer::io_write(const void *data, int64_t count) {
  if (err_ != 0) return 0;
  if (misplaced_) return count;
  if (const int err = file_.write(data, static_cast<size_t>(count)); err != 0) {
    err_ = err;
    return 0;
  }
  pos_ += count;
  return count;
}

int64_t sndfile_writer::io_tell() {
  if (base_ < 0) return pos_;
  const off_t at = lseek(file_.fd(), 0, SEEK_CUR);
  return at < 0 ? -1 : at - base_;
}

#else  // no libsndfile: the formats are refused before any output is touched

sndfile_writer::~sndfile_writer() = default;
int sndfile_writer::open(const wav_target &, output_format, int) { return ENOTSUP; }
int sndfile_writer::write(const int16_t *, size_t) { return ENOTSUP; }
int sndfile_writer::finish() { return ENOTSUP; }
int sndfile_writer::close_encoder() { return ENOTSUP; }
int64_t sndfile_writer::io_length() { return -1; }
int64_t sndfile_writer::io_seek(int64_t, int) { return -1; }
int64_t sndfile_writer::io_read(void *, int64_t) { return 0; }
int64_t sndfile_writer::io_write(const void *, int64_t) { return 0; }
int64_t sndfile_writer::io_tell() { return -1; }

#endif
