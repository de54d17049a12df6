// batch.h: --todas, every music lump of an archive rendered to its own
// WAV file by worker processes, each rendering one song at a time.
#ifndef TUNECAST_TOOL_BATCH_H
#define TUNECAST_TOOL_BATCH_H

#include <string>

#include "tool/render.h"
#include "tunecast/wad.h"

// Renders each music lump of w (the last of each name) into DIR/NAME.EXT in
// format (EXT its name: wav, flac, ogg, mid),
// NAME made safe by archive_safe_name; creates DIR when it is missing and
// refuses one that another user owns (root excepted) or that anyone may
// write to without the sticky bit, or that is reached through another
// user's link in a sticky shared directory. DIR is opened once and the
// workers write relative to it. An entry is replaced by a rename, a link
// there never followed; a pipe or device there, or the archive itself
// (input), is refused. w may be opened with wad_open: each lump is read only
// when its song is rendered. At most one worker per online core; each ends when
// this process does, however it ends. Each song plays at style's volume. Progress on standard
// error when it is a terminal, a summary line on standard output, neither
// when style is quiet. Each file's tags name its lump and album. Returns 0
// when every lump was written, 1 otherwise.
int batch_run(wad_file *w, const char *dir, const render_length &length, const render_style &style,
              const file_identity &input, output_format format, const std::string &album);

#endif  // TUNECAST_TOOL_BATCH_H
