#include "hostkit/guarded_heap.h"

#include <string.h>

#include <gtest/gtest.h>

namespace vhost {
namespace {

class GuardedMemoryTest : public testing::TestWithParam<MemoryCheck> {};

TEST_P(GuardedMemoryTest, UntouchedAllocationsFreeCleanly) {
  GuardedHeap heap(GetParam());
  void* p = heap.Allocate(52, "parameter block");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  memset(p, 0x77, 52);
  EXPECT_EQ(heap.SizeOf(p), 52u);
  EXPECT_TRUE(heap.Free(p));
  EXPECT_TRUE(heap.TakeProblems().empty());
  EXPECT_FALSE(heap.Free(p));  // not live any more
}

TEST_P(GuardedMemoryTest, WriteJustPastTheEndIsReportedOnFree) {
  GuardedHeap heap(GetParam());
  auto* p = static_cast<uint8_t*>(heap.Allocate(52, "parameter block"));
  p[52] = 1;
  heap.Free(p);
  std::vector<std::string> problems = heap.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("parameter block (52 bytes"), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("past its end"), std::string::npos) << problems[0];
}

TEST_P(GuardedMemoryTest, WriteBeforeTheStartIsReportedByTheCheckOnce) {
  GuardedHeap heap(GetParam());
  auto* p = static_cast<uint8_t*>(heap.Allocate(100, "sample memory"));
  p[-1] = 1;
  heap.CheckAll();
  heap.CheckAll();
  std::vector<std::string> problems = heap.TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("before its start"), std::string::npos) << problems[0];
  heap.Free(p);
  EXPECT_TRUE(heap.TakeProblems().empty());
}

TEST_P(GuardedMemoryTest, RequestsAboveTheLimitGetNothing) {
  GuardedHeap heap(GetParam());
  EXPECT_EQ(heap.Allocate(GuardedHeap::kMaxAllocation + 1, "huge"), nullptr);
  EXPECT_EQ(heap.LiveCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, GuardedMemoryTest,
                         testing::Values(MemoryCheck::kCanary, MemoryCheck::kGuardPage),
                         [](const testing::TestParamInfo<MemoryCheck>& info) {
                           return info.param == MemoryCheck::kCanary ? "Canary" : "GuardPage";
                         });

#if !defined(_WIN32)
TEST(GuardPageDeathTest, TouchingPastTheEndStopsAtOnceNamingTheAllocation) {
  EXPECT_EXIT(
      {
        GuardedHeap heap(MemoryCheck::kGuardPage);
        auto* p = static_cast<volatile uint8_t*>(heap.Allocate(52, "parameter block"));
        p[64 + 100] = 1;
      },
      testing::ExitedWithCode(3),
      "OVERRUN: the plug-in touched memory past the end of the parameter block");
}

TEST(GuardPageDeathTest, TouchingFreedMemoryStopsAtOnce) {
  EXPECT_EXIT(
      {
        GuardedHeap heap(MemoryCheck::kGuardPage);
        auto* p = static_cast<volatile uint8_t*>(heap.Allocate(52, "parameter block"));
        heap.Free(const_cast<uint8_t*>(p));
        p[0] = 1;
      },
      testing::ExitedWithCode(3),
      "touched the parameter block after the host had moved or freed it");
}
#endif

}  // namespace
}  // namespace vhost
