/* The macOS dynamic loader's lookup, with which the plug-in finds the host's
   functions. On macOS RTLD_DEFAULT is the handle -2, not glibc's null
   pointer. See string.h for what this folder is. */
#ifndef VESTREL_MACOS_SDK_DLFCN_H
#define VESTREL_MACOS_SDK_DLFCN_H

#ifdef __cplusplus
extern "C" {
#endif

void* dlsym(void* handle, const char* name);

#define RTLD_DEFAULT ((void*)-2)

#ifdef __cplusplus
}
#endif

#endif
