// sndfile_out.cpp: libsndfile encodes, output_file stores. libsndfile is
// given virtual I/O rather than a path, so the temporary file, the rename
// and the reasons of a failed write (a full disk, a size limit) stay the
// tool's own, as for the WAV.
#include "tool/sndfile_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

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

// The stream as it lies in its file: offsets count from base.
struct stream_file {
  output_file &file;
  int64_t base;
};

// Exactly size bytes at the stream's offset at; a short file is the encoder's fault.
int read_at(const stream_file &f, int64_t at, uint8_t *data, size_t size) {
  if (lseek(f.file.fd(), static_cast<off_t>(f.base + at), SEEK_SET) < 0) return errno;
  while (size > 0) {
    const ssize_t n = ::read(f.file.fd(), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return wav_err_encoder;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int write_at(const stream_file &f, int64_t at, const uint8_t *data, size_t size) {
  if (lseek(f.file.fd(), static_cast<off_t>(f.base + at), SEEK_SET) < 0) return errno;
  return f.file.write(data, size);
}

// Every Ogg page in [from, to) gets a sequence number shift further on.
int renumber_pages(const stream_file &f, int64_t from, int64_t to, int32_t shift) {
  constexpr size_t page_max_bytes = 27 + 255 + 255 * 255;
  std::vector<uint8_t> page(page_max_bytes);
  // Each page moves at on by at least its 27-byte header.
  for (int64_t at = from; at < to;) {
    const auto left = static_cast<size_t>(std::min<int64_t>(to - at, page_max_bytes));
    const size_t header = std::min<size_t>(left, 27 + 255);
    if (const int err = read_at(f, at, page.data(), header); err != 0) return err;
    const size_t bytes = ogg_page_bytes(page.data(), header);
    if (bytes == 0 || bytes > left) return wav_err_encoder;
    if (const int err = read_at(f, at, page.data(), bytes); err != 0) return err;
    if (!ogg_page_renumber(page.data(), bytes, shift)) return wav_err_encoder;
    if (const int err = write_at(f, at, page.data(), bytes); err != 0) return err;
    at += static_cast<int64_t>(bytes);
  }
  return 0;
}

// count bytes at from go to to, the two ranges overlapping or not: copied
// from the end when they move on, from the start when they move back.
int move_bytes(const stream_file &f, int64_t from, int64_t to, int64_t count) {
  constexpr int64_t chunk_bytes = 1 << 16;
  std::vector<uint8_t> chunk(chunk_bytes);
  for (int64_t done = 0; done < count && from != to;) {
    const int64_t n = std::min(chunk_bytes, count - done);
    const int64_t at = to > from ? count - done - n : done;
    if (const int err = read_at(f, from + at, chunk.data(), static_cast<size_t>(n)); err != 0) {
      return err;
    }
    if (const int err = write_at(f, to + at, chunk.data(), static_cast<size_t>(n)); err != 0) {
      return err;
    }
    done += n;
  }
  return 0;
}

}  // namespace

sndfile_writer::~sndfile_writer() {
  // An unfinished file: the encoder's last bytes go to the temporary file,
  // which output_file then removes.
  if (sf_ != nullptr) library_->close(sf_);
}

int sndfile_writer::open(const wav_target &target, output_format format, int channels,
                         const sndfile_tags &tags) {
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
  // Before the first sample: the encoder writes its strings with the header.
  tags_ = tags;
  for (const auto &[kind, text] :
       {std::pair{SF_STR_TITLE, &tags.title}, {SF_STR_ALBUM, &tags.album}}) {
    if (!text->empty() && library_->set_string(sf_, kind, text->c_str()) != 0)
      return wav_err_encoder;
  }
  return 0;
}

void sndfile_writer::set_loop(int64_t start, int64_t length) {
  loop_start_ = start;
  loop_length_ = length;
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
    if (const int err = write_empty_flac(); err != 0) return err;
  } else if (loop_start_ >= 0) {
    const tag_fields loop = {"LOOPSTART=" + std::to_string(loop_start_),
                             "LOOPLENGTH=" + std::to_string(loop_length_)};
    if (const int err = add_fields(loop); err != 0) return err;
  }
  return file_.finish();
}

// The encoder wrote nothing, not even its strings: the stream is the tool's
// own, and carries every tag.
int sndfile_writer::write_empty_flac() {
  const auto empty = flac_empty_stream(channels_);
  tag_fields fields;
  if (!tags_.title.empty()) fields.push_back("TITLE=" + tags_.title);
  if (!tags_.album.empty()) fields.push_back("ALBUM=" + tags_.album);
  if (fields.empty()) return file_.write(empty.data(), empty.size());
  stream_head head;
  if (!flac_head_with_tags(empty.data(), empty.size(), fields, head)) return wav_err_encoder;
  return file_.write(head.bytes.data(), head.bytes.size());
}

// The finished stream's head is read back and written again with the
// fields, what follows it moved to make room. A stream that cannot be read
// back keeps the encoder's tags: a pipe, a descriptor opened to append, or
// one opened to write only (standard output redirected with >).
int sndfile_writer::add_fields(const tag_fields &fields) {
  struct stat st {};
  const int flags = fcntl(file_.fd(), F_GETFL);
  if (base_ < 0 || flags < 0 || (flags & O_ACCMODE) != O_RDWR || fstat(file_.fd(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return 0;
  }
  const stream_file f{file_, base_};
  const int64_t length = io_length();
  std::vector<uint8_t> head(
      static_cast<size_t>(std::min<int64_t>(length, static_cast<int64_t>(stream_head_max_bytes))));
  if (const int err = read_at(f, 0, head.data(), head.size()); err != 0) return err;
  stream_head rewritten;
  const bool ok = format_ == output_format::flac
                      ? flac_head_with_tags(head.data(), head.size(), fields, rewritten)
                      : ogg_head_with_tags(head.data(), head.size(), fields, rewritten);
  if (!ok) return wav_err_encoder;
  const auto old_head = static_cast<int64_t>(rewritten.old_bytes);
  const auto new_head = static_cast<int64_t>(rewritten.bytes.size());
  if (rewritten.pages_added != 0) {
    if (const int err = renumber_pages(f, old_head, length, rewritten.pages_added); err != 0) {
      return err;
    }
  }
  if (const int err = move_bytes(f, old_head, new_head, length - old_head); err != 0) return err;
  if (const int err = write_at(f, 0, rewritten.bytes.data(), rewritten.bytes.size()); err != 0) {
    return err;
  }
  if (new_head < old_head && ftruncate(file_.fd(), base_ + length - (old_head - new_head)) != 0) {
    return errno;
  }
  return 0;
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
int sndfile_writer::open(const wav_target &, output_format, int, const sndfile_tags &) {
  return ENOTSUP;
}
int sndfile_writer::write(const int16_t *, size_t) { return ENOTSUP; }
void sndfile_writer::set_loop(int64_t, int64_t) {}
int sndfile_writer::finish() { return ENOTSUP; }
int sndfile_writer::close_encoder() { return ENOTSUP; }
int sndfile_writer::write_empty_flac() { return ENOTSUP; }
int sndfile_writer::add_fields(const tag_fields &) { return ENOTSUP; }
int64_t sndfile_writer::io_length() { return -1; }
int64_t sndfile_writer::io_seek(int64_t, int) { return -1; }
int64_t sndfile_writer::io_read(void *, int64_t) { return 0; }
int64_t sndfile_writer::io_write(const void *, int64_t) { return 0; }
int64_t sndfile_writer::io_tell() { return -1; }

#endif
