// Heap buffers, arrays, the sorted owning pointer list, the owning queue and the
// owning single-pointer holder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "vela/base.h"

namespace vela {

// Message of a container misuse: this header's path, " line " and a fixed number.
std::wstring container_error_text(int line);

namespace list_error {
constexpr int null_insert = 1634;
constexpr int insert_at_range = 1683;
constexpr int grow_failed = 1725;
constexpr int remove_range = 1731;
constexpr int const_at_range = 1753;
constexpr int at_range = 1771;
} // namespace list_error

// Raw heap block from malloc; size is the block's real (usable) size.
class memory_buffer : public base {
 public:
  memory_buffer() = default;
  explicit memory_buffer(uint32_t n) { allocate(n); }
  ~memory_buffer() override { release(); }
  memory_buffer(const memory_buffer&) = delete;
  memory_buffer& operator=(const memory_buffer&) = delete;
  memory_buffer(memory_buffer&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  memory_buffer& operator=(memory_buffer&& o) noexcept {
    if (this != &o) {
      release();
      data_ = std::exchange(o.data_, nullptr);
      size_ = std::exchange(o.size_, 0);
    }
    return *this;
  }

  // Frees the old block first; the content is not kept.
  void* allocate(uint32_t n);
  // Keeps the content.
  void* reallocate(uint32_t n);
  void release();

  void* data() const { return data_; }
  uint32_t size() const { return size_; }

 private:
  void* data_ = nullptr;
  uint32_t size_ = 0;
};

class char_buffer : public memory_buffer {
 public:
  using memory_buffer::memory_buffer;
  char* chars() const { return static_cast<char*>(data()); }
  char& operator[](size_t i) const { return chars()[i]; }
};

// Fixed array; setting the size discards the old elements.
template <typename T>
class Array : public base {
 public:
  Array() = default;
  explicit Array(uint32_t n) { set_size(n); }
  ~Array() override { delete[] items_; }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  void set_size(uint32_t n) {
    delete[] items_;
    items_ = nullptr;
    count_ = 0;
    if (n) items_ = new T[n]();
    count_ = n;
  }
  uint32_t size() const { return count_; }
  T* data() const { return items_; }
  T& operator[](uint32_t i) const { return items_[i]; }

 private:
  T* items_ = nullptr;
  uint32_t count_ = 0;
};

// Sorted (or unsorted) list of owned pointers. T provides
// TCmpRes compare(const T& other, int key) const.
template <typename T>
class TList : public base {
 public:
  static constexpr uint32_t unique_flag = 0x80;

  // sort_key 0: unsorted, inserts append.
  explicit TList(int32_t sort_key = 0, uint32_t flags = 0, uint32_t step = 64)
      : flags_(flags), step_(step ? step : 1), sort_key_(sort_key) {}
  ~TList() override {
    clear();
    std::free(items_);
  }
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;

  uint32_t count() const { return count_; }
  int32_t capacity() const { return capacity_; }
  uint32_t step() const { return step_; }
  int32_t sort_key() const { return sort_key_; }

  // Inserts at the sorted place (or appends); returns the place, or -1 when a unique
  // list already holds an equal element (the element is then not taken).
  int32_t insert(T* item) {
    if (!item) throw wexception(container_error_text(list_error::null_insert));
    if (sort_key_ == 0) return append(item);
    grow_if_full();
    uint32_t place = sorted_place(*item);
    if ((flags_ & unique_flag) && count_ > 0) {
      const uint32_t probe = place < count_ ? place : count_ - 1;
      if (items_[probe]->compare(*item, sort_key_) == 0) return -1;
    }
    put(item, place);
    return static_cast<int32_t>(place);
  }

  int32_t insert_at(T* item, uint32_t pos) {
    if (pos > count_) throw wexception(container_error_text(list_error::insert_at_range));
    grow_if_full();
    put(item, pos);
    return static_cast<int32_t>(pos);
  }

  int32_t append(T* item) { return insert_at(item, count_); }

  // Detaches the element at pos; the caller takes it.
  T* remove_at(uint32_t pos) {
    if (pos >= count_) throw wexception(container_error_text(list_error::remove_range));
    T* item = items_[pos];
    for (uint32_t i = pos + 1; i < count_; ++i) items_[i - 1] = items_[i];
    --count_;
    return item;
  }

  // Detaches every element without deleting it.
  void detach_all() {
    while (count_) remove_at(0);
  }

  T* at(uint32_t i) {
    if (i >= count_) throw wexception(container_error_text(list_error::at_range));
    return items_[i];
  }
  const T* at(uint32_t i) const {
    if (i >= count_) throw wexception(container_error_text(list_error::const_at_range));
    return items_[i];
  }

  // Modes: 0 greatest below, 1 greatest not above, 2 equal, 3 smallest not below,
  // 4 smallest above. Returns the index or -1.
  int32_t find(const T& key, int32_t key_no, int mode) const {
    if (mode == 2 && key_no == sort_key_ && sort_key_ != 0) return binary_find(key);
    int32_t best = -1;
    for (uint32_t i = 0; i < count_; ++i) {
      const int c = items_[i]->compare(key, key_no);
      bool fits = false;
      switch (mode) {
        case 0: fits = c < 0; break;
        case 1: fits = c <= 0; break;
        case 2: if (c == 0) return static_cast<int32_t>(i); break;
        case 3: fits = c >= 0; break;
        case 4: fits = c > 0; break;
        default: return -1;
      }
      if (!fits) continue;
      if (best < 0) {
        best = static_cast<int32_t>(i);
        continue;
      }
      const int against = items_[i]->compare(*items_[best], key_no);
      // Below the key: keep the greatest; above it: keep the smallest (first of equals).
      if ((mode <= 1 && against > 0) || (mode >= 3 && against < 0)) best = static_cast<int32_t>(i);
    }
    return best;
  }

  void set_capacity(uint32_t n) {
    if (n <= count_ || static_cast<int64_t>(n) == capacity_) return;
    if (n == 0) n = 1;
    n = (n + step_ - 1) / step_ * step_;
    void* p = std::realloc(items_, size_t(n) * sizeof(T*));
    if (!p) throw wexception(container_error_text(list_error::grow_failed));
    items_ = static_cast<T**>(p);
    capacity_ = static_cast<int32_t>(n);
  }

  // Deletes every element, last to first.
  void clear() {
    while (count_) delete items_[--count_];
  }

 private:
  void grow_if_full() {
    if (static_cast<int64_t>(count_) >= capacity_) set_capacity(count_ + 1);
  }

  void put(T* item, uint32_t pos) {
    for (uint32_t i = count_; i > pos; --i) items_[i] = items_[i - 1];
    items_[pos] = item;
    ++count_;
  }

  // Biased binary search: probes at (3 * high + 2 * low) / 5.
  uint32_t sorted_place(const T& item) const {
    if (count_ == 0) return 0;
    if (count_ == 1) return item.compare(*items_[0], sort_key_) >= 0 ? 1 : 0;
    if (item.compare(*items_[count_ - 1], sort_key_) > 0) return count_;
    uint32_t low = 0, high = count_ - 1;
    while (low != high) {
      const uint32_t probe = (3 * high + 2 * low) / 5;
      const int c = items_[probe]->compare(item, sort_key_);
      if (c > 0) {
        high = probe;
      } else if (c < 0) {
        if (probe < high) low = probe + 1;
        else break;
      } else {
        return probe;
      }
    }
    return low;
  }

  int32_t binary_find(const T& key) const {
    if (count_ == 0) return -1;
    const uint32_t place = sorted_place(key);
    if (place < count_ && items_[place]->compare(key, sort_key_) == 0) return static_cast<int32_t>(place);
    return -1;
  }

  T** items_ = nullptr;
  uint32_t flags_ = 0;
  int32_t capacity_ = 0;
  uint32_t step_ = 64;
  uint32_t count_ = 0;
  int32_t sort_key_ = 0;
};

template <typename T>
class TListIter : public base {
 public:
  explicit TListIter(TList<T>& list) : list_(list) {}
  bool done() const { return pos_ >= list_.count(); }
  T* current() { return list_.at(pos_); }
  void next() { ++pos_; }
  void reset() { pos_ = 0; }

 private:
  TList<T>& list_;
  uint32_t pos_ = 0;
};

template <typename T>
class TContainerItem : public base {
 public:
  explicit TContainerItem(T* item) : item(item) {}
  TContainerItem* next = nullptr;
  TContainerItem* prev = nullptr;
  T* item;
};

// Doubly linked list that owns its elements.
template <typename T>
class Queue : public base {
 public:
  Queue() = default;
  ~Queue() override { clear(); }
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  void add(T* item) {
    auto* node = new TContainerItem<T>(item);
    node->prev = tail_;
    if (tail_) tail_->next = node;
    else head_ = node;
    tail_ = node;
    ++count_;
  }

  // Deletes every element, head to tail.
  void clear() {
    while (head_) {
      TContainerItem<T>* node = head_;
      head_ = node->next;
      delete node->item;
      delete node;
    }
    tail_ = nullptr;
    count_ = 0;
  }

  int32_t count() const { return count_; }
  TContainerItem<T>* head() const { return head_; }
  TContainerItem<T>* tail() const { return tail_; }

 private:
  int32_t count_ = 0;
  TContainerItem<T>* head_ = nullptr;
  TContainerItem<T>* tail_ = nullptr;
};

template <typename T>
class QueueIter : public base {
 public:
  explicit QueueIter(Queue<T>& q) : node_(q.head()) {}
  bool done() const { return node_ == nullptr; }
  T* current() const { return node_->item; }
  void next() { node_ = node_->next; }

 private:
  TContainerItem<T>* node_;
};

template <typename T>
class QueueCIter : public base {
 public:
  explicit QueueCIter(const Queue<T>& q) : node_(q.head()) {}
  bool done() const { return node_ == nullptr; }
  const T* current() const { return node_->item; }
  void next() { node_ = node_->next; }

 private:
  const TContainerItem<T>* node_;
};

// Owning single pointer: assigning a new object deletes the previous one.
template <typename T>
class Case : public base {
 public:
  Case() = default;
  explicit Case(T* p) : ptr_(p) {}
  ~Case() override { delete ptr_; }
  Case(const Case&) = delete;
  Case& operator=(const Case&) = delete;

  Case& operator=(T* p) {
    if (p != ptr_) {
      delete ptr_;
      ptr_ = p;
    }
    return *this;
  }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T* release() { return std::exchange(ptr_, nullptr); }
  void reset() { *this = nullptr; }

 private:
  T* ptr_ = nullptr;
};

} // namespace vela
