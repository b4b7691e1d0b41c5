// The plug-in's one exported function.
#ifndef VESTREL_HOST_ENTRY_H
#define VESTREL_HOST_ENTRY_H

#include <stdint.h>

#include "host/info_record.h"

#if defined(_WIN32)
// Windows builds export the entry as "main" through the module-definition file.
#define VESTREL_ENTRY_EXPORT
#else
#define VESTREL_ENTRY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// The entry. The host calls it, one call at a time on its own thread, with a
// selector, a pointer-sized value that the plug-in ignores, and the info record
// of this call (valid until the call returns). Returns the result code: 0 for
// success, 4 when the user cancelled the dialog, 6 when the resource file or
// the dialog could not be had, otherwise the error of the host call that
// failed last. Unknown selectors do nothing and return 0.
VESTREL_ENTRY_EXPORT int32_t Main(uint32_t selector, void* unused, HostInfoRec* info);
}

#endif
