/* export.h: marks the public C names of tunecast's libraries. The shared
 * libraries are built with hidden visibility, so only a declaration marked
 * TUNECAST_API is exported; everything else stays inside the library. */
#ifndef TUNECAST_EXPORT_H
#define TUNECAST_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define TUNECAST_API __attribute__((visibility("default")))
#else
#define TUNECAST_API
#endif

#endif /* TUNECAST_EXPORT_H */
