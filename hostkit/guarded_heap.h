// Memory that the host hands to the plug-in (the parameter block, the sample
// memory of 'MMAL', the info record), laid out so that a write past either end
// is caught:
//   - canary mode (every platform): a band of known bytes before and after each
//     allocation, checked when it is freed or resized and at the end of every
//     entry call;
//   - guard-page mode (POSIX): the allocation ends right before an inaccessible
//     page, so the first byte read or written past its end stops the process at
//     once with a message naming the allocation; the few bytes that rounding
//     leaves between the end and the page are checked as canaries.
#ifndef VESTREL_HOSTKIT_GUARDED_HEAP_H
#define VESTREL_HOSTKIT_GUARDED_HEAP_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace vhost {

enum class MemoryCheck { kCanary, kGuardPage };

// Whether guard pages are available on this platform.
bool GuardPagesAvailable();

class GuardedHeap {
 public:
  // Largest single allocation handed out; larger requests get null.
  static constexpr size_t kMaxAllocation = size_t(256) << 20;

  explicit GuardedHeap(MemoryCheck mode);
  ~GuardedHeap();
  GuardedHeap(const GuardedHeap&) = delete;
  GuardedHeap& operator=(const GuardedHeap&) = delete;

  MemoryCheck mode() const { return mode_; }

  // size bytes aligned to 16, or null when size is above kMaxAllocation or the
  // system has no memory. label names the allocation in reports.
  void* Allocate(size_t size, const std::string& label);
  // Frees a live allocation after checking its bands. Returns false, freeing
  // nothing, when p is not a live allocation of this heap. In guard-page mode
  // the memory stays mapped but inaccessible for a while, so that a plug-in
  // that goes on using an address after the host moved or freed the memory
  // is stopped with a message instead of scribbling over something else.
  bool Free(void* p);
  size_t SizeOf(const void* p) const;

  // Checks the bands of every live allocation. Each damage is reported once,
  // into the problems list.
  void CheckAll();
  // Damage found so far (by Free, CheckAll), oldest first; the list is emptied.
  std::vector<std::string> TakeProblems();

  size_t LiveCount() const { return blocks_.size(); }

 private:
  struct Block {
    size_t size = 0;
    std::string label;
    uint8_t* base = nullptr;  // start of what was obtained from the system
    size_t mappedSize = 0;    // guard-page mode: bytes mapped, guard page included
    uint8_t* frontBand = nullptr;
    size_t frontBandSize = 0;
    uint8_t* backBand = nullptr;
    size_t backBandSize = 0;
    bool damageReported = false;
    int guardSlot = -1;
  };

  bool AllocateCanary(size_t size, Block* block);
  bool AllocateGuarded(size_t size, Block* block);
  void Release(Block* block);
  void CheckBlock(void* data, Block* block);

  void Quarantine(Block* block);

  MemoryCheck mode_;
  std::map<void*, Block> blocks_;
  std::vector<Block> quarantine_;  // freed, inaccessible, oldest first
  std::vector<std::string> problems_;
};

}  // namespace vhost

#endif
