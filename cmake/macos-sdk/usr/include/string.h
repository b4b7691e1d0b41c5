/* The macOS C library's string functions that the plug-in calls, declared
   as libSystem exports them. Part of the folder that stands in for the SDK in
   the macos-cross configuration: it holds only what the plug-in's sources
   use, so that a new call shows up as a compile error here, and then as a
   new import to add to usr/lib/libSystem.tbd. */
#ifndef VESTREL_MACOS_SDK_STRING_H
#define VESTREL_MACOS_SDK_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* destination, const void* source, size_t size);
void* memmove(void* destination, const void* source, size_t size);
void* memset(void* destination, int value, size_t size);
int memcmp(const void* a, const void* b, size_t size);

#ifdef __cplusplus
}
#endif

#endif
