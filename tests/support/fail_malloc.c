/* fail_malloc.c: preloaded into the tool by a test, so that memory runs out
 * for one allocation only: malloc of exactly FAIL_MALLOC_SIZE bytes returns
 * null, and every other request goes to the C library's allocator. */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

void *__libc_malloc(size_t size);

/* Read once; getenv and strtoull allocate nothing. */
static size_t failing_size(void) {
  static int read;
  static size_t size;
  if (!read) {
    const char *text = getenv("FAIL_MALLOC_SIZE");
    size = text != NULL ? (size_t)strtoull(text, NULL, 10) : 0;
    read = 1;
  }
  return size;
}

void *malloc(size_t size) {
  if (size != 0 && size == failing_size()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}
