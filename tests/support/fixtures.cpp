// fixtures.cpp: the builders declared in fixtures.h.
#include "fixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char **environ;

namespace fixture {

void put_u16le(bytes &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32le(bytes &out, uint32_t v) {
  put_u16le(out, v & 0xFFFF);
  put_u16le(out, v >> 16);
}

void put_text(bytes &out, const std::string &text) { out.insert(out.end(), text.begin(), text.end()); }

// ---- WAV ----

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
  members_.push_back(member_rec{name, data, 0, crc32(data), static_cast<uint32_t>(data.size()),
                                flags});
  return *this;
}

zip_builder &zip_builder::deflated(const std::string &name, const bytes &data, zip_flags flags) {
  // Stored blocks of at most 65535 bytes: BFINAL/BTYPE byte, LEN, ~LEN, bytes.
  bytes stream;
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, data.size() - at);
    stream.push_back(at + n == data.size() ? 1 : 0);
    put_u16le(stream, static_cast<uint32_t>(n));
    put_u16le(stream, static_cast<uint32_t>(~n & 0xFFFF));
    stream.insert(stream.end(), data.begin() + static_cast<ptrdiff_t>(at),
                  data.begin() + static_cast<ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  members_.push_back(
      member_rec{name, stream, 8, crc32(data), static_cast<uint32_t>(data.size()), flags});
  return *this;
}

zip_builder &zip_builder::member(const std::string &name, const bytes &data, uint16_t method) {
  members_.push_back(
      member_rec{name, data, method, crc32(data), static_cast<uint32_t>(data.size()), {}});
  return *this;
}

bytes zip_builder::build() const {
  bytes out;
  std::vector<uint32_t> offsets;
  const auto flag_bits = [](const member_rec &m) {
    return (m.flags.encrypted ? 1u : 0u) | (m.flags.streamed ? 8u : 0u);
  };
  for (const member_rec &m : members_) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    const bool deferred = m.flags.streamed;
    put_u32le(out, 0x04034B50);
    put_u16le(out, 20);  // version needed
    put_u16le(out, flag_bits(m));
    put_u16le(out, m.method);
    put_u16le(out, 0);  // time
    put_u16le(out, 0);  // date
    put_u32le(out, deferred ? 0 : m.crc);
    put_u32le(out, deferred ? 0 : static_cast<uint32_t>(m.data.size()));
    put_u32le(out, deferred ? 0 : m.uncomp_size);
    put_u16le(out, static_cast<uint32_t>(m.name.size()));
    put_u16le(out, 0);  // extra field length
    put_text(out, m.name);
    out.insert(out.end(), m.data.begin(), m.data.end());
    if (deferred) {
      put_u32le(out, 0x08074B50);  // data descriptor
      put_u32le(out, m.crc);
      put_u32le(out, static_cast<uint32_t>(m.data.size()));
      put_u32le(out, m.uncomp_size);
    }
  }
  const auto central = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < members_.size(); ++i) {
    const member_rec &m = members_[i];
    put_u32le(out, 0x02014B50);
    put_u16le(out, 20);
    put_u16le(out, 20);
    put_u16le(out, flag_bits(m));
    put_u16le(out, m.method);
    put_u16le(out, 0);
    put_u16le(out, 0);
    put_u32le(out, m.crc);
    put_u32le(out, static_cast<uint32_t>(m.data.size()));
    put_u32le(out, m.uncomp_size);
    put_u16le(out, static_cast<uint32_t>(m.name.size()));
    put_u16le(out, 0);  // extra
    put_u16le(out, 0);  // comment
    put_u16le(out, 0);  // disk
    put_u16le(out, 0);  // internal attributes
    put_u32le(out, 0);  // external attributes
    put_u32le(out, offsets[i]);
    put_text(out, m.name);
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

// ---- files and processes ----

std::vector<int16_t> pcm16_samples(const bytes &data, size_t offset) {
  std::vector<int16_t> out;
  for (size_t at = offset; at + 1 < data.size(); at += 2) {
    out.push_back(static_cast<int16_t>(data[at] | data[at + 1] << 8));
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

bool file_exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string make_temp_dir(const std::string &tag) {
  const char *base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                      "/tunecast-" + tag + "-XXXXXX";
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
  for (const std::string &change : env) {
    const bool remove = !change.empty() && change[0] == '-';
    const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
    std::erase_if(environment, [&](const std::string &s) { return s.compare(0, name.size() + 1, name + "=") == 0; });
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

}  // namespace fixture
