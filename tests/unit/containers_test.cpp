#include "vela/containers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

using namespace vela;

namespace {

int live = 0;

struct item {
  int key;
  int tag;
  item(int k, int t = 0) : key(k), tag(t) { ++live; }
  ~item() { --live; }
  TCmpRes compare(const item& o, int key_no) const {
    return key_no == 1 ? TCmpRes(key - o.key) : TCmpRes(tag - o.tag);
  }
};

std::vector<int> keys(TList<item>& l) {
  std::vector<int> v;
  for (uint32_t i = 0; i < l.count(); ++i) v.push_back(l.at(i)->key);
  return v;
}

std::wstring thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const wexception& e) {
    return e.what();
  }
  return L"";
}

} // namespace

TEST(TList, SortedInsertOrdersAndUnsortedAppends) {
  TList<item> sorted(1);
  for (int k : {1, 3, 2}) sorted.insert(new item(k));
  EXPECT_EQ(keys(sorted), (std::vector<int>{1, 2, 3}));

  TList<item> plain(0);
  for (int k : {1, 3, 2}) plain.insert(new item(k));
  EXPECT_EQ(keys(plain), (std::vector<int>{1, 3, 2}));
}

TEST(TList, BiasedSearchKeepsLargeListsSorted) {
  TList<item> l(1);
  std::vector<int> expect;
  for (int i = 0; i < 500; ++i) {
    const int k = (i * 7919) % 1009;
    l.insert(new item(k));
    expect.push_back(k);
  }
  std::sort(expect.begin(), expect.end());
  EXPECT_EQ(keys(l), expect);
  // Equal keys go behind their equals (stable order of insertion).
  TList<item> d(1);
  d.insert(new item(5, 1));
  d.insert(new item(5, 2));
  d.insert(new item(1, 0));
  d.insert(new item(5, 3));
  EXPECT_EQ(d.at(0)->key, 1);
  for (uint32_t i = 1; i < 4; ++i) EXPECT_EQ(d.at(i)->key, 5);
}

TEST(TList, UniqueRefusesEqualKeys) {
  TList<item> l(1, TList<item>::unique_flag);
  EXPECT_EQ(l.insert(new item(5, 1)), 0);
  item* dup = new item(5, 2);
  EXPECT_EQ(l.insert(dup), -1);
  delete dup;
  EXPECT_EQ(l.count(), 1u);
  EXPECT_EQ(l.at(0)->tag, 1);
  for (int k : {9, 1, 7, 3}) EXPECT_GE(l.insert(new item(k)), 0);
  for (int k : {9, 1, 7, 3, 5}) {
    item* again = new item(k);
    EXPECT_EQ(l.insert(again), -1) << k;
    delete again;
  }
  EXPECT_EQ(keys(l), (std::vector<int>{1, 3, 5, 7, 9}));
}

TEST(TList, CapacityGrowsInSteps) {
  TList<item> l(0, 0, 64);
  l.insert(new item(1));
  EXPECT_EQ(l.capacity(), 64);
  for (int i = 2; i <= 64; ++i) l.insert(new item(i));
  EXPECT_EQ(l.capacity(), 64);
  l.insert(new item(65));
  EXPECT_EQ(l.capacity(), 128);
}

TEST(TList, MisuseThrowsSourceLocations) {
  TList<item> l(1);
  l.insert(new item(1));
  EXPECT_EQ(thrown([&] { l.at(1); }), L"include/vela/containers.h line 1771");
  const TList<item>& cl = l;
  EXPECT_EQ(thrown([&] { cl.at(1); }), L"include/vela/containers.h line 1753");
  EXPECT_EQ(thrown([&] { l.insert(nullptr); }), L"include/vela/containers.h line 1634");
  EXPECT_EQ(thrown([&] { l.remove_at(1); }), L"include/vela/containers.h line 1731");
  item* x = new item(2);
  EXPECT_EQ(thrown([&] { l.insert_at(x, 2); }), L"include/vela/containers.h line 1683");
  delete x;
}

TEST(TList, FindModesAndOwnership) {
  live = 0;
  {
    TList<item> l(1);
    for (int k : {10, 20, 30}) l.insert(new item(k, k / 10));
    const item key(20);
    EXPECT_EQ(l.find(key, 1, 2), 1);
    EXPECT_EQ(l.find(item(25), 1, 2), -1);
    EXPECT_EQ(l.find(item(25), 1, 0), 1);  // greatest below
    EXPECT_EQ(l.find(item(20), 1, 1), 1);  // greatest not above
    EXPECT_EQ(l.find(item(20), 1, 3), 1);  // smallest not below
    EXPECT_EQ(l.find(item(20), 1, 4), 2);  // smallest above
    EXPECT_EQ(l.find(item(5), 1, 0), -1);
    EXPECT_EQ(l.find(item(0, 3), 2, 2), 2);  // linear scan by another key
    item* detached = l.remove_at(0);
    EXPECT_EQ(l.count(), 2u);
    delete detached;
    EXPECT_EQ(live, 3);  // two elements and the key
  }
  EXPECT_EQ(live, 0);
  TList<item> d(0);
  item a(1), b(2);
  d.append(&a);
  d.append(&b);
  d.detach_all();
  EXPECT_EQ(d.count(), 0u);
}

TEST(Queue, KeepsOrderAndOwnsElements) {
  live = 0;
  {
    Queue<item> q;
    for (int k : {3, 1, 2}) q.add(new item(k));
    EXPECT_EQ(q.count(), 3);
    std::vector<int> seen;
    for (QueueIter<item> it(q); !it.done(); it.next()) seen.push_back(it.current()->key);
    EXPECT_EQ(seen, (std::vector<int>{3, 1, 2}));
    const Queue<item>& cq = q;
    int n = 0;
    for (QueueCIter<item> it(cq); !it.done(); it.next()) ++n;
    EXPECT_EQ(n, 3);
  }
  EXPECT_EQ(live, 0);
}

TEST(Case, ReassignmentDeletesThePrevious) {
  live = 0;
  {
    Case<item> c;
    EXPECT_FALSE(c);
    c = new item(1);
    c = new item(2);
    EXPECT_EQ(live, 1);
    EXPECT_EQ(c->key, 2);
    c.reset();
    EXPECT_EQ(live, 0);
    c = new item(3);
  }
  EXPECT_EQ(live, 0);
}

TEST(Buffers, RealSizeAndContentKept) {
  memory_buffer b;
  b.allocate(10);
  EXPECT_GE(b.size(), 10u);
  std::memcpy(b.data(), "abcdefghi", 10);
  b.reallocate(1000);
  EXPECT_GE(b.size(), 1000u);
  EXPECT_STREQ(static_cast<char*>(b.data()), "abcdefghi");
  b.release();
  EXPECT_EQ(b.data(), nullptr);
  Array<int> a(4);
  EXPECT_EQ(a.size(), 4u);
  EXPECT_EQ(a[3], 0);
  a.set_size(2);
  EXPECT_EQ(a.size(), 2u);
}
