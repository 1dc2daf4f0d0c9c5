#include "vela/task.h"

#include <exception>

#include "os/os.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela {

result task::run() {
  try {
    do_run();
    return result();
  } catch (const result& r) {
    return r;
  } catch (const std::exception& e) {
    return failure(os::err_internal_error, L"[" + name() + L"] " + utf8_to_wide(e.what()));
  } catch (const windows_error& e) {
    return failure(static_cast<uint32_t>(e.code()), L"[" + name() + L"] ");
  } catch (const wexception& e) {
    return failure(os::err_internal_error, L"[" + name() + L"] " + e.what());
  } catch (...) {
    return failure(os::err_internal_error, L"[" + name() + L"]");
  }
}

void task::do_run() {
  const result r = run();
  if (r.succeeded()) {
    state_ = 2;
    return;
  }
  state_ = 3;
  throw windows_error(r.text(), static_cast<int32_t>(r.code()));
}

void task::undo() { throw windows_error(L"can't undo", os::err_invalid_function); }

task* task::clone() const {
  auto* t = new task(kind_);
  t->state_ = state_;
  return t;
}

result onetime_task::run() {
  if (!ran_) {
    ran_ = true;
    return result();
  }
  return failure(os::err_already_initialized);
}

void run_once_per_process(onetime_task*& guard, const std::function<void()>& work) {
  if (!guard) guard = new onetime_task();
  if (guard->has_run()) return;
  work();
  guard->do_run();
}

} // namespace vela
