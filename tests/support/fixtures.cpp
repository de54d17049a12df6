// fixtures.cpp: the builders declared in fixtures.h.
#include "fixtures.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifndef _WIN32
extern char **environ;
#endif

namespace fixture {

void put_text(bytes &out, const std::string &text) {
  out.insert(out.end(), text.begin(), text.end());
}

// ---- WAV ----

bytes busy_song() {
  mus_builder m;
  m.instrument(0, 30).instrument(1, 81).note_on(0, 52, 120).note_on(1, 64, 100);
  m.note_on(15, 36, 110).delay(35).note_on(1, 67, 90).note_on(15, 42, 100).delay(35);
  m.note_off(0, 52).note_on(0, 57, 127).note_on(15, 38, 120).delay(70);
  return m.note_off(1, 64).note_off(1, 67).score_end().build();
}

bytes wav_pcm16(int channels, uint32_t rate, const std::vector<int16_t> &samples) {
  const auto data_size = static_cast<uint32_t>(samples.size() * 2);
  bytes out;
  put_text(out, "RIFF");
  put_u32le(out, 36 + data_size);
  put_text(out, "WAVE");
  put_text(out, "fmt ");
  put_u32le(out, 16);
  put_u16le(out, 1);
  put_u16le(out, static_cast<uint32_t>(channels));
  put_u32le(out, rate);
  put_u32le(out, rate * static_cast<uint32_t>(channels) * 2);
  put_u16le(out, static_cast<uint32_t>(channels) * 2);
  put_u16le(out, 16);
  put_text(out, "data");
  put_u32le(out, data_size);
  for (int16_t s : samples) put_u16le(out, static_cast<uint16_t>(s));
  return out;
}

// ---- ZIP ----

uint32_t crc32(const bytes &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

zip_builder &zip_builder::stored(const std::string &name, const bytes &data, zip_flags flags) {
  members_.push_back(
      member_rec{name, data, 0, crc32(data), static_cast<uint32_t>(data.size()), flags});
  return *this;
}

bytes deflate_raw(const bytes &data, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  bytes stream(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = stream.data();
  z.avail_out = static_cast<uInt>(stream.size());
  const int status = deflate(&z, Z_FINISH);
  stream.resize(z.total_out);
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return stream;
}

zip_builder &zip_builder::deflated(const std::string &name, const bytes &data, zip_flags flags) {
  members_.push_back(member_rec{name, deflate_raw(data), 8, crc32(data),
                                static_cast<uint32_t>(data.size()), flags});
  return *this;
}

zip_builder &zip_builder::member(const std::string &name, const bytes &data, uint16_t method) {
  members_.push_back(
      member_rec{name, data, method, crc32(data), static_cast<uint32_t>(data.size()), {}});
  return *this;
}

zip_builder &zip_builder::compressed(const std::string &name, const bytes &data, uint16_t method,
                                     uint32_t crc, uint32_t uncomp_size, zip_flags flags) {
  members_.push_back(member_rec{name, data, method, crc, uncomp_size, flags});
  return *this;
}

namespace {

constexpr uint32_t zip64_marker = 0xFFFFFFFF;

// The ZIP64 extra field: both sizes, the uncompressed one first.
void put_zip64_extra(bytes &out, uint64_t uncomp, uint64_t comp) {
  put_u16le(out, 0x0001);
  put_u16le(out, 16);
  put_u64le(out, uncomp);
  put_u64le(out, comp);
}

}  // namespace

bytes zip_builder::build() const {
  bytes out;
  std::vector<uint32_t> offsets;
  const auto flag_bits = [](const member_rec &m) {
    return (m.flags.encrypted ? 1u : 0u) | (m.flags.streamed ? 8u : 0u) |
           (m.flags.utf8_name ? 0x800u : 0u);
  };
  const auto version = [](const member_rec &m) { return m.flags.zip64 ? 45u : 20u; };
  const auto extra_bytes = [](const member_rec &m) { return m.flags.zip64 ? 20u : 0u; };
  for (const member_rec &m : members_) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    const bool deferred = m.flags.streamed;
    const auto comp = static_cast<uint32_t>(m.data.size());
    put_u32le(out, 0x04034B50);
    put_u16le(out, version(m));
    put_u16le(out, flag_bits(m));
    put_u16le(out, m.method);
    put_u16le(out, 0);  // time
    put_u16le(out, 0);  // date
    put_u32le(out, deferred ? 0 : m.crc);
    put_u32le(out, m.flags.zip64 ? zip64_marker : deferred ? 0 : comp);
    put_u32le(out, m.flags.zip64 ? zip64_marker : deferred ? 0 : m.uncomp_size);
    put_u16le(out, static_cast<uint32_t>(m.name.size()));
    put_u16le(out, extra_bytes(m));
    put_text(out, m.name);
    if (m.flags.zip64) put_zip64_extra(out, deferred ? 0 : m.uncomp_size, deferred ? 0 : comp);
    out.insert(out.end(), m.data.begin(), m.data.end());
    if (deferred) {
      put_u32le(out, 0x08074B50);  // data descriptor
      put_u32le(out, m.crc);
      put_u32le(out, comp);
      if (m.flags.zip64) put_u32le(out, 0);
      put_u32le(out, m.uncomp_size);
      if (m.flags.zip64) put_u32le(out, 0);
    }
  }
  const auto central = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < members_.size(); ++i) {
    const member_rec &m = members_[i];
    const auto comp = static_cast<uint32_t>(m.data.size());
    put_u32le(out, 0x02014B50);
    put_u16le(out, (m.flags.fat_host ? 0u : 3u << 8) | version(m));  // made by
    put_u16le(out, version(m));
    put_u16le(out, flag_bits(m));
    put_u16le(out, m.method);
    put_u16le(out, 0);
    put_u16le(out, 0);
    put_u32le(out, m.crc);
    put_u32le(out, m.flags.zip64 ? zip64_marker : comp);
    put_u32le(out, m.flags.zip64 ? zip64_marker : m.uncomp_size);
    put_u16le(out, static_cast<uint32_t>(m.name.size()));
    put_u16le(out, extra_bytes(m));
    put_u16le(out, 0);  // comment
    put_u16le(out, 0);  // disk
    put_u16le(out, 0);  // internal attributes
    put_u32le(out, 0);  // external attributes
    put_u32le(out, offsets[i]);
    put_text(out, m.name);
    if (m.flags.zip64) put_zip64_extra(out, m.uncomp_size, comp);
  }
  const auto central_size = static_cast<uint32_t>(out.size()) - central;
  put_u32le(out, 0x06054B50);
  put_u16le(out, 0);
  put_u16le(out, 0);
  put_u16le(out, static_cast<uint32_t>(members_.size()));
  put_u16le(out, static_cast<uint32_t>(members_.size()));
  put_u32le(out, central_size);
  put_u32le(out, central);
  put_u16le(out, 0);
  return out;
}

// ---- deflate ----

namespace {

// The CRC register's change for one zero bit, and its powers, as 32x32
// matrices over GF(2): column i is the image of bit i.
using gf2_matrix = std::array<uint32_t, 32>;

uint32_t gf2_apply(const gf2_matrix &m, uint32_t v) {
  uint32_t image = 0;
  for (size_t i = 0; v != 0; ++i, v >>= 1) image ^= (v & 1u) != 0 ? m[i] : 0;
  return image;
}

gf2_matrix gf2_square(const gf2_matrix &m) {
  gf2_matrix out;
  for (size_t i = 0; i < 32; ++i) out[i] = gf2_apply(m, m[i]);
  return out;
}

// Deflate's bits, least significant first, except Huffman codes.
struct bit_writer {
  bytes out;
  uint32_t pending = 0;
  int count = 0;
  void bits(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
      pending |= ((value >> i) & 1u) << count;
      if (++count == 8) flush();
    }
  }
  void code(uint32_t value, int n) {  // Huffman codes go most significant bit first
    for (int i = n - 1; i >= 0; --i) bits(value >> i, 1);
  }
  void flush() {
    if (count > 0) out.push_back(static_cast<uint8_t>(pending));
    pending = 0;
    count = 0;
  }
};

}  // namespace

uint32_t crc32_zeros(uint32_t crc, uint64_t count) {
  gf2_matrix step;
  step[0] = 0xEDB88320u;
  for (size_t i = 1; i < 32; ++i) step[i] = 1u << (i - 1);
  for (int bit = 0; bit < 3; ++bit) step = gf2_square(step);  // one zero byte
  uint32_t reg = ~crc;
  for (; count != 0; count >>= 1, step = gf2_square(step)) {
    if ((count & 1) != 0) reg = gf2_apply(step, reg);
  }
  return ~reg;
}

bytes deflate_run(const bytes &head, uint64_t runs) {
  bit_writer w;
  w.bits(0, 3);  // a stored block, not the last
  w.flush();
  put_u16le(w.out, static_cast<uint32_t>(head.size()));
  put_u16le(w.out, static_cast<uint32_t>(~head.size() & 0xFFFF));
  w.out.insert(w.out.end(), head.begin(), head.end());
  // The last block, with codes of its own: literal/length 256 (end) and 285
  // (length 258) of 1 bit each, distances 1 and 2 of 1 bit each.
  w.bits(1, 1);
  w.bits(2, 2);
  w.bits(286 - 257, 5);
  w.bits(2 - 1, 5);
  // The code lengths' own code, in the format's order 16 17 18 0 8 7 9 6 10
  // 5 11 4 12 3 13 2 14 1: symbols 18 (a run of zeros) and 1, a bit each.
  w.bits(18 - 4, 4);
  for (int k = 0; k < 18; ++k) w.bits(k == 2 || k == 17 ? 1 : 0, 3);
  const auto zeros = [&w](uint32_t n) {  // 11 to 138 zero lengths
    w.code(1, 1);
    w.bits(n - 11, 7);
  };
  zeros(138);
  zeros(256 - 138);  // literals 0 to 255
  w.code(0, 1);      // 256
  zeros(28);         // 257 to 284
  w.code(0, 1);      // 285
  w.code(0, 1);      // distance codes 0 and 1
  w.code(0, 1);
  for (uint64_t r = 0; r < runs; ++r) {
    w.code(1, 1);  // 285: length 258
    w.code(0, 1);  // distance code 0: 1 back
  }
  w.code(0, 1);  // 256: end of block
  w.flush();
  return w.out;
}

// ---- files and processes ----

std::vector<int16_t> pcm16_samples(const bytes &data, size_t offset) {
  std::vector<int16_t> out;
  for (size_t at = offset; at + 1 < data.size(); at += 2) {
    out.push_back(static_cast<int16_t>(get_u16le(data.data() + at)));
  }
  return out;
}

size_t first_sounding(const std::vector<int16_t> &s, size_t from) {
  while (from < s.size() && s[from] == 0) ++from;
  return from;
}

void write_file(const std::string &path, const bytes &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

bytes read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

#ifdef _WIN32
// The Windows build runs no tool process: only the in-process helpers.
bool file_exists(const std::string &path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

// Under the user's own temporary directory; create_directory says whether
// this call made it, so a name another made first is never taken.
std::string make_temp_dir(const std::string &tag) {
  std::random_device noise;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("tunecast-" + tag + "-" + std::to_string(noise()));
    if (std::filesystem::create_directory(dir)) return dir.generic_string();
  }
  throw std::runtime_error("no temporary directory");
}
#else
bool file_exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string make_temp_dir(const std::string &tag) {
  const char *base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tunecast-" +
                      tag + "-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return templ;
}

namespace {

std::string slurp_fd(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  return text;
}

int anonymous_file() {
  char templ[] = "/tmp/tunecast-run-XXXXXX";
  int fd = mkstemp(templ);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(templ);
  return fd;
}

}  // namespace

run_result run(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
  std::vector<std::string> environment;
  for (char **e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  // No language of the tester's: the tool speaks its default, Spanish,
  // unless the test asks for another.
  std::vector<std::string> changes = {"-LANGUAGE", "-LC_ALL", "-LC_MESSAGES", "-LANG"};
  changes.insert(changes.end(), env.begin(), env.end());
  for (const std::string &change : changes) {
    const bool remove = !change.empty() && change[0] == '-';
    const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
    std::erase_if(environment, [&](const std::string &s) {
      return s.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (!remove) environment.push_back(change);
  }
  std::vector<char *> args, envp;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  const int out_fd = anonymous_file();
  const int err_fd = anonymous_file();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  pid_t pid;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  run_result result;
  if (rc == 0) {
    int wstatus = 0;
    rusage usage{};
    while (wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    result.max_rss_kib = usage.ru_maxrss;
  }
  result.out = slurp_fd(out_fd);
  result.err = slurp_fd(err_fd);
  close(out_fd);
  close(err_fd);
  return result;
}

std::string tool_path() { return TUNECAST_BIN; }

run_result run_tool(std::vector<std::string> args) {
  args.insert(args.begin(), tool_path());
  return run(args, {"ZARN_SYNTH=1"});
}
#endif

}  // namespace fixture
