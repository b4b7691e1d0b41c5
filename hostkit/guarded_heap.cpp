#include "hostkit/guarded_heap.h"

#include <string.h>

#include <cstdlib>
#include <sstream>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#define VHOST_HAVE_GUARD_PAGES 1
#else
#define VHOST_HAVE_GUARD_PAGES 0
#endif

namespace vhost {

namespace {

constexpr uint8_t kBandByte = 0xFD;
constexpr size_t kFrontBand = 16;
constexpr size_t kBackBand = 32;  // canary mode

size_t CountChanged(const uint8_t* band, size_t size) {
  size_t changed = 0;
  for (size_t i = 0; i < size; ++i) changed += band[i] != kBandByte;
  return changed;
}

#if VHOST_HAVE_GUARD_PAGES
size_t RoundUp(size_t value, size_t step) { return (value + step - 1) / step * step; }

// The guard pages of live allocations, for the fault handler. A fixed table
// because the handler may read nothing that allocates or locks.
struct GuardSlot {
  volatile uintptr_t start = 0;  // first inaccessible byte; 0 for a free slot
  volatile uintptr_t end = 0;
  volatile uintptr_t dataStart = 0;
  volatile bool freed = false;  // the whole allocation was freed
  char label[64] = {};
};
constexpr size_t kQuarantined = 512;
constexpr int kGuardSlots = 4096;
GuardSlot guardSlots[kGuardSlots];
bool handlerInstalled = false;
struct sigaction previousSegv;
struct sigaction previousBus;

void WriteText(const char* text) {
  ssize_t ignored = write(2, text, strlen(text));
  (void)ignored;
}

void WriteNumber(uintptr_t value) {
  char digits[32];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 31);
  char text[32];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  text[n] = 0;
  WriteText(text);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (const GuardSlot& slot : guardSlots) {
    if (slot.start != 0 && address >= slot.start && address < slot.end && slot.freed) {
      WriteText("vestrel-host: VIOLATION: the plug-in touched the ");
      WriteText(slot.label);
      WriteText(" after the host had moved or freed it (byte ");
      WriteNumber(address - slot.dataStart);
      WriteText("); stopping\n");
      _exit(3);
    }
    if (slot.start != 0 && address >= slot.start && address < slot.end) {
      WriteText("vestrel-host: OVERRUN: the plug-in touched memory past the end of the ");
      WriteText(slot.label);
      WriteText(" (byte ");
      WriteNumber(address - slot.dataStart);
      WriteText(" of an allocation that ends at byte ");
      WriteNumber(slot.start - slot.dataStart);
      WriteText(", rounded up to 16); stopping\n");
      _exit(3);
    }
  }
  // Not one of ours: let the previous disposition deal with it.
  struct sigaction& previous = signal == SIGSEGV ? previousSegv : previousBus;
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
    return;
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallFaultHandler() {
  if (handlerInstalled) return;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = &OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &previousSegv);
  sigaction(SIGBUS, &action, &previousBus);
  handlerInstalled = true;
}

int TakeGuardSlot(uintptr_t start, uintptr_t end, uintptr_t dataStart, const std::string& label) {
  for (int i = 0; i < kGuardSlots; ++i) {
    GuardSlot& slot = guardSlots[i];
    if (slot.start != 0) continue;
    size_t n = label.size() < sizeof slot.label - 1 ? label.size() : sizeof slot.label - 1;
    memcpy(slot.label, label.data(), n);
    slot.label[n] = 0;
    slot.end = end;
    slot.dataStart = dataStart;
    slot.freed = false;
    slot.start = start;
    return i;
  }
  return -1;  // no slot: the page still guards, the message is the system's
}
#endif

}  // namespace

bool GuardPagesAvailable() { return VHOST_HAVE_GUARD_PAGES != 0; }

GuardedHeap::GuardedHeap(MemoryCheck mode)
    : mode_(GuardPagesAvailable() ? mode : MemoryCheck::kCanary) {
#if VHOST_HAVE_GUARD_PAGES
  if (mode_ == MemoryCheck::kGuardPage) InstallFaultHandler();
#endif
}

GuardedHeap::~GuardedHeap() {
  for (auto& entry : blocks_) Release(&entry.second);
  for (Block& block : quarantine_) Release(&block);
}

void* GuardedHeap::Allocate(size_t size, const std::string& label) {
  if (size > kMaxAllocation) return nullptr;
  Block block;
  block.size = size;
  block.label = label;
  bool ok = mode_ == MemoryCheck::kGuardPage ? AllocateGuarded(size, &block)
                                             : AllocateCanary(size, &block);
  if (!ok) return nullptr;
  void* data = block.frontBand + block.frontBandSize;
  blocks_[data] = block;
  return data;
}

bool GuardedHeap::AllocateCanary(size_t size, Block* block) {
  size_t total = kFrontBand + size + kBackBand;
  auto* base = static_cast<uint8_t*>(malloc(total));
  if (base == nullptr) return false;
  memset(base, kBandByte, total);
  memset(base + kFrontBand, 0, size);
  block->base = base;
  block->frontBand = base;
  block->frontBandSize = kFrontBand;
  block->backBand = base + kFrontBand + size;
  block->backBandSize = kBackBand;
  return true;
}

bool GuardedHeap::AllocateGuarded(size_t size, Block* block) {
#if VHOST_HAVE_GUARD_PAGES
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t span = RoundUp(size == 0 ? 1 : size, 16);
  size_t dataPages = RoundUp(kFrontBand + span, page);
  size_t mapped = dataPages + page;
  void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return false;
  auto* bytes = static_cast<uint8_t*>(base);
  if (mprotect(bytes + dataPages, page, PROT_NONE) != 0) {
    munmap(base, mapped);
    return false;
  }
  uint8_t* data = bytes + dataPages - span;
  block->base = bytes;
  block->mappedSize = mapped;
  block->frontBand = data - kFrontBand;
  block->frontBandSize = kFrontBand;
  block->backBand = data + size;
  block->backBandSize = span - size;
  memset(block->frontBand, kBandByte, kFrontBand);
  memset(data, 0, size);
  memset(block->backBand, kBandByte, block->backBandSize);
  block->guardSlot = TakeGuardSlot(reinterpret_cast<uintptr_t>(bytes + dataPages),
                                   reinterpret_cast<uintptr_t>(bytes + mapped),
                                   reinterpret_cast<uintptr_t>(data), block->label);
  return true;
#else
  (void)size;
  (void)block;
  return false;
#endif
}

void GuardedHeap::Release(Block* block) {
#if VHOST_HAVE_GUARD_PAGES
  if (block->mappedSize != 0) {
    if (block->guardSlot >= 0) guardSlots[block->guardSlot].start = 0;
    munmap(block->base, block->mappedSize);
    return;
  }
#endif
  free(block->base);
}

void GuardedHeap::CheckBlock(void* data, Block* block) {
  if (block->damageReported) return;
  size_t before = CountChanged(block->frontBand, block->frontBandSize);
  size_t after = CountChanged(block->backBand, block->backBandSize);
  if (before == 0 && after == 0) return;
  block->damageReported = true;
  std::ostringstream text;
  text << "OVERRUN: the " << block->label << " (" << block->size << " bytes at " << data
       << ") was written ";
  if (after != 0)
    text << "past its end (" << after << " of the " << block->backBandSize
         << " bytes after it changed)";
  if (after != 0 && before != 0) text << " and ";
  if (before != 0)
    text << "before its start (" << before << " of the " << block->frontBandSize
         << " bytes before it changed)";
  problems_.push_back(text.str());
}

bool GuardedHeap::Free(void* p) {
  auto it = blocks_.find(p);
  if (it == blocks_.end()) return false;
  CheckBlock(p, &it->second);
  if (it->second.mappedSize != 0) {
    Quarantine(&it->second);
  } else {
    Release(&it->second);
  }
  blocks_.erase(it);
  return true;
}

void GuardedHeap::Quarantine(Block* block) {
#if VHOST_HAVE_GUARD_PAGES
  mprotect(block->base, block->mappedSize, PROT_NONE);
  if (block->guardSlot >= 0) {
    GuardSlot& slot = guardSlots[block->guardSlot];
    slot.start = 0;
    slot.end = reinterpret_cast<uintptr_t>(block->base + block->mappedSize);
    slot.freed = true;
    slot.start = reinterpret_cast<uintptr_t>(block->base);
  }
  quarantine_.push_back(*block);
  if (quarantine_.size() > kQuarantined) {
    Release(&quarantine_.front());
    quarantine_.erase(quarantine_.begin());
  }
#else
  Release(block);
#endif
}

size_t GuardedHeap::SizeOf(const void* p) const {
  auto it = blocks_.find(const_cast<void*>(p));
  return it == blocks_.end() ? 0 : it->second.size;
}

void GuardedHeap::CheckAll() {
  for (auto& entry : blocks_) CheckBlock(entry.first, &entry.second);
}

std::vector<std::string> GuardedHeap::TakeProblems() {
  std::vector<std::string> taken;
  taken.swap(problems_);
  return taken;
}

}  // namespace vhost
