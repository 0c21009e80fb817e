#include "util/memory_platform.h"

#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace hcs {
namespace {

// A block about to be freed gives back the whole pages inside it; the bytes an allocator keeps its
// records in, the first 64 of the block and those right after its end, keep their contents.
TEST(ReleasePages, GivesBackWholePagesInsideAndKeepsTheEdges) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  // Where a block of ten pages starts, and the first page it may give back.
  for (const auto& [offset, first] : {std::pair{size_t{100}, size_t{1}}, {page - 64, 1}, {page - 63, 2}}) {
    auto* region = static_cast<unsigned char*>(
        mmap(nullptr, 12 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(region, MAP_FAILED);
    std::memset(region, 0xAB, 12 * page);
    unsigned char* block = region + offset;
    releasePages(block, 10 * page);

    std::vector<unsigned char> resident(12);
    ASSERT_EQ(mincore(region, 12 * page, resident.data()), 0);
    for (size_t i = 0; i < 12; ++i) {
      EXPECT_EQ(resident[i] & 1, i >= first && i < 10 ? 0 : 1) << "page " << i << " of block at " << offset;
    }
    EXPECT_EQ(std::vector<unsigned char>(block, block + 64), std::vector<unsigned char>(64, 0xAB));
    EXPECT_EQ(block[10 * page], 0xAB);
    munmap(region, 12 * page);
  }
}

}  // namespace
}  // namespace hcs
