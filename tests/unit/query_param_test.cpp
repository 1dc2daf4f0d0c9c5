// Parameters handed to a query stay the caller's; memory blocks go out in pieces.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "vela/odbc/query.h"
#include "vela/odbc/query_data_file.h"

using namespace vela;
using namespace vela::odbc;

TEST(QueryParams, AQueryNeverExecutedLeavesItsParametersAlone) {
  std::vector<unsigned char> bytes{1, 2, 3};
  query_memory_uploader on_stack(&bytes);
  auto on_heap = std::make_unique<query_file_uploader>(L"/nonexistent/file");
  {
    query q(nullptr, L"insert into t values(?, ?)");
    (void)q.add_param(&on_stack);
    (void)q.add_param(on_heap.get());
  }  // destroyed with both parameters still listed
  // Both are still whole and usable.
  chunk_buffer chunk;
  EXPECT_EQ(on_stack.next_chunk(chunk).code(), 0u);
  EXPECT_EQ(chunk, bytes);
  EXPECT_EQ(on_heap->path(), L"/nonexistent/file");
  {
    query again(nullptr, L"x");
    (void)again.add_param(&on_stack);
    EXPECT_EQ(again.Free().code(), 1u);  // no statement: nothing freed, nothing deleted
  }
  EXPECT_EQ(on_stack.data_size(), 3u);
}

TEST(QueryParams, MemoryBlockInOnePieceOrInPiecesOfTheChunkSize) {
  std::vector<unsigned char> bytes(2500);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  query_memory_uploader whole(&bytes);
  chunk_buffer chunk;
  EXPECT_EQ(whole.next_chunk(chunk).code(), 0u);
  EXPECT_EQ(chunk, bytes);

  query_memory_uploader pieces(&bytes);
  pieces.set_chunk_size(1000);
  std::vector<unsigned char> sent;
  std::vector<size_t> sizes;
  for (int round = 0; round < 2; ++round) {  // a second execution starts from the beginning
    sent.clear();
    sizes.clear();
    result r;
    do {
      r = pieces.next_chunk(chunk);
      sizes.push_back(chunk.size());
      sent.insert(sent.end(), chunk.begin(), chunk.end());
    } while (r.code() == more_data);
    EXPECT_EQ(r.code(), 0u);
    EXPECT_EQ(sizes, (std::vector<size_t>{1000, 1000, 500}));
    EXPECT_EQ(sent, bytes);
  }

  std::vector<unsigned char> empty;
  query_memory_uploader none(&empty);
  none.set_chunk_size(1000);
  EXPECT_EQ(none.next_chunk(chunk).code(), 0u);
  EXPECT_TRUE(chunk.empty());
}
