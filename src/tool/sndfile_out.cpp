// sndfile_out.cpp: libsndfile encodes, output_file stores. libsndfile is
// given virtual I/O rather than a path, so the temporary file, the rename
// and the reasons of a failed write (a full disk, a size limit) stay the
// tool's own, as for the WAV.
#include "tool/sndfile_out.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>
#endif

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

}  // namespace

sndfile_writer::~sndfile_writer() {
  // An unfinished file: the encoder's last bytes go to the temporary file,
  // which output_file then removes.
  if (sf_ != nullptr) sf_close(sf_);
}

int sndfile_writer::open(const wav_target &target, output_format format, int channels) {
  if (format != output_format::flac && format != output_format::ogg) return ENOTSUP;
  if (const int err = file_.open(target); err != 0) return err;
  const off_t start = lseek(file_.fd(), 0, SEEK_CUR);
  base_ = start < 0 ? -1 : start;
  SF_INFO info{};
  info.samplerate = static_cast<int>(wav_rate_hz);
  info.channels = channels;
  info.format = format == output_format::flac ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                                              : SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  sf_ = sf_open_virtual(&virtual_io, SFM_WRITE, &info, this);
  if (sf_ == nullptr) return err_ != 0 ? err_ : wav_err_encoder;
  return 0;
}

int sndfile_writer::write(const int16_t *samples, size_t count) {
  const auto n = static_cast<sf_count_t>(count);
  if (sf_write_short(sf_, samples, n) != n || err_ != 0) return err_ != 0 ? err_ : wav_err_encoder;
  return 0;
}

int sndfile_writer::close_encoder() {
  const int status = sf_close(sf_);
  sf_ = nullptr;
  if (err_ != 0) return err_;
  return status == 0 ? 0 : wav_err_encoder;
}

int sndfile_writer::finish() {
  if (const int err = close_encoder(); err != 0) return err;
  return file_.finish();
}

int64_t sndfile_writer::io_length() {
  struct stat st {};
  if (base_ >= 0 && fstat(file_.fd(), &st) == 0 && S_ISREG(st.st_mode)) {
    return st.st_size > base_ ? st.st_size - base_ : 0;
  }
  return pos_;
}

// A stream that cannot seek says so; the FLAC encoder then leaves the
// header's sample count and checksum as written at the start.
int64_t sndfile_writer::io_seek(int64_t offset, int whence) {
  if (base_ < 0) return -1;
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
