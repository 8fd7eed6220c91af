#include "http/memory_block.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string contents(const MemoryBlock& block) {
  return std::string(reinterpret_cast<const char*>(block.dataAt(0)),
                     static_cast<size_t>(block.length()));
}

class MemoryBlockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(block.createHeader()); }
  void TearDown() override { block.release(); }
  MemoryBlock block;
};

TEST_F(MemoryBlockTest, FreshHeaderIsEmpty) {
  const MemoryBlockHeader* header = block.headerPointer();
  EXPECT_EQ(header->data, nullptr);
  EXPECT_EQ(header->length, 0);
  EXPECT_EQ(header->capacity, 0);
  EXPECT_FALSE(block.hasData());
  EXPECT_TRUE(block.toBytes().empty());
}

TEST_F(MemoryBlockTest, AppendsGrowExactlyAndKeepOrder) {
  block.append("abc", 3);
  block.append("defgh", 5);
  EXPECT_EQ(block.length(), 8);
  EXPECT_EQ(block.headerPointer()->capacity, 8);
  EXPECT_EQ(contents(block), "abcdefgh");
  block.append("zzz", 0);  // nothing
  EXPECT_EQ(contents(block), "abcdefgh");
  EXPECT_EQ(block.toBytes(), ByteBuffer("abcdefgh", 8));
}

TEST_F(MemoryBlockTest, SecondBlockOnSameHeaderSeesSameBytes) {
  MemoryBlock other(block.headerPointer());
  other.appendBytes(ByteBuffer("xy", 2));
  EXPECT_EQ(contents(block), "xy");
}

TEST_F(MemoryBlockTest, FreeDataEmptiesForTheNextRequest) {
  block.append("first", 5);
  block.freeData();
  EXPECT_FALSE(block.hasData());
  EXPECT_EQ(block.length(), 0);
  block.append("second", 6);
  EXPECT_EQ(contents(block), "second");
}

TEST_F(MemoryBlockTest, FreeDataWithoutDataLeavesLengthAndCapacity) {
  *block.headerPointer() = MemoryBlockHeader{nullptr, 4, 7};
  block.freeData();
  EXPECT_EQ(block.headerPointer()->length, 4);
  EXPECT_EQ(block.headerPointer()->capacity, 7);
  block.clearHeader();
}

TEST_F(MemoryBlockTest, ResizeRules) {
  block.append("0123456789", 10);
  void* original = block.dataAt(0);
  // Same length: nothing changes, but zeroFill clears the whole content.
  EXPECT_EQ(block.resize(10, false, true), original);
  EXPECT_EQ(contents(block), "0123456789");
  // Negative length: nothing changes.
  block.resize(-1, false, true);
  EXPECT_EQ(block.length(), 10);
  // 10 -> 6: 2*6 >= 10, the allocation stays and only the length changes.
  block.resize(6, false, true);
  EXPECT_EQ(block.length(), 6);
  EXPECT_EQ(block.headerPointer()->capacity, 10);
  EXPECT_EQ(contents(block), "012345");
  // 6 -> 3: 2*3 is not below the length 6, so the allocation stays too.
  block.resize(3, false, true);
  EXPECT_EQ(block.headerPointer()->capacity, 10);
  block.resize(10, true, true);
  EXPECT_EQ(block.length(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(block.dataAt(0)[i], 0) << i;
}

TEST_F(MemoryBlockTest, ShrinkReallocatesWhenTwiceTheLengthIsSmaller) {
  block.append("0123456789", 10);
  block.resize(3, false, true);
  EXPECT_EQ(block.length(), 3);
  EXPECT_EQ(block.headerPointer()->capacity, 6);
  EXPECT_EQ(contents(block), "012");
  block.resize(0, false, true);  // to nothing: no buffer at all
  EXPECT_EQ(block.length(), 0);
  EXPECT_FALSE(block.hasData());
}

TEST_F(MemoryBlockTest, AllocateReplacesTheContent) {
  block.append("abc", 3);
  ASSERT_NE(block.allocate(5, true), nullptr);
  EXPECT_EQ(block.length(), 5);
  EXPECT_EQ(std::string(5, '\0'), contents(block));
}

TEST(MemoryBlockWithoutHeader, EveryOperationDoesNothing) {
  MemoryBlock block;
  block.append("abc", 3);
  block.freeData();
  block.release();
  EXPECT_EQ(block.reallocate(4), nullptr);
  EXPECT_EQ(block.allocate(4), nullptr);
  EXPECT_EQ(block.dataAt(0), nullptr);
  EXPECT_EQ(block.length(), 0);
  EXPECT_FALSE(block.hasData());
  EXPECT_TRUE(block.toBytes().empty());
}

TEST(MemoryBlockCapacity, FollowsTheUnsignedRule) {
  EXPECT_EQ(MemoryBlock::capacityFor(8, 3), 8);    // growth: exactly n
  EXPECT_EQ(MemoryBlock::capacityFor(3, 10), 6);   // shrink: 2n
  EXPECT_EQ(MemoryBlock::capacityFor(6, 10), 10);  // shrink: current
  EXPECT_EQ(MemoryBlock::capacityFor(0, 10), 0);
  // 2n cut to 32 bits: for n = 2^31 - 1, 2n is 0xFFFFFFFE unsigned.
  EXPECT_EQ(MemoryBlock::capacityFor(INT32_MAX, 5), INT32_MAX);
}

// A growth the allocator refuses: the header is cleared, the old buffer is
// released rather than forgotten, and the block works on. The refusal comes
// from an address-space limit in a child process (the sanitizers reserve
// their own address space, so they cannot run under such a limit).
TEST(MemoryBlockFailedGrowth, LeavesTheBlockEmptyAndUsable) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "needs an address-space limit, which the sanitizers do not allow";
#else
  EXPECT_EXIT(
      {
        MemoryBlock block;
        if (!block.createHeader()) std::_Exit(10);
        block.append("abc", 3);
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = 512u << 20;  // far below the growth asked for
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(11);
        if (block.reallocate(INT32_MAX) != nullptr) std::_Exit(12);
        const MemoryBlockHeader* header = block.headerPointer();
        if (header->data != nullptr || header->length != 0 || header->capacity != 0) {
          std::_Exit(13);
        }
        block.append("de", 2);
        if (block.length() != 2 || std::memcmp(block.dataAt(0), "de", 2) != 0) std::_Exit(14);
        block.release();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
