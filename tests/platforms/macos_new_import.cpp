// A bundle that imports one C library function the plug-in does not
// (strlen): linked against the system library's stub, it must fail, which is
// what keeps the stub a list of exactly the plug-in's imports.
extern "C" unsigned long strlen(const char* text);

extern "C" __attribute__((visibility("default"))) int Main(const char* text) {
  return static_cast<int>(strlen(text));
}
