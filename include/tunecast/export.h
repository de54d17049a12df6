/* export.h: marks the public C names of tunecast's libraries. The shared
 * libraries are built with hidden visibility, so only a declaration marked
 * TUNECAST_API is exported; everything else stays inside the library.
 *
 * On Windows a DLL exports exactly what its objects mark dllexport: the DLL
 * is compiled with TUNECAST_BUILDING_DLL, the static library without it. A
 * program linking the DLLs may define TUNECAST_DLL to import through
 * dllimport; without it the linker's auto-import finds the names too. */
#ifndef TUNECAST_EXPORT_H
#define TUNECAST_EXPORT_H

#if defined(_WIN32)
#if defined(TUNECAST_BUILDING_DLL)
#define TUNECAST_API __declspec(dllexport)
#elif defined(TUNECAST_DLL)
#define TUNECAST_API __declspec(dllimport)
#else
#define TUNECAST_API
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define TUNECAST_API __attribute__((visibility("default")))
#else
#define TUNECAST_API
#endif

#endif /* TUNECAST_EXPORT_H */
