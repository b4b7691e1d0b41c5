// The parameter block path: a stored block of any size and content goes
// through the fetch and repair of 'INIT', the reading of 'GENM', a capture by
// 'SETM' over it and 'GENM' again. Every block the host holds sits in memory
// of exactly its size, so the sanitizer stops any access outside it.
//
// Input: one byte of settings (bit 0 the 'XOLR' host, bits 1-3 the frame
// range, bit 7 a block even when the rest is empty), then the block's bytes.
#include <math.h>

#include "controldata/control_data.h"
#include "fuzz/fuzz_support.h"
#include "hostkit/block_codec.h"
#include "tests/support/test_host.h"

namespace {

using vhost::kBlockCountAt;
using vhost::kBlockHeaderSize;
using vhost::kBlockMinSize;

constexpr uint32_t kSwappedMagic = 0x4E494C41;  // 'ALIN' read in the other byte order

uint32_t MagicOf(const std::vector<uint8_t>& block) {
  uint32_t magic = 0;
  if (block.size() >= 4) memcpy(&magic, block.data(), 4);
  return magic;
}

int32_t CountOf(const std::vector<uint8_t>& block) {
  int32_t count;
  memcpy(&count, block.data() + kBlockCountAt, 4);
  return count;
}

bool SameBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t from,
               size_t to) {
  return a.size() >= to && b.size() >= to &&
         memcmp(a.data() + from, b.data() + from, to - from) == 0;
}

// After a fetch the block is native, holds its count, and kept what the
// repair does not touch.
void CheckFetched(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& now) {
  FUZZ_REQUIRE(now.size() >= kBlockMinSize, "the instance has a block of at least 52 bytes");
  FUZZ_REQUIRE(MagicOf(now) == kControlDataMagic, "the block is in this machine's byte order");
  const int32_t count = CountOf(now);
  FUZZ_REQUIRE(count >= 0 && count <= CControlData::Capacity(static_cast<int32_t>(now.size())),
               "the count fits the block");
  if (stored.size() < kBlockMinSize) return;  // replaced by a new block
  FUZZ_REQUIRE(now.size() == stored.size(), "a valid block keeps its size");
  FUZZ_REQUIRE(SameBytes(stored, now, 16, kBlockCountAt), "the reserved bytes are never touched");
  // The host's own model of the repair, byte for byte: the count bounded, a
  // foreign block's fields and the points it holds turned, defaults otherwise.
  FUZZ_REQUIRE(now == vhost::ExpectedRepair(stored), "the fetch repairs the block as designed");
  if (MagicOf(stored) == kControlDataMagic) {
    FUZZ_REQUIRE(SameBytes(stored, now, 0, kBlockCountAt) &&
                     SameBytes(stored, now, kBlockHeaderSize, stored.size()),
                 "a native block keeps its bytes");
  } else if (MagicOf(stored) != kSwappedMagic) {
    FUZZ_REQUIRE(SameBytes(stored, now, kBlockHeaderSize, stored.size()),
                 "defaults leave the point area alone");
    FUZZ_REQUIRE(count == 0, "defaults have no points");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t settings = input.Take<uint8_t>();
  const std::vector<uint8_t> stored = input.Bytes(1 << 20);

  TestHost host;
  host.creatorCode = (settings & 1) != 0 ? kCreatorXolr : FourCC("TEST");
  host.firstFrame = -3;
  host.lastFrame = -3 + ((settings >> 1) & 7) * 3;
  host.motion = [](uintptr_t, int32_t frame) {
    return Position{double(frame % 3), double(frame / 4), 0.5 * frame};
  };
  if (!stored.empty() || (settings & 0x80) != 0) host.SetBlock(stored);

  host.Send(kSelectorInit);
  std::vector<uint8_t> fetched = host.BlockBytes();
  CheckFetched(stored, fetched);

  host.ClearCalls();
  host.Send(kSelectorGenerate);
  const int32_t count = CountOf(fetched);
  const size_t vertices = host.CallsOf(kSelectorAddVertex).size();
  FUZZ_REQUIRE(vertices == size_t(count >= 2 ? count : 0),
               "'GENM' sends one vertex per stored point");
  FUZZ_REQUIRE(host.BlockBytes() == fetched, "'GENM' does not change the block");

  host.Send(kSelectorSetup);
  host.Send(kSelectorGenerate);
  std::vector<uint8_t> last = host.BlockBytes();
  FUZZ_REQUIRE(MagicOf(last) == kControlDataMagic, "the block stays native");
  FUZZ_REQUIRE(CountOf(last) >= 0 &&
                   CountOf(last) <= CControlData::Capacity(static_cast<int32_t>(last.size())),
               "the count fits the block");
  FUZZ_REQUIRE(host.outstandingMemory() == 0, "'SETM' returns its sample memory");
  FUZZ_REQUIRE(host.violations.empty(), "the host saw no protocol violation");
  return 0;
}
