// A load's batches spread over several connections: each lane an engine of its own, and the
// rows it was given that are not settled yet, to hand to another lane if its connection goes.
#pragma once

#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "vela/odbc/bulk_insert.h"

namespace vela::odbc {

struct bulk_insert::lanes {
  struct lane {
    connection* conn = nullptr;
    std::unique_ptr<bulk_insert> engine;
    std::deque<bulk_row> held;  // given, in order, and not known loaded or refused
    uint64_t settled = 0;       // rows its engine settled when held was last trimmed
    std::set<size_t> refused;   // lines refused since then: they are not run again elsewhere
    bool dead = false;
  };
  std::vector<lane> all;
  size_t batch = 0;     // rows given to a lane before the next one's turn
  size_t current = 0;   // the lane whose turn it is
  size_t in_turn = 0;   // rows it was given in this turn
  // The lane whose turn it is, the turn passing on after a batch's rows; nullptr when every
  // lane is lost.
  lane* next();
};

} // namespace vela::odbc
