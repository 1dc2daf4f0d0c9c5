// A load spread over several connections (bulk_insert::spread): the rows go a batch to each
// connection in turn, and the rows of a connection that is lost, not committed, go to the others.
#include "odbc/bulk_lanes.h"

#include <algorithm>

#include "vela/log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"
#include "vela/os_error.h"

namespace vela::odbc {

bulk_insert::lanes::lane* bulk_insert::lanes::next() {
  for (size_t tried = 0; tried <= all.size(); ++tried) {
    if (in_turn >= batch) {
      in_turn = 0;
      current = (current + 1) % all.size();
    }
    if (!all[current].dead) {
      ++in_turn;
      return &all[current];
    }
    in_turn = batch;
  }
  return nullptr;
}

result bulk_insert::spread_prepare(const std::wstring& table, const std::vector<std::wstring>& columns) {
  result r, lost;
  for (size_t i = 0; i < lanes_->all.size(); ++i) {
    lanes::lane& l = lanes_->all[i];
    l.engine = std::make_unique<bulk_insert>(*l.conn, lanes_->batch);
    bulk_insert& e = *l.engine;
    e.retries = retries;
    // Refused rows count once, in this engine, whichever lane refused them.
    e.on_failure = [this, i](size_t line, const std::wstring& why) {
      lanes_->all[i].refused.insert(line);
      count_failed(line, why);
    };
    e.on_batch = [this, i] {
      lane_settled(i);
      if (on_batch) on_batch();
    };
    const result p = e.prepare(table, columns);
    if (odbc::connection_lost(p)) {
      l.dead = true;
      lost = p;
    } else if (!p.succeeded()) {
      r = p;
    }
  }
  const bool any = std::any_of(lanes_->all.begin(), lanes_->all.end(), [](const lanes::lane& l) { return !l.dead; });
  return !r.succeeded() || any ? r : lost;
}

// The rows its engine settled leave the lane's held rows (a lane's batches settle in order).
void bulk_insert::lane_settled(size_t lane) {
  lanes::lane& l = lanes_->all[lane];
  const uint64_t now = l.engine->loaded() + l.engine->failed();
  for (; l.settled < now && !l.held.empty(); ++l.settled) l.held.pop_front();
  l.settled = now;
  l.refused.clear();
  lanes_total();
}

void bulk_insert::lanes_total() {
  loaded_ = retried_ = 0;
  for (const lanes::lane& each : lanes_->all)
    if (each.engine) {
      loaded_ += each.engine->loaded();
      retried_ += each.engine->retried();
    }
}

// A row to the lane whose turn it is; when that lane's connection is lost, its rows go on.
result bulk_insert::hand(const bulk_row& row) {
  lanes::lane* l = lanes_->next();
  if (!l) return lost_result_;
  l->held.push_back(row);
  const result r = l->engine->add(row);
  if (l->engine->connection_lost()) return lane_lost(static_cast<size_t>(l - lanes_->all.data()));
  // A row the engine refused as it took it (bytes that are not text) is settled already.
  if (!l->held.empty() && l->held.back().line == row.line && l->refused.count(row.line)) {
    l->held.pop_back();
    ++l->settled;
  }
  return r;
}

// A lane lost its connection: its batches that did not commit go whole to the other lanes. A
// batch whose commit went without an answer may be in the table: the load cannot go on.
result bulk_insert::lane_lost(size_t lane) {
  lanes::lane& l = lanes_->all[lane];
  l.dead = true;
  const bulk_insert& e = *l.engine;
  lost_result_ = e.lost_result_;
  lanes_total();
  if (e.lost_commit_unknown()) {
    commit_unknown_ = true;
    const batch_lines& b = e.lost_batch();
    lost_result_ = failure(os::err_invalid_data, lost_result_.text() + L"\nthe commit of the rows from line " +
                                                     std::to_wstring(b.first) + L" to " + std::to_wstring(b.last) +
                                                     L" was sent without an answer: they may be in the table or not");
    return lost_result_;
  }
  write_formatted(process_log(), L"TOB", L"bulk insert: lane %s lost, %s rows moved", std::to_wstring(lane).c_str(),
                  std::to_wstring(l.held.size()).c_str());
  if (on_lane_lost) on_lane_lost(lane, lost_result_);
  std::deque<bulk_row> rows = std::move(l.held);
  const std::set<size_t> refused = std::move(l.refused);
  l.held.clear();
  for (const bulk_row& row : rows) {
    if (refused.count(row.line)) continue;  // refused, and counted, before the connection went
    const result r = hand(row);
    if (!r.succeeded()) return r;
  }
  return result();
}

// Every lane's rows run, again while a lost one hands rows to the others, then each finishes.
result bulk_insert::spread_finish() {
  result r;
  for (bool again = true; again && r.succeeded();) {
    again = false;
    for (size_t i = 0; i < lanes_->all.size() && !again && r.succeeded(); ++i) {
      lanes::lane& l = lanes_->all[i];
      if (l.dead || !l.engine) continue;
      const result f = l.engine->finish_batch(true);
      if (l.engine->connection_lost()) {
        r = lane_lost(i);
        again = true;
      } else if (!f.succeeded()) {
        r = f;
      }
    }
  }
  if (r.succeeded() && std::all_of(lanes_->all.begin(), lanes_->all.end(), [](const lanes::lane& l) { return l.dead; }))
    r = lost_result_;
  for (lanes::lane& l : lanes_->all)
    if (l.engine && !l.dead) {
      const result f = l.engine->finish();
      if (r.succeeded()) r = f;
    }
  lanes_total();
  return r;
}

} // namespace vela::odbc
