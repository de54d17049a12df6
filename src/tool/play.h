// play.h: --tocar, the archive's music played live through the sound
// device, with a status line and keys on a terminal.
#ifndef TUNECAST_TOOL_PLAY_H
#define TUNECAST_TOOL_PLAY_H

#include "tool/options.h"

// Plays opt.play_archive: the lump opt.args[0] (for opt.args[1] seconds
// when given), or every music lump in directory order. Returns the exit
// status: 0 once the songs have played or the user quit, 1 when nothing
// could be played or there is no sound device. A signal that ends the
// process (SIGINT, SIGQUIT, SIGTERM, ...) does so once the terminal is back.
int play_run(const tool_options &opt);

#endif  // TUNECAST_TOOL_PLAY_H
