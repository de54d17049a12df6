// output_format.h: what the render tool writes: WAV through its own writer,
// FLAC and Ogg Vorbis through libsndfile when the build has it, or the
// score itself as a Standard MIDI file. Chosen by --formato or by the
// output's extension, and settled before anything is loaded or written.
#ifndef TUNECAST_TOOL_OUTPUT_FORMAT_H
#define TUNECAST_TOOL_OUTPUT_FORMAT_H

#include <string>

enum class output_format { wav, flac, ogg, mid };

// The format a --formato value names ("wav", "flac", "ogg", "mid", lower
// case as the option is typed). False for anything else.
bool output_format_from_name(const char *name, output_format &format);

// Lower-case name, which is also the extension the format's files take.
const char *output_format_name(output_format format);

// Whether this run writes the format: WAV and MIDI always; FLAC and Ogg
// Vorbis when libsndfile was found at build time and loads now (asking
// loads it).
bool output_format_available(output_format format);

// The formats this run writes, in the order above, separated by spaces.
std::string output_formats_built_in();

// The format for an output path when --formato is not given, from its
// extension (the text after the last point of the last path component, a
// leading point aside), in any case. No extension: WAV, as always. Sets
// error to one Spanish line for an extension the tool does not write.
bool output_format_from_path(const char *path, output_format &format, std::string &error);

// Settles the format of a render or a batch: the one --formato named
// (chosen, null when it was not given), or the one the output's name implies
// (path, null for a batch); refuses a known extension that contradicts
// --formato and a format this run cannot write. False with error set.
bool output_format_settle(const output_format *chosen, const char *path, output_format &format,
                          std::string &error);

#endif  // TUNECAST_TOOL_OUTPUT_FORMAT_H
