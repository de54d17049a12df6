// wad_zip.h: the ZIP container side of the WAD loader, private to the WAD
// module (and its tests). An archive given to wad_load may be a ZIP holding
// a WAD; these functions find that WAD and write it out under /tmp.
#ifndef TUNECAST_WAD_ZIP_H
#define TUNECAST_WAD_ZIP_H

// The path wad_load should read for path: for a file starting with the ZIP
// signature, the WAD extracted from it; otherwise a copy of path. Returns a
// malloc'd text the caller frees, or null (after printing why when the ZIP
// held no WAD; silently when memory ran out).
char *zip_resolve_path(const char *path);

// Extracts the preferred WAD member of the ZIP archive at path to
// "/tmp/zarn_engine_<base name>". Returns that path (malloc'd, caller frees)
// or null. Prints its progress lines; never follows a link at the temp path.
char *zip_extract_wad(const char *path);

// 1 when s ends with suffix, ASCII letters compared without case; else 0.
int strcase_ends_with(const char *s, const char *suffix);

#endif  // TUNECAST_WAD_ZIP_H
