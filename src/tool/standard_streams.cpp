// standard_streams.cpp: standard streams held open and standard output
// checked, so that a closed or full stream is never silent and never
// swallows a file.
#include "tool/standard_streams.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>

#include "common/system_text.h"
#include "tool/messages.h"

using tunecast::system_error_text;
using tunecast::tr;

namespace {

int first_stdout_failure = 0;  // the errno value of the first failed flush

}  // namespace

#ifdef _WIN32
// The C runtime keeps descriptors 0 to 2 for the standard streams even when
// the process was started without them: nothing the tool opens takes their
// numbers, and a write to a missing one fails, which is reported at the end.
bool standard_streams_hold() { return true; }
#else
bool standard_streams_hold() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower descriptors are open by now, so open() returns this one.
    const int mode = fd == STDIN_FILENO ? O_WRONLY : O_RDONLY;
    if (open("/dev/null", mode | O_NOCTTY) == fd) continue;
    // Said on standard error, which may be the very descriptor missing.
    std::fprintf(stderr,
                 tr("no se puede abrir /dev/null en lugar de un flujo estándar cerrado: %s\n"),
                 tr(system_error_text(errno).c_str()));
    return false;
  }
  return true;
}
#endif

void standard_stream_flush(std::FILE *stream) {
  if (std::fflush(stream) != 0 && stream == stdout && first_stdout_failure == 0) {
    first_stdout_failure = errno;
  }
}

int standard_output_close(int status) {
  int err = first_stdout_failure;
  if (std::fflush(stdout) != 0 && err == 0) err = errno;
  if (std::ferror(stdout) != 0 && err == 0) err = EIO;  // a write failed, its reason lost
  if (std::fclose(stdout) != 0 && err == 0) err = errno;
  if (err == 0) return status;
  std::fprintf(stderr, tr("no se puede escribir en la salida estándar: %s\n"),
               tr(system_error_text(err).c_str()));
  return 1;
}
