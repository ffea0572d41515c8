// The block-growing vector: elements stay where they are while it grows,
// indices cross blocks, copies are deep.
#include "support/chunked_vector.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using velkor::library::chunked_vector_t;

TEST(ChunkedVector, ElementsNeverMove) {
  chunked_vector_t<int, 2> v;  // blocks of four
  std::vector<const int*> places;
  for (int i = 0; i < 30; ++i) {
    v.push_back(i);
    places.push_back(&v.back());
  }
  ASSERT_EQ(v.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(&v[i], places[i]) << i;
    EXPECT_EQ(v[i], i);
  }

  chunked_vector_t<int, 2> copy = v;
  copy[5] = 50;
  EXPECT_EQ(v[5], 5);
  EXPECT_EQ(copy[5], 50);
  EXPECT_EQ(copy.size(), 30u);
  chunked_vector_t<int, 2> assigned;
  assigned.push_back(1);
  assigned = copy;
  EXPECT_EQ(assigned.size(), 30u);
  EXPECT_EQ(assigned[5], 50);
  EXPECT_EQ(assigned[29], 29);

  v.clear();
  EXPECT_TRUE(v.empty());
  v.push_back(7);
  EXPECT_EQ(v[0], 7);
}

}  // namespace
