// wide_path.h: Windows only. The tool and the libraries speak UTF-8 (names
// on the command line, in messages, in the C interface); Windows names
// files in UTF-16. Every file opened by a UTF-8 name is opened through
// these, so that a name such as "música.wad" reaches the right file.
#ifndef TUNECAST_WIDE_PATH_H
#define TUNECAST_WIDE_PATH_H

#include <cstdio>
#include <string>

namespace tunecast {

// text in UTF-16. False when text is not valid UTF-8 (no file has that name).
bool utf8_to_wide(const char *text, std::wstring &out);

// text in UTF-8; a lone surrogate becomes U+FFFD.
std::string wide_to_utf8(const wchar_t *text);

// std::fopen for a UTF-8 name (mode as for _wfopen: L"rb", L"wb"). Null with
// errno set, EINVAL for a name that is not UTF-8.
std::FILE *wide_fopen(const char *path, const wchar_t *mode);

// _wopen for a UTF-8 name: a descriptor, or -1 with errno set (EISDIR for a
// directory, which Windows opens for no one).
int wide_open(const char *path, int flags, int mode);

// The errno value closest to a Windows error code (GetLastError()), so that
// the failure reads as the same failure on POSIX; EIO for one without.
int errno_from_windows(unsigned long code);

}  // namespace tunecast

#endif  // TUNECAST_WIDE_PATH_H
