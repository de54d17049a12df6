// wad_zip.cpp: finding the WAD inside a ZIP archive by walking its local
// headers, and writing it to /tmp: stored members are copied here, any other
// method goes to `unzip -p`, started without a shell.
#include "wad_zip.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace {

constexpr int64_t local_header_bytes = 30;
constexpr uint32_t local_header_sig = 0x04034B50;
constexpr size_t copy_chunk_bytes = 8192;
constexpr size_t first_list_capacity = 16;
// What a shell reports for a command it cannot find, as a wait status.
constexpr int not_started_status = 127 << 8;
// What a shell reports when its output redirection cannot be opened.
constexpr int redirect_failed_status = 1 << 8;

struct zip_member {
  char name[512];  // first 511 bytes of the member's name, NUL-terminated
  int64_t data_ofs;
  uint32_t comp_size;
  uint32_t uncomp_size;
  uint16_t method;
};

struct member_list {
  zip_member *items = nullptr;
  size_t count = 0;
  size_t capacity = 0;
};

// Tried in this order; the first rank that any member matches wins.
constexpr const char *preferred_names[] = {"freezarn2.wad", "freezarn1.wad", "zarn2.wad",
                                           "zarn.wad"};

uint16_t get_u16le(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t get_u32le(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

char *copy_text(const char *text) {
  const size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

bool list_append(member_list &list, const zip_member &m) {
  if (list.count == list.capacity) {
    const size_t capacity = list.capacity == 0 ? first_list_capacity : list.capacity * 2;
    auto *items =
        static_cast<zip_member *>(std::realloc(list.items, capacity * sizeof(zip_member)));
    if (items == nullptr) return false;
    list.items = items;
    list.capacity = capacity;
  }
  list.items[list.count++] = m;
  return true;
}

// Walks the local headers from offset 0 until one is missing, malformed or
// runs past the end. Returns false only when memory runs out.
bool walk_members(FILE *f, int64_t size, member_list &list) {
  int64_t offset = 0;
  for (;;) {
    uint8_t h[local_header_bytes];
    if (fseeko(f, offset, SEEK_SET) != 0 || std::fread(h, 1, sizeof h, f) != sizeof h) return true;
    if (get_u32le(h) != local_header_sig) return true;  // the central directory, or garbage
    const uint16_t name_len = get_u16le(h + 26);
    const uint16_t extra_len = get_u16le(h + 28);
    const int64_t data_ofs = offset + local_header_bytes + name_len + extra_len;
    if (data_ofs > size) return true;

    zip_member m{};
    // The first 511 bytes at most; a NUL among them ends the name early.
    const size_t want = name_len < sizeof m.name ? name_len : sizeof m.name - 1;
    m.name[std::fread(m.name, 1, want, f)] = '\0';  // a short read: the file changed under us
    m.data_ofs = data_ofs;
    m.comp_size = get_u32le(h + 18);
    m.uncomp_size = get_u32le(h + 22);
    m.method = get_u16le(h + 8);
    if (!list_append(list, m)) return false;

    // Always moves forward by at least a header, so the walk ends.
    offset = data_ofs + m.comp_size;
    if (offset + local_header_bytes > size) return true;
  }
}

const zip_member *choose_member(const member_list &list) {
  for (const char *suffix : preferred_names) {
    for (size_t i = 0; i < list.count; ++i) {
      if (strcase_ends_with(list.items[i].name, suffix)) return &list.items[i];
    }
  }
  for (size_t i = 0; i < list.count; ++i) {
    if (strcase_ends_with(list.items[i].name, ".wad")) return &list.items[i];
  }
  return nullptr;
}

// Creates or empties the temporary file without following a link planted at
// its path. Anything there but a regular file with one name is refused before
// it is emptied, so neither a symbolic nor a hard link lets us overwrite
// another file (O_NONBLOCK keeps a planted FIFO from blocking the open; it
// means nothing for a regular file).
int open_temp(const char *tmp_path) {
  const int fd = open(tmp_path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || ftruncate(fd, 0) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

char *extract_stored(const char *path, const zip_member &m, const char *tmp_path) {
  FILE *in = std::fopen(path, "rb");
  const int fd = open_temp(tmp_path);
  FILE *out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (out == nullptr && fd >= 0) close(fd);
  if (in == nullptr || out == nullptr) {
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) std::fclose(out);
    return nullptr;
  }
  // An archive that ends early still counts: the loader checks what it gets.
  if (fseeko(in, m.data_ofs, SEEK_SET) == 0) {
    uint8_t buf[copy_chunk_bytes];
    uint32_t remaining = m.comp_size;
    while (remaining != 0) {
      const size_t got = std::fread(buf, 1, remaining < sizeof buf ? remaining : sizeof buf, in);
      if (got == 0 || std::fwrite(buf, 1, got, out) != got) break;  // archive ended, or disk full
      remaining -= static_cast<uint32_t>(got);
    }
  }
  std::fclose(in);
  std::fclose(out);
  std::printf("[WAD] ZIP %s -> extraído %s (%u KB) a %s\n", path, m.name, m.comp_size / 1024,
              tmp_path);
  return copy_text(tmp_path);
}

// Runs `unzip -p ARCHIVE MEMBER` with its output in fd and its errors
// discarded. Returns the wait status, as a shell call would.
int run_unzip(const char *path, const char *member, int fd) {
  // An archive path that starts with '-' would be read as options.
  char *archive = nullptr;
  if (path[0] == '-') {
    archive = static_cast<char *>(std::malloc(std::strlen(path) + 3));
    if (archive == nullptr) return -1;
    std::memcpy(archive, "./", 2);
    std::memcpy(archive + 2, path, std::strlen(path) + 1);
  }
  char *argv[] = {const_cast<char *>("unzip"), const_cast<char *>("-p"),
                  archive != nullptr ? archive : const_cast<char *>(path),
                  const_cast<char *>(member), nullptr};
  posix_spawn_file_actions_t actions;
  int status = -1;
  if (posix_spawn_file_actions_init(&actions) == 0) {
    pid_t pid = 0;
    if (posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO) != 0 ||
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
      status = -1;
    } else if (posix_spawnp(&pid, "unzip", &actions, nullptr, argv, environ) != 0) {
      status = not_started_status;
    } else {
      while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
          status = -1;
          break;
        }
      }
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  std::free(archive);
  return status;
}

char *extract_with_unzip(const char *path, const zip_member &m, const char *tmp_path) {
  std::printf("[WAD] ZIP %s %s método %d (deflate), usando unzip -p ...\n", path, m.name, m.method);
  const int fd = open_temp(tmp_path);
  const int status = fd >= 0 ? run_unzip(path, m.name, fd) : redirect_failed_status;
  if (status != 0) {
    std::fprintf(stderr, "[WAD] unzip fallback falló rc=%d\n", status);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  struct stat st;
  const bool measured = fstat(fd, &st) == 0;
  close(fd);
  if (!measured) return nullptr;
  std::printf("[WAD] ZIP %s -> extraído via unzip %s (%ld KB) a %s\n", path, m.name,
              static_cast<long>(st.st_size / 1024), tmp_path);
  return copy_text(tmp_path);
}

}  // namespace

int strcase_ends_with(const char *s, const char *suffix) {
  const size_t n = std::strlen(s);
  const size_t k = std::strlen(suffix);
  if (n < k) return 0;
  const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const char *tail = s + (n - k);
  for (size_t i = 0; i < k; ++i) {
    if (fold(static_cast<unsigned char>(tail[i])) != fold(static_cast<unsigned char>(suffix[i])))
      return 0;
  }
  return 1;
}

char *zip_extract_wad(const char *path) {
  FILE *f = std::fopen(path, "rb");
  if (f == nullptr) return nullptr;
  int64_t size = -1;
  if (fseeko(f, 0, SEEK_END) == 0) size = ftello(f);
  if (size < local_header_bytes || fseeko(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  member_list list;
  const bool walked = walk_members(f, size, list);
  std::fclose(f);
  const zip_member *chosen = walked ? choose_member(list) : nullptr;
  if (chosen == nullptr) {
    std::free(list.items);
    return nullptr;
  }
  const zip_member m = *chosen;
  std::free(list.items);

  // The base name has no '/', so the temporary file always lies in /tmp.
  const char *slash = std::strrchr(m.name, '/');
  const char *base = slash != nullptr ? slash + 1 : m.name;
  char tmp_path[512];
  constexpr char prefix[] = "/tmp/zarn_engine_";
  const size_t base_len = strnlen(base, sizeof tmp_path - sizeof prefix);  // path cut to 511
  std::memcpy(tmp_path, prefix, sizeof prefix - 1);
  std::memcpy(tmp_path + sizeof prefix - 1, base, base_len);
  tmp_path[sizeof prefix - 1 + base_len] = '\0';
  return m.method == 0 ? extract_stored(path, m, tmp_path) : extract_with_unzip(path, m, tmp_path);
}

char *zip_resolve_path(const char *path) {
  uint8_t sig[4];
  size_t got = 0;
  if (FILE *f = std::fopen(path, "rb")) {
    got = std::fread(sig, 1, sizeof sig, f);
    std::fclose(f);
  }
  if (got == sizeof sig && get_u32le(sig) == local_header_sig) {
    char *extracted = zip_extract_wad(path);
    if (extracted == nullptr)
      std::fprintf(stderr, "[WAD] no se pudo extraer WAD de ZIP %s\n", path);
    return extracted;
  }
  return copy_text(path);
}
