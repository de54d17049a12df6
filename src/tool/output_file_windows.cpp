// output_file_windows.cpp: where the bytes of an output go on Windows. A
// regular target is only ever replaced by a complete file: the bytes go to
// a temporary file created beside it under a name no one can guess, which
// is moved over the target at the end and removed on every other path,
// Ctrl-C included.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "tool/wav_out.h"
// bcrypt.h after windows.h, whose types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "common/wide_path.h"

using tunecast::errno_from_windows;
using tunecast::utf8_to_wide;

namespace {

constexpr int temporary_attempts = 100;  // names tried before giving up, as mkstemp does
constexpr size_t max_write_bytes = size_t{1} << 30;  // _write takes an unsigned int

// Every temporary file of the process, for the console's handler: a batch
// renders on several threads at once. Created, moved and removed with the
// lock held, so the handler never removes a name that already is the
// finished file.
std::mutex pending_lock;
std::vector<std::wstring> pending;

// Runs on a thread of its own. Takes the lock and never gives it back: no
// file is created or put in place after the temporary ones are removed,
// however the process ends now.
BOOL WINAPI remove_temporaries(DWORD) {
  pending_lock.lock();
  for (const std::wstring &name : pending) DeleteFileW(name.c_str());
  return FALSE;  // on to the default handler, which ends the process
}

void forget(const std::wstring &name) {
  const auto it = std::find(pending.begin(), pending.end(), name);
  if (it != pending.end()) pending.erase(it);
}

// A name no one can guess: ".tunecast-" and six characters from the
// system's random source.
int temporary_name(std::wstring &name) {
  static constexpr wchar_t symbols[] =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  UCHAR noise[6];
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, noise, sizeof noise, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return EIO;
  }
  name = L".tunecast-";
  for (const UCHAR b : noise) name += symbols[b % (std::size(symbols) - 1)];
  return 0;
}

file_identity identity_of(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return {};
  return {info.dwVolumeSerialNumber,
          static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow, true};
}

file_identity identity_of(const std::wstring &path) {
  // Opened for no access at all, which any file and directory allows.
  const HANDLE file =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  const file_identity id = identity_of(file);
  CloseHandle(file);
  return id;
}

bool same_file(const file_identity &a, const file_identity &b) {
  return a.known && b.known && a.dev == b.dev && a.ino == b.ino;
}

}  // namespace

file_identity file_identity_of(const char *path) {
  std::wstring wide;
  if (path == nullptr || !utf8_to_wide(path, wide)) return {};
  return identity_of(wide);
}

output_file::~output_file() { abandon(); }

int output_file::open(const wav_target &target) {
  static const bool handled = SetConsoleCtrlHandler(remove_temporaries, TRUE) != 0;
  static_cast<void>(handled);  // without it Ctrl-C still ends the process, leaving the file
  const int err = target.fd >= 0 ? open_descriptor(target) : open_path(target);
  if (err != 0) abandon();
  return err;
}

int output_file::write(const void *data, size_t size) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    const int n = _write(fd_, p, static_cast<unsigned>(std::min(size, max_write_bytes)));
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Standard output, written where it stands, in binary mode: in text mode
// every byte 10 of the samples would gain a 13 before it.
int output_file::open_descriptor(const wav_target &target) {
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(target.fd));
  if (file == INVALID_HANDLE_VALUE) return EBADF;
  if (GetFileType(file) == FILE_TYPE_DISK && same_file(identity_of(file), target.input)) {
    return wav_err_same_as_input;
  }
  if (_setmode(target.fd, _O_BINARY) < 0) return errno;
  fd_ = target.fd;
  own_fd_ = false;
  return 0;
}

// A device (NUL, CON, COM1) or a named pipe that the user named gets the
// bytes directly, as on POSIX; one in the --todas directory is refused.
// Returns true when target_ is one, and then err says how opening it went.
bool output_file::open_device(const wav_target &target, int &err) {
  const HANDLE file =
      CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file) == FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  if (target.entry_only) {
    CloseHandle(file);
    err = wav_err_not_regular;
    return true;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(file);
    err = EMFILE;
    return true;
  }
  own_fd_ = true;
  err = 0;
  return true;
}

int output_file::open_path(const wav_target &target) {
  if (!utf8_to_wide(target.path, target_)) return EINVAL;
  if (int err = 0; open_device(target, err)) return err;
  const DWORD attributes = GetFileAttributesW(target_.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND ? open_temporary() : errno_from_windows(code);
  }
  // Not followed, wherever it is: a link or a junction may lead anywhere.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return wav_err_reparse_point;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
  // Moving over a read-only file fails at the end; refused as opening it would be.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return EACCES;
  if (same_file(identity_of(target_), target.input)) return wav_err_same_as_input;
  return open_temporary();
}

// CREATE_NEW under a name no one can guess, in the target's directory so
// that the move is a rename. Shared for deletion only so that the console's
// handler may remove it while it is still open.
int output_file::open_temporary() {
  const size_t cut = target_.find_last_of(L"\\/:");
  const std::wstring dir = cut == std::wstring::npos ? std::wstring() : target_.substr(0, cut + 1);
  for (int attempt = 0;; ++attempt) {
    std::wstring name;
    if (const int err = temporary_name(name); err != 0) return err;
    name.insert(0, dir);
    const std::lock_guard<std::mutex> hold(pending_lock);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_EXISTS || attempt + 1 == temporary_attempts) {
        return errno_from_windows(code);
      }
      continue;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd_ < 0) {
      CloseHandle(file);
      DeleteFileW(name.c_str());
      return EMFILE;
    }
    own_fd_ = true;
    pending.push_back(name);
    temp_ = std::move(name);
    return 0;
  }
}

int output_file::finish() {
  if (!own_fd_) return 0;  // a stream: nothing to close or move
  int err = 0;
  if (!temp_.empty() && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)))) {
    err = errno_from_windows(GetLastError());
  }
  if (_close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0 && !temp_.empty()) {
    const std::lock_guard<std::mutex> hold(pending_lock);
    if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      err = errno_from_windows(GetLastError());
    } else {
      forget(temp_);
      temp_.clear();
    }
  }
  abandon();
  return err;
}

void output_file::abandon() {
  if (fd_ >= 0 && own_fd_) _close(fd_);
  fd_ = -1;
  if (temp_.empty()) return;
  const std::lock_guard<std::mutex> hold(pending_lock);
  DeleteFileW(temp_.c_str());
  forget(temp_);
  temp_.clear();
}
