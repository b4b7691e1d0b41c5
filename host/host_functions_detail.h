// Internals of the host function binding, for the tests only.
//
// The cache of found addresses is process-wide and a found address is never
// looked up again, so a test that needs a fresh lookup, or a host function
// that is missing, goes through these: it replaces the name lookup with its
// own (which may count names and refuse some) and forgets what was found.
// The shipped plug-in never calls them.
#ifndef VESTREL_HOST_HOST_FUNCTIONS_DETAIL_H
#define VESTREL_HOST_HOST_FUNCTIONS_DETAIL_H

// Finds an exported function of the running process by its plain name; null
// when there is none.
typedef void* (*HostSymbolLookup)(const char* name);

// The process's own lookup: GetProcAddress on the main executable in the
// Windows builds, dlsym(RTLD_DEFAULT) elsewhere.
void* LookUpInProcess(const char* name);

// Makes lookup the one the forwarding functions use and returns the one used
// before. Addresses already found stay cached.
HostSymbolLookup ReplaceHostSymbolLookup(HostSymbolLookup lookup);

// Empties every cache slot, so that each function is looked up again on its
// next call.
void ForgetHostFunctions();

#endif
