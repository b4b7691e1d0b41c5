// The plug-in never takes heap memory of its own: everything it needs lives on
// its stack, in the parameter block and in the sample array, both of which the
// host allocates ('ALOC', 'MMAL').
//
// This program replaces the process's allocator with a counting one: global
// operator new and delete everywhere, and on glibc also malloc, calloc,
// realloc, free and the aligned allocations, forwarded to glibc's own
// __libc_ functions, so that an allocation made by the C library on the
// plug-in's behalf (a formatted print, a scan) counts too. (Under
// AddressSanitizer, which brings its own allocator, only operator new and
// delete are counted, on top of the sanitizer's.) Counting is on only
// while the entry runs, and off again inside the host's callback and the
// host's dialog functions: what the host allocates while serving the plug-in
// is the host's business.
#include <ctype.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "host/entry.h"
#include "host/host_functions_detail.h"
#include "host/info_record.h"
#include "tests/support/test_host.h"

// ---------------------------------------------------------------------------
// The counting allocator.

namespace {

bool counting = false;
long heapOperations = 0;

void Note() {
  if (counting) ++heapOperations;
}

// Pauses the count for the lifetime of the object (inside the host).
class HostSide {
 public:
  HostSide() : was_(counting) { counting = false; }
  ~HostSide() { counting = was_; }

 private:
  bool was_;
};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define VESTREL_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define VESTREL_SANITIZER_ALLOCATOR 1
#endif
#endif

#if defined(__GLIBC__) && !defined(VESTREL_SANITIZER_ALLOCATOR)
#define VESTREL_COUNT_MALLOC 1
#endif

#if VESTREL_COUNT_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* memory);

void* malloc(size_t size) {
  Note();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Note();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) {
  Note();
  return __libc_realloc(memory, size);
}
void* memalign(size_t alignment, size_t size) {
  Note();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  Note();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** memory, size_t alignment, size_t size) {
  Note();
  *memory = __libc_memalign(alignment, size);
  return *memory == nullptr && size != 0 ? ENOMEM : 0;
}
void free(void* memory) {
  if (memory != nullptr) Note();
  __libc_free(memory);
}
}

namespace {
void* UncountedAllocate(size_t size) { return __libc_malloc(size == 0 ? 1 : size); }
void UncountedFree(void* memory) { __libc_free(memory); }
}  // namespace
#else
namespace {
void* UncountedAllocate(size_t size) { return malloc(size == 0 ? 1 : size); }
void UncountedFree(void* memory) { free(memory); }
}  // namespace
#endif

void* operator new(size_t size) {
  Note();
  void* memory = UncountedAllocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  Note();
  return UncountedAllocate(size);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
  if (memory != nullptr) Note();
  UncountedFree(memory);
}
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete(void* memory, size_t) noexcept { operator delete(memory); }
void operator delete[](void* memory, size_t) noexcept { operator delete(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }

namespace {

// ---------------------------------------------------------------------------
// The host side: the test host's callback and a dialog that needs no memory.

int32_t UncountedCallback(uint32_t selector, int32_t size, void* record) {
  HostSide host;
  return TestHost::Callback(selector, size, record);
}

// The host's dialog: controls 3 (angle text), 4 and 5 (flags), accepted as shown.
struct Control {
  int32_t value;
  char text[64];
};
Control dialogControls[6];
int dialogToken;  // its address stands for every reference the host hands out

void* Token() { return &dialogToken; }

void* GetHomeDirectory() {
  HostSide host;
  return Token();
}
void* MakeFileRef(void*, const char*, uint32_t, const char*) {
  HostSide host;
  return Token();
}
void DestroyReference(void*) {}
void* OpenResourceFile(void*) {
  HostSide host;
  return Token();
}
void* MakeDialog(void*, int32_t) {
  HostSide host;
  return Token();
}
void SetDialogTitle(void*, const char*) {}
int32_t ExecuteDialog(void*) { return 1; }
void* FindControlByID(void*, int32_t id) {
  return id >= 3 && id <= 5 ? &dialogControls[id] : nullptr;
}
int32_t GetControlValue(void* control) { return static_cast<Control*>(control)->value; }
void SetControlValue(void* control, int32_t value) {
  static_cast<Control*>(control)->value = value;
}
int32_t GetEditTextStringSize(void* control) {
  return static_cast<int32_t>(strlen(static_cast<Control*>(control)->text));
}
void GetEditTextString(void* control, char* buffer, int32_t* length) {
  HostSide host;
  if (*length <= 0) return;
  snprintf(buffer, static_cast<size_t>(*length), "%s", static_cast<Control*>(control)->text);
}
void SetEditTextString(void* control, const char* text) {
  HostSide host;
  snprintf(static_cast<Control*>(control)->text, sizeof dialogControls[0].text, "%s", text);
}

struct NamedFunction {
  const char* name;
  void* address;
};

template <typename Function>
void* Address(Function function) {
  return reinterpret_cast<void*>(function);
}

void* LookUpDialogHost(const char* name) {
  static const NamedFunction functions[] = {
      {vhost::kOrvoGetHomeDirectory, Address(&GetHomeDirectory)},
      {vhost::kOrvoMakeFileRef, Address(&MakeFileRef)},
      {vhost::kOrvoDestroyFileRef, Address(&DestroyReference)},
      {vhost::kOrvoDestroyDirectoryRef, Address(&DestroyReference)},
      {vhost::kOrvoOpenResourceFile, Address(&OpenResourceFile)},
      {vhost::kOrvoCloseResourceFile, Address(&DestroyReference)},
      {vhost::kOrvoMakeDialog, Address(&MakeDialog)},
      {vhost::kOrvoSetDialogTitle, Address(&SetDialogTitle)},
      {vhost::kOrvoExecuteDialog, Address(&ExecuteDialog)},
      {vhost::kOrvoDestroyDialog, Address(&DestroyReference)},
      {vhost::kOrvoFindControlByID, Address(&FindControlByID)},
      {vhost::kOrvoGetControlValue, Address(&GetControlValue)},
      {vhost::kOrvoSetControlValue, Address(&SetControlValue)},
      {vhost::kOrvoGetEditTextStringSize, Address(&GetEditTextStringSize)},
      {vhost::kOrvoGetEditTextString, Address(&GetEditTextString)},
      {vhost::kOrvoSetEditTextString, Address(&SetEditTextString)},
  };
  for (const NamedFunction& function : functions) {
    if (strcmp(function.name, name) == 0) return function.address;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------

// The plug-in's entry with the count running: what the host does around the
// call is not the plug-in's.
int32_t CountedMain(uint32_t selector, void* unused, HostInfoRec* info) {
  counting = true;
  int32_t result = Main(selector, unused, info);
  counting = false;
  return result;
}

// Sends the selector and returns how many heap operations the plug-in made.
long HeapOperationsOf(TestHost& host, uint32_t selector, int32_t* result) {
  host.WrapCallback(&UncountedCallback);
  heapOperations = 0;
  *result = host.SendTo(&CountedMain, selector);
  return heapOperations;
}

struct Case {
  const char* name;
  std::function<void(TestHost&)> prepare;
  uint32_t selector;
  uint32_t hostCallMade;  // a call that shows the case did its work; 0 for none
};

Position Wander(uintptr_t, int32_t frame) {
  double t = 0.05 * frame;
  return Position{10.0 * std::cos(t), 10.0 * std::sin(t),
                  0.3 * frame + (frame % 7 == 0 ? 1.0 : 0.0)};
}

std::vector<Fxyzu> StoredPath() {
  std::vector<Fxyzu> points;
  for (int k = 0; k < 50; ++k)
    points.push_back(Fxyzu{float(k), float(k * k % 11), 0.5f * k, float(k)});
  return points;
}

// The block as a machine of the other byte order wrote it.
std::vector<uint8_t> ForeignBlock() {
  std::vector<uint8_t> bytes = TestHost::MakeBlock(5.0f, 0, 1, StoredPath());
  for (size_t at = 0; at + 4 <= bytes.size(); at += 4) ReverseField(&bytes[at], 4);
  return bytes;
}

const Case kCases[] = {
    {"INFO", [](TestHost&) {}, kSelectorInfo, 0},
    {"INIT of a new instance", [](TestHost& host) { host.RemoveBlock(); }, kSelectorInit,
     kSelectorAllocate},
    {"INIT of a stored block", [](TestHost& host) { host.SetBlock(ForeignBlock()); }, kSelectorInit,
     kSelectorCreator},
    {"SETM capturing 2000 frames",
     [](TestHost& host) {
       host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));
       host.firstFrame = -20;
       host.lastFrame = 1979;
       host.motion = &Wander;
     },
     kSelectorSetup, kSelectorReset},
    {"SETM of a frozen path",
     [](TestHost& host) { host.SetBlock(TestHost::MakeBlock(5.0f, 1, 0, StoredPath())); },
     kSelectorSetup, 0},
    {"GENM", [](TestHost& host) { host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, StoredPath())); },
     kSelectorGenerate, kSelectorAddFace},
    {"GENM reversed, for the XOLR host",
     [](TestHost& host) {
       host.SetBlock(TestHost::MakeBlock(5.0f, 0, 1, StoredPath()));
       host.creatorCode = FourCC("XOLR");
       host.Send(kSelectorInit);
     },
     kSelectorGenerate, kSelectorDeleteGroup},
    {"INTF accepted", [](TestHost& host) { host.SetBlock(TestHost::MakeBlock(12.5f, 1, 0, {})); },
     kSelectorInterface, kSelectorReset},
};

class NoAllocation : public ::testing::TestWithParam<Case> {};

TEST_P(NoAllocation, EntryMakesNoHeapOperation) {
  const Case& c = GetParam();
  HostSymbolLookup previous = ReplaceHostSymbolLookup(&LookUpDialogHost);
  ForgetHostFunctions();
  TestHost().Send(kSelectorInit);  // an ordinary creator code, whatever ran before
  TestHost host;
  c.prepare(host);
  host.ClearCalls();

  int32_t result = -1;
  EXPECT_EQ(HeapOperationsOf(host, c.selector, &result), 0);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(host.violations.empty());
  if (c.hostCallMade != 0) {
    EXPECT_FALSE(host.CallsOf(c.hostCallMade).empty()) << "the case did not do its work";
  }

  ReplaceHostSymbolLookup(previous);
  ForgetHostFunctions();
}

INSTANTIATE_TEST_SUITE_P(Selectors, NoAllocation, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != '\0'; ++c) {
                             name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

// The counter itself must see what it is meant to see, or the test above
// proves nothing.
void* volatile sink;  // keeps the compiler from leaving out an allocation

TEST(CountingAllocator, SeesNewAndMalloc) {
  heapOperations = 0;
  counting = true;
  int* value = new int(7);
  sink = value;
  void* bytes = malloc(16);
  sink = bytes;
  counting = false;
  free(bytes);
  delete value;
#if VESTREL_COUNT_MALLOC
  EXPECT_EQ(heapOperations, 2);
#else
  EXPECT_GE(heapOperations, 1);
#endif
}

}  // namespace
