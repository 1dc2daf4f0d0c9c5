// Runnable objects: run() reports a result and never throws; do_run() throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vela/base.h"
#include "vela/result.h"

namespace vela {

class task : public base {
 public:
  explicit task(int32_t kind = 0) : kind_(kind) {}

  // Calls do_run and turns its outcome, and every exception, into a result.
  virtual result run();
  virtual result execute() { return run(); }
  // Calls run; a failed result is thrown as windows_error.
  virtual void do_run();
  virtual void undo();
  virtual task* self() { return this; }
  virtual const task* self_const() const { return this; }
  virtual std::wstring name() const { return L"task"; }
  virtual task* clone() const;

  int32_t kind() const { return kind_; }
  int32_t state() const { return state_; }

 protected:
  int32_t kind_;
  int32_t state_ = 0;
};

// Succeeds only the first time it runs.
class onetime_task : public task {
 public:
  onetime_task() : task(1) {}
  ~onetime_task() override = default;
  result run() override;
  bool has_run() const { return ran_; }

 private:
  bool ran_ = false;
};

// Runs work once per process, guarded by a process-wide onetime_task.
void run_once_per_process(onetime_task*& guard, const std::function<void()>& work);

} // namespace vela
