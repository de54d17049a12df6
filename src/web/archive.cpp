// archive.cpp: the module's archives: one loaded from a file JavaScript
// has put in the module's memory file system, its listing, and its release.
// The reader and the listing are the tool's own, so are their lines.
#include "tool/archive.h"

#include <emscripten/emscripten.h>
#include <malloc.h>

#include <string>

#include "web/song.h"

namespace {

// The last listing, kept until JavaScript has read it.
std::string listing;

}  // namespace

extern "C" {

// Loads the WAD, or the ZIP holding one, at path (read whole: the file may
// be removed as soon as this returns). Null after the reader's line, or
// with tc_web_inflate_wanted() set when a deflated member must be inflated
// by JavaScript first.
EMSCRIPTEN_KEEPALIVE wad_file *tc_web_open(const char *path) {
  return web_guard<wad_file *>(nullptr, [&] { return wad_load(path); });
}

EMSCRIPTEN_KEEPALIVE void tc_web_close(wad_file *w) { wad_free(w); }

// The music of w as `tunecast -l ARCHIVE --json` prints it, one JSON object a
// line; valid until the next call. Null when memory ran out.
EMSCRIPTEN_KEEPALIVE const char *tc_web_list(wad_file *w) {
  return web_guard<const char *>(nullptr, [&] {
    listing = archive_list_json_text(w);
    return listing.c_str();
  });
}

// What the module's allocator holds now, in bytes: the tests watch it stay
// level over many renders.
EMSCRIPTEN_KEEPALIVE double tc_web_heap_in_use() {
  return static_cast<double>(mallinfo().uordblks);
}
}
