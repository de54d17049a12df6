// wide_path_windows.cpp: UTF-8 names turned into the UTF-16 ones that the
// Windows file calls take, and back for the command line.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <cerrno>

#include "common/wide_path.h"

namespace tunecast {

bool utf8_to_wide(const char *text, std::wstring &out) {
  out.clear();
  if (*text == '\0') return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out.data(), n) != n) {
    return false;
  }
  out.pop_back();  // the terminator the count included
  return true;
}

std::string wide_to_utf8(const wchar_t *text) {
  if (*text == L'\0') return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr) != n) return {};
  out.pop_back();
  return out;
}

std::FILE *wide_fopen(const char *path, const wchar_t *mode) {
  std::wstring wide;
  if (!utf8_to_wide(path, wide)) {
    errno = EINVAL;
    return nullptr;
  }
  return _wfopen(wide.c_str(), mode);
}

int wide_open(const char *path, int flags, int mode) {
  std::wstring wide;
  if (!utf8_to_wide(path, wide)) {
    errno = EINVAL;
    return -1;
  }
  int fd = -1;
  // Shared like a POSIX open: others may read, write or rename meanwhile.
  const errno_t err = _wsopen_s(&fd, wide.c_str(), flags, _SH_DENYNO, mode);
  if (err != 0) {
    // Windows denies access to a directory rather than say what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = err == EACCES && directory ? EISDIR : err;
    return -1;
  }
  return fd;
}

int errno_from_windows(unsigned long code) {
  struct row {
    unsigned long code;
    int err;
  };
  static constexpr row rows[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT},   {ERROR_PATH_NOT_FOUND, ENOENT},
      {ERROR_INVALID_DRIVE, ENOENT},    {ERROR_ACCESS_DENIED, EACCES},
      {ERROR_SHARING_VIOLATION, EBUSY}, {ERROR_LOCK_VIOLATION, EBUSY},
      {ERROR_FILE_EXISTS, EEXIST},      {ERROR_ALREADY_EXISTS, EEXIST},
      {ERROR_DISK_FULL, ENOSPC},        {ERROR_HANDLE_DISK_FULL, ENOSPC},
      {ERROR_WRITE_PROTECT, EROFS},     {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
      {ERROR_OUTOFMEMORY, ENOMEM},      {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
      {ERROR_INVALID_NAME, EINVAL},     {ERROR_DIRECTORY, ENOTDIR},
      {ERROR_NOT_SAME_DEVICE, EXDEV},   {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
      {ERROR_DIR_NOT_EMPTY, ENOTEMPTY}, {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
  };
  for (const row &r : rows) {
    if (r.code == code) return r.err;
  }
  return EIO;
}

}  // namespace tunecast
