// Parameters handed to a query stay the caller's; memory blocks go out in pieces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vela/odbc/query.h"
#include "vela/odbc/query_data_file.h"
#include "vela/odbc/types.h"

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

// A floating-point value the driver gave as text prints as the same value fetched as a double
// would; text that is not a number as a whole is left to the caller.
TEST(FloatText, TextReadsAsTheDoubleItNames) {
  struct {
    const char* text;
    int32_t sql_type;
    const char* shown;  // nullptr: not a number
  } const cases[] = {
      {"1.25", 8, "1.25"},         {"3.0", 8, "3"},
      {"0.1", 8, "0.1"},           {"0.30000000000000004", 8, "0.30000000000000004"},
      {"1e+20", 8, "1e+20"},       {"-0", 8, "-0"},
      {"Infinity", 8, "Infinity"}, {"-Infinity", 8, "-Infinity"},
      {"NaN", 8, "NaN"},           {"3.4028234663852886e+38", 7, "3.4028235e+38"},
      {"abc", 8, nullptr},         {"1.5abc", 8, nullptr},
      {"", 8, nullptr},            {"1e999", 8, nullptr},
  };
  for (const auto& c : cases) {
    char out[float_text_size];
    const size_t n = float_text(c.text, std::strlen(c.text), c.sql_type, out);
    if (!c.shown) {
      EXPECT_EQ(n, 0u) << c.text;
      continue;
    }
    EXPECT_EQ(std::string(out, n), c.shown) << c.text;
    char by_double[float_text_size];
    EXPECT_EQ(std::string(by_double, float_text(std::strtod(c.text, nullptr), c.sql_type, by_double)), c.shown);
  }
}

// Text that is already the shortest form is kept as it is: it must be exactly what the
// double would print as, for the texts drivers send (15 significant digits, shortest forms,
// plain decimals with zeros in any place).
TEST(FloatText, KeptTextEqualsTheDoublesText) {
  std::mt19937_64 random(42);
  const char* const forms[] = {"%.15g", "%.17g", "%.3f", "%.0f", "%.10f", "%g"};
  for (int round = 0; round < 200000; ++round) {
    const int scale = static_cast<int>(random() % 40) - 20;
    double v = static_cast<double>(random() % 2000000) * std::pow(10.0, scale) / 1000.0;
    if (round % 3 == 0) v = -v;
    if (round % 7 == 0) v = std::round(v);
    char text[64];
    const int n = std::snprintf(text, sizeof text, forms[round % 6], v);
    char by_text[float_text_size], by_double[float_text_size];
    const size_t a = float_text(text, static_cast<size_t>(n), 8, by_text);
    const size_t b = float_text(std::strtod(text, nullptr), 8, by_double);
    ASSERT_EQ(std::string(by_text, a), std::string(by_double, b)) << text;
  }
  for (const char* t : {"0", "-0", "0.001", "0.0001", "100", "1500", "1e+20", "100000000000000000000", "123456789012345",
                        "1234567890123456", "0.000123456789012345", "99999999999999.9", "-0.5", "10.50", "007", ".5",
                        "5.", "1.0", "+1"}) {
    char by_text[float_text_size], by_double[float_text_size];
    const size_t a = float_text(t, std::strlen(t), 8, by_text);
    if (a == 0) continue;  // not a number as a whole: left to the caller
    EXPECT_EQ(std::string(by_text, a), std::string(by_double, float_text(std::strtod(t, nullptr), 8, by_double))) << t;
  }
}
