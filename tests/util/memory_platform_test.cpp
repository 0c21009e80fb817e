#include "util/memory_platform.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace hcs {
namespace {

// A block about to be freed gives back the whole pages inside it; the bytes an allocator keeps its
// records in, at the start of the block and right after its end, keep their contents.
TEST(ReleasePages, GivesBackWholePagesInsideAndKeepsTheEdges) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  constexpr size_t kPages = 12;
  auto* region = static_cast<unsigned char*>(
      mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(region, MAP_FAILED);
  std::memset(region, 0xAB, kPages * page);

  // A block starting 100 bytes into the first page and ending 100 bytes into page 10.
  unsigned char* block = region + 100;
  releasePages(block, 10 * page);

  std::vector<unsigned char> resident(kPages);
  ASSERT_EQ(mincore(region, kPages * page, resident.data()), 0);
  for (size_t i = 0; i < kPages; ++i) {
    EXPECT_EQ(resident[i] & 1, i == 0 || i >= 10 ? 1 : 0) << "page " << i;
  }
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0xAB) << i;
  EXPECT_EQ(block[10 * page], 0xAB);
  munmap(region, kPages * page);
}

}  // namespace
}  // namespace hcs
