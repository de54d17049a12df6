// messages.cpp: tr() through the C library's gettext, with the catalogs
// found beside the executable; the identity where the build has no
// catalogs (Windows, or no msgfmt when it was built).
#include "tool/messages.h"

#include <cstdarg>
#include <cstdio>

#ifdef TUNECAST_HAVE_GETTEXT
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <string_view>
#endif

namespace tunecast {

#ifdef TUNECAST_HAVE_GETTEXT

namespace {

constexpr const char *text_domain = "tunecast";

bool owned_by_us_or_root(uid_t uid) { return uid == 0 || uid == geteuid(); }

// A directory to read catalogs from: reached without a link that someone
// else owns, owned by root or by us, and writable by no one else (a group
// may write only when it is ours or root's).
bool trusted_dir(const std::string &path) {
  struct stat link {};
  struct stat dir {};
  if (lstat(path.c_str(), &link) != 0 || !owned_by_us_or_root(link.st_uid)) return false;
  if (stat(path.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) return false;
  if (!owned_by_us_or_root(dir.st_uid) || (dir.st_mode & S_IWOTH) != 0) return false;
  return (dir.st_mode & S_IWGRP) == 0 || dir.st_gid == 0 || dir.st_gid == getegid();
}

// from, then each piece of relative ("..", or a name) in turn, every step
// trusted. Empty when a step is not.
std::string trusted_walk(std::string from, std::string_view relative) {
  if (!trusted_dir(from)) return {};
  while (!relative.empty()) {
    const size_t cut = relative.find('/');
    const std::string_view piece = relative.substr(0, cut);
    relative = cut == std::string_view::npos ? std::string_view() : relative.substr(cut + 1);
    if (piece.empty() || piece == ".") continue;
    if (piece == "..") {
      const size_t slash = from.find_last_of('/');
      from.resize(slash == 0 ? 1 : slash);
    } else {
      if (from != "/") from += '/';
      from.append(piece);
    }
    if (!trusted_dir(from)) return {};
  }
  return from;
}

// The catalogs: locale/ beside the executable in the build tree, else the
// installed ones where they sit relative to the executable (so a moved
// prefix still finds them), else where the build installs them. The
// kernel's /proc/self/exe names the executable with no link left in it.
std::string catalog_dir() {
  std::string exe(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
  if (n > 0 && static_cast<size_t>(n) < exe.size()) {
    exe.resize(static_cast<size_t>(n));
    const std::string exe_dir = exe.substr(0, exe.find_last_of('/'));
    for (const char *relative : {"locale", TUNECAST_LOCALE_FROM_BIN}) {
      std::string found = trusted_walk(exe_dir.empty() ? "/" : exe_dir, relative);
      if (!found.empty()) return found;
    }
  }
  return trusted_dir(TUNECAST_LOCALEDIR) ? TUNECAST_LOCALEDIR : std::string();
}

bool is_c_locale(std::string_view name) {
  return name == "C" || name == "POSIX" || name.starts_with("C.");
}

// The locale messages were asked in, by the precedence setlocale uses.
const char *messages_locale_asked() {
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return nullptr;
}

}  // namespace

void messages_use_environment() {
  // LC_MESSAGES alone, never LC_ALL: LC_NUMERIC would print "12.5" and
  // "%.2f" with a decimal comma and read durations so, and LC_CTYPE would
  // change what toupper() makes of lump names. Everything but the
  // messages stays in the C locale.
  if (std::setlocale(LC_MESSAGES, "") == nullptr) {
    // The locale asked for is not installed here, and gettext would then
    // ignore the variables. C.UTF-8 always exists (glibc 2.35 on), and
    // under it gettext honours LANGUAGE as under any locale but C: so the
    // asked locale's name, unless LANGUAGE already says more, picks the
    // catalog as the locale itself would have.
    const char *asked = messages_locale_asked();
    if (asked == nullptr || is_c_locale(asked)) return;
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) return;
    const char *language = std::getenv("LANGUAGE");
    if (language == nullptr || *language == 0) setenv("LANGUAGE", asked, 1);
  }
  const std::string dir = catalog_dir();
  if (!dir.empty()) bindtextdomain(text_domain, dir.c_str());
  // The catalogs' UTF-8 as it is, whatever LC_CTYPE's character set.
  bind_textdomain_codeset(text_domain, "UTF-8");
}

const char *tr(const char *spanish) {
  // gettext("") is the catalog's header, not a message.
  return *spanish == 0 ? spanish : dgettext(text_domain, spanish);
}

#else

void messages_use_environment() {}

const char *tr(const char *spanish) { return spanish; }

#endif

std::string format_text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed <= 0) return {};
  std::string text(static_cast<size_t>(needed), '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

}  // namespace tunecast
