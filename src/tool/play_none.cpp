// play_none.cpp: --tocar in a build without the live player (the Windows
// one): no terminal, no sound device, only the refusal, said before the
// archive is read.
#include <cstdio>
#include <string>

#include "tool/messages.h"
#include "tool/play.h"
#include "tool/sound_device.h"

using tunecast::tr;

int play_run(const tool_options &) {
  std::fputs(tr("no se puede tocar: esta compilación de tunecast no tiene reproductor en vivo\n"),
             stderr);
  return 1;
}

std::string sound_device_library() { return {}; }
