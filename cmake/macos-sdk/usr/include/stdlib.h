/* Only because clang's <mm_malloc.h>, which <emmintrin.h> includes, includes
   it and declares its aligned allocation with these. The plug-in allocates
   no memory of its own. See string.h for what this folder is. */
#ifndef VESTREL_MACOS_SDK_STDLIB_H
#define VESTREL_MACOS_SDK_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* malloc(size_t size);
void free(void* block);
int posix_memalign(void** block, size_t alignment, size_t size);

#ifdef __cplusplus
}
#endif

#endif
