// standard_streams.h: the tool's standard streams at both ends of a run:
// descriptors 0 to 2 held from the start, so that nothing the tool opens
// takes their numbers, and standard output checked once all is written.
#ifndef TUNECAST_TOOL_STANDARD_STREAMS_H
#define TUNECAST_TOOL_STANDARD_STREAMS_H

#include <cstdio>

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Each is
// opened against its direction (standard input for writing, the others
// for reading), so a read or write on it fails as on the closed
// descriptor it stands for: a closed standard output stays a failure.
// Returns false, said on standard error, when that cannot be done: the
// tool must not go on then.
bool standard_streams_hold();

// Flushes stream now, so that a line keeps its place among those of the
// other stream. A failure on standard output is kept with its reason for
// standard_output_close, since the C library drops what it could not write.
void standard_stream_flush(std::FILE *stream);

// Flushes and closes standard output. Returns status when everything
// written to it arrived; otherwise prints "no se puede escribir en la
// salida estándar: REASON" on standard error and returns 1.
int standard_output_close(int status);

#endif  // TUNECAST_TOOL_STANDARD_STREAMS_H
