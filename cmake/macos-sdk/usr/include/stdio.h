/* The macOS C library's formatted text functions that the plug-in calls (the
   dialog's number fields). See string.h for what this folder is. */
#ifndef VESTREL_MACOS_SDK_STDIO_H
#define VESTREL_MACOS_SDK_STDIO_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int snprintf(char* buffer, size_t size, const char* format, ...)
    __attribute__((__format__(__printf__, 3, 4)));
int sscanf(const char* text, const char* format, ...) __attribute__((__format__(__scanf__, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif
