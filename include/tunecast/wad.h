/* wad.h: WAD archive access for the tool and for engines.
 *
 * wad_load reads a whole archive (or the WAD inside a ZIP archive) into
 * memory, once: every lump points into that one image, and every query after
 * that works on memory only. No locks: calls on different handles are
 * independent; the only globals are the log hook and its translation hook
 * below. Diagnostics are single lines, most beginning with "[WAD] ", with
 * any control bytes of names taken from the file written as \xNN; the
 * module writes them to no stream itself but hands each to the log hook,
 * whose default prints progress on stdout and failures on stderr. Every
 * call answers a null handle or pointer (as absent, null or -1) rather than
 * reading through it, and none lets a C++ exception out: running out of
 * memory is a failure like any other.
 */
#ifndef TUNECAST_WAD_H
#define TUNECAST_WAD_H

#include <stddef.h>
#include <stdint.h>

#include "tunecast/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One directory entry. data points at exactly size bytes inside the
 * archive's image (entries that overlap share them), or is null when the
 * lump has none (size 0 or less; bytes outside the file: then size is 0). */
typedef struct wad_lump {
  char name[9];     /* up to 8 characters, trailing NULs/spaces removed */
  int32_t file_ofs; /* as read from the directory */
  int32_t size;
  uint8_t *data; /* owned by the archive */
} wad_lump;

typedef struct wad_file {
  char magic[5]; /* "IWAD" or "PWAD" */
  int32_t num_lumps;
  int32_t dir_ofs; /* as read; unused after loading */
  wad_lump *lumps; /* owned, directory order */
  int32_t lump_capacity;
  char path[512];     /* the file read; for ZIP input "ARCHIVE:MEMBER" */
  char src_path[512]; /* the path given to wad_load */
} wad_file;

/* A lump of a map: borrowed from the archive, null/0 when absent. */
typedef struct wad_map_lump {
  const uint8_t *data;
  int32_t size;
} wad_map_lump;

typedef struct wad_map {
  wad_map_lump things, linedefs, sidedefs, vertexes, segs, ssectors, nodes, sectors, reject,
      blockmap;
} wad_map;

/* Levels of the lines the log hook receives. */
enum { WAD_LOG_PROGRESS = 0, WAD_LOG_FAILURE = 1 };

/* Receives each line of the reader.
 * user: the pointer given to wad_set_log, passed back untouched.
 * level: WAD_LOG_PROGRESS (a load's progress or success) or WAD_LOG_FAILURE
 *   (why a load failed).
 * line: one line, without its newline, valid only during the call. */
typedef void (*wad_log_fn)(void *user, int32_t level, const char *line);

/* Sends every later line of the reader to fn.
 * fn: the hook, or null for the default (progress "line\n" on stdout,
 *   failures on stderr, each flushed at once).
 * user: handed to fn with each line; the caller keeps it valid while set.
 * Threads: the hook is process-wide and not guarded: set it before loading,
 * never while a load may run on another thread. */
TUNECAST_API void wad_set_log(wad_log_fn fn, void *user);

/* Translates a text of the reader before a line is made of it.
 * text: a line's printf format ("[WAD] no se puede abrir %s: %s") or a
 *   system reason it quotes ("permiso denegado"), Spanish, as the reader
 *   writes them.
 * Returns the text to use: one with the same conversions, in the same
 * order, valid for the rest of the process; or text itself. */
typedef const char *(*wad_translate_fn)(const char *text);

/* Makes every later line of the reader from translated texts (the tool
 * passes its gettext catalogs).
 * translate: the function, or null for the reader's own Spanish.
 * Threads: as wad_set_log. */
TUNECAST_API void wad_set_translation(wad_translate_fn translate);

/* Loads path: a WAD file, a pipe holding one, or a ZIP archive holding one,
 * whose WAD member is read into memory (a stored member directly, a
 * deflated one with zlib, any other through `unzip -p` on PATH with a
 * deadline; all bounded by the member's declared size; no file is written).
 * path: the file to read; null gives null without a line.
 * Returns a new handle, or null after logging one line saying why (memory
 * running out included). Release with wad_free. The handle must come
 * from wad_load or wad_load_memory: it owns the image its lumps point into. */
TUNECAST_API wad_file *wad_load(const char *path);

/* Loads a WAD image already in memory (a WAD, not a ZIP), checked as
 * wad_load checks a file, with the same lines.
 * data: size bytes, read only during the call: the handle owns a copy, so
 *   the caller may release data at once.
 * size: in bytes; beyond 2^32 - 2 nothing is copied, since no lump can
 *   reach there.
 * name: for the lines and for both path fields (cut to 511 bytes); not null.
 * Returns a new handle (release with wad_free), or null after logging one
 * line saying why; null without a line when data (with size > 0) or name
 * is null. */
TUNECAST_API wad_file *wad_load_memory(const void *data, size_t size, const char *name);

/* Opens path to read its lumps on demand: only the header and the directory
 * are read now, so a program that plays one song of a large archive holds
 * little more than that song. Checked and logged as wad_load does.
 * path: as for wad_load (null gives null). A pipe, or the WAD inside a ZIP, cannot be read
 *   twice and is read whole, as wad_load reads it.
 * Returns a new handle (release with wad_free, which closes the file), or
 * null after logging why. Entries are found as in a loaded archive, but
 * their data is null unless the archive was read whole: read a lump with
 * wad_read_lump. Such a handle cannot take part in wad_merge. */
TUNECAST_API wad_file *wad_open(const char *path);

/* As wad_load, from a ZIP archive's member chosen by name.
 * path: the ZIP archive (null gives null without a line).
 * member: the member's exact name, case-sensitive, as the archive stores it
 *   ("maps/zarn.wad"); of several with that name, the first. Null chooses as
 *   wad_load does (and then path may be a WAD too).
 * Returns a new handle (release with wad_free), or null after logging one
 * line saying why: path is not a ZIP file, no member has that name (the line
 * names the archive's WAD members), or the member is not a WAD. */
TUNECAST_API wad_file *wad_load_member(const char *path, const char *member);

/* As wad_open, from a ZIP archive's member chosen by name: path and member
 * as for wad_load_member. The member is read whole, as wad_open reads the
 * WAD inside a ZIP. Returns a new handle (release with wad_free), or null
 * after logging one line saying why. */
TUNECAST_API wad_file *wad_open_member(const char *path, const char *member);

/* The WAD members of the ZIP archive a handle was read from.
 * w: a handle; null, or one not read from a ZIP, has none.
 * index: 0 is the member read; 1 up are the archive's other members whose
 *   names end in ".wad" (any case), in archive order, at most 64 of them.
 * Returns the member's name (its first 511 bytes, as stored: escape it
 * before printing), owned by w until wad_free or wad_merge; or null past the
 * last. */
TUNECAST_API const char *wad_zip_member(wad_file *w, int32_t index);

/* A copy of a lump's bytes, from memory or from the open file.
 * w: a handle from wad_load, wad_load_memory or wad_open; null gives null.
 * lump: one of w's entries (from wad_get); null gives null.
 * Returns lump->size bytes in a new buffer the caller frees, or null: no
 * data (size 0 or less, bytes outside the file), a read that comes back
 * short (the file shrank since it was opened), or no memory. */
TUNECAST_API uint8_t *wad_read_lump(wad_file *w, const wad_lump *lump);

/* The first bytes of a lump, copied into the caller's buffer: enough to
 * tell what a lump holds without reading all of it, from memory or from the
 * open file.
 * w: a handle from wad_load, wad_load_memory or wad_open; null gives -1.
 * lump: one of w's entries (from wad_get); null gives -1.
 * buf: capacity bytes the caller owns, written only up to the count
 *   returned; null gives -1 unless capacity is 0.
 * capacity: the most to copy, in bytes.
 * Returns the count copied, the lesser of lump->size and capacity (0 for a
 * lump without data), or -1: a null argument, or a read that comes back
 * short (the file shrank since it was opened). */
TUNECAST_API int32_t wad_read_lump_head(wad_file *w, const wad_lump *lump, void *buf,
                                        size_t capacity);

/* Releases the handle and every lump it owns.
 * w: a handle, or null (ignored). */
TUNECAST_API void wad_free(wad_file *w);

/* The last entry whose name equals name exactly (case-sensitive).
 * w: a handle, or null (then nothing is found).
 * name: a NUL-terminated name, or null (then nothing is found).
 * Returns the entry, valid until w takes part in a wad_merge or is freed;
 * or null. */
TUNECAST_API wad_lump *wad_get(wad_file *w, const char *name);

/* Data of the last entry named name.
 * w, name: as for wad_get (null finds nothing).
 * size_out: receives the entry's size when one matches, else untouched;
 *   may be null.
 * Returns the entry's bytes, which belong to the archive, or null (no such
 * entry, or one without data). */
TUNECAST_API void *wad_get_data(wad_file *w, const char *name, int32_t *size_out);

/* Appends the entries of src to dst, so src's lumps shadow dst's, and ends
 * src; the bytes its lumps point into pass to dst.
 * dst: a handle from wad_load or wad_load_memory; null gives -1.
 * src: another such handle, released on success; null gives -1.
 * Returns 0 (two empty archives too), or -1 with both unchanged: a null
 * argument, dst == src, a handle from wad_open, more than INT32_MAX entries
 * in all, or out of memory. */
TUNECAST_API int32_t wad_merge(wad_file *dst, wad_file *src);

/* Names of the maps ("ExMy", "MAPxy" followed by THINGS and LINEDEFS within
 * the next 10 entries), in directory order, each once.
 * w: a handle, or null (no maps).
 * count_out: receives the number of names (0 whenever the result is null);
 *   null lists nothing, since the list could not be released.
 * Returns a list the caller releases with wad_find_maps_free, or null (no
 * maps, a null argument, or out of memory). */
TUNECAST_API char **wad_find_maps(wad_file *w, int32_t *count_out);

/* Releases a list from wad_find_maps.
 * list: the list, or null (ignored).
 * count: the count wad_find_maps stored with it. */
TUNECAST_API void wad_find_maps_free(char **list, int32_t count);

/* Fills out with the map lumps among the 11 entries that follow the last
 * marker named name (up to the next marker).
 * w: a handle, or null (no marker).
 * name: the marker's name, or null (no marker).
 * out: zeroed, then filled; its pointers borrow the archive's bytes. Null
 *   gives -1.
 * Returns 0, or -1 when there is no such marker or an argument is null. */
TUNECAST_API int32_t wad_read_map(wad_file *w, const char *name, wad_map *out);

/* A copy of one palette of the last PLAYPAL.
 * w: a handle, or null (no palette).
 * index: 0 up; palette index is the 768 bytes at index * 768.
 * Returns the copy, which the caller frees, or null when there is no such
 * palette or memory ran out. */
TUNECAST_API uint8_t *wad_get_palette(wad_file *w, int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* TUNECAST_WAD_H */
