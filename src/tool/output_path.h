// output_path.h: where an output's name leads. The path is walked one
// component at a time from open directories, so a link another user planted
// anywhere on the way is seen and refused rather than followed, and what is
// written afterwards is written relative to a directory that cannot be
// swapped under the tool.
#ifndef TUNECAST_TOOL_OUTPUT_PATH_H
#define TUNECAST_TOOL_OUTPUT_PATH_H

#include <sys/stat.h>

#include <string>

// The last component of a path and the directory that holds it.
struct path_place {
  int dir_fd = -1;    // the directory, open with O_PATH; the caller closes it
  std::string name;   // one component, no '/'; "." when the path ends in a directory
  struct stat st {};  // the component as lstat sees it, when exists
  bool exists = false;
};

// Walks path from the working directory (or the root). A link on the way, and
// the last component when it is a link and follow_last is set, is followed
// only as the kernel's protected-link rule allows: in a sticky directory
// anyone may write to (/tmp), only a link of the user's own or of the
// directory's owner. A link to nothing is refused (ENOENT) rather than
// creating the file it points at. Returns 0, an errno value, or
// wav_err_foreign_link; out.dir_fd is open only on success.
int path_walk(const char *path, bool follow_last, path_place &out);

// The descriptor a path names when it names one of this process's own:
// /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N,
// /proc/thread-self/fd/N and /proc/PID/fd/N with this process's PID.
// Returns N (open or not), or -1 for any other path.
int path_named_descriptor(const char *path);

#endif  // TUNECAST_TOOL_OUTPUT_PATH_H
