// The \if … \elif … \else … \endif blocks open, innermost last: whether lines run now.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vela::terminal {

class conditional_stack {
 public:
  // A block's state: its branch running, none run yet, one run already, or the whole block
  // inside a branch that does not run.
  enum class branch : uint8_t { running, waiting, done, ignored };
  struct block {
    branch state = branch::running;
    bool after_else = false;
    std::wstring source;  // where its \if stands (empty at the prompt)
    size_t line = 0;
  };

  // Lines run: no block is open, or the innermost one's branch runs.
  bool active() const { return blocks_.empty() || blocks_.back().state == branch::running; }
  // A block of the current script (blocks of the script that ran it are not its own).
  bool any_open() const { return blocks_.size() > floor_; }
  block& innermost() { return blocks_.back(); }
  void open(block b) { blocks_.push_back(std::move(b)); }
  void close() { blocks_.pop_back(); }

  // A script begins: its blocks are its own. Returns what ends it (with end_script).
  size_t begin_script() {
    const size_t before = floor_;
    floor_ = blocks_.size();
    return before;
  }
  // The script ended: the blocks it left open (outermost first) are dropped.
  std::vector<block> end_script(size_t before) {
    std::vector<block> left(blocks_.begin() + static_cast<std::ptrdiff_t>(floor_), blocks_.end());
    blocks_.resize(floor_);
    floor_ = before;
    return left;
  }

 private:
  std::vector<block> blocks_;
  size_t floor_ = 0;
};

} // namespace vela::terminal
