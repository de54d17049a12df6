// midi_out.h: --formato mid, the lump written as a Standard MIDI file
// instead of sound: a MUS score converted directly, a MIDI lump first made
// into the MUS score the synthesizer would play, so both give the same file.
#ifndef TUNECAST_TOOL_MIDI_OUT_H
#define TUNECAST_TOOL_MIDI_OUT_H

#include "tool/render.h"

// Converts job's lump and writes the file to job's output through
// output_file (the same temporary file, rename and link rules as the WAV).
// The length fields are not used: the file holds the whole score. Prints
// every error (standard error) and the closing line (render_closing_line).
// Returns the exit status: 0 written, 1 not.
int midi_out_run(const render_job &job);

#endif  // TUNECAST_TOOL_MIDI_OUT_H
