#include "vela/task.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vela;

namespace {

template <typename F>
class throwing : public task {
 public:
  explicit throwing(F f) : f_(f) {}
  void do_run() override { f_(); }

 private:
  F f_;
};
template <typename F>
throwing(F) -> throwing<F>;

class reporting : public task {
 public:
  explicit reporting(result r) : r_(std::move(r)) {}
  result run() override { return r_; }

 private:
  result r_;
};

} // namespace

TEST(Task, RunConvertsEveryExceptionKind) {
  throwing ok([] {});
  EXPECT_EQ(ok.run().code(), 0u);

  throwing res([] { throw result(5, L"thrown", 2); });
  const result r1 = res.run();
  EXPECT_EQ(r1.code(), 5u);
  EXPECT_EQ(r1.severity(), 2);
  EXPECT_EQ(r1.text(), L"thrown");

  throwing std_ex([] { throw std::runtime_error("boom"); });
  const result r2 = std_ex.run();
  EXPECT_EQ(r2.code(), 1359u);
  EXPECT_EQ(r2.severity(), 3);
  EXPECT_EQ(r2.text(), L"[task] boom");

  throwing win([] { throw windows_error(L"lost", 2); });
  const result r3 = win.run();
  EXPECT_EQ(r3.code(), 2u);
  EXPECT_EQ(r3.text(), L"[task] ");
  EXPECT_EQ(r3.description(), GetErrorText(2));

  throwing wex([] { throw wexception(L"m"); });
  const result r4 = wex.run();
  EXPECT_EQ(r4.code(), 1359u);
  EXPECT_EQ(r4.text(), L"[task] m");

  throwing other([] { throw 42; });
  const result r5 = other.run();
  EXPECT_EQ(r5.code(), 1359u);
  EXPECT_EQ(r5.text(), L"[task]");
}

TEST(Task, ExceptionMessagesAreUtf8) {
  throwing ru([] { throw std::runtime_error("ошибка: файл «a.txt»"); });
  const result r = ru.run();
  EXPECT_EQ(r.code(), 1359u);
  EXPECT_NE(r.text().find(L"ошибка: файл «a.txt»"), std::wstring::npos);
  throwing bad([] { throw std::runtime_error("bad \xFF byte"); });
  EXPECT_NE(bad.run().text().find(L"bad \xFFFD byte"), std::wstring::npos);  // never dropped silently
}

TEST(Task, DoRunSetsStateAndThrowsOnFailure) {
  reporting warn(result(3, L"w", 2));
  EXPECT_NO_THROW(warn.do_run());
  EXPECT_EQ(warn.state(), 2);

  reporting fail(result(87, L"bad", 3));
  try {
    fail.do_run();
    FAIL();
  } catch (const windows_error& e) {
    EXPECT_EQ(e.code(), 87);
    EXPECT_EQ(e.what(), L"bad (" + GetErrorText(87) + L")");
  }
  EXPECT_EQ(fail.state(), 3);
}

TEST(Task, UndoAndClone) {
  reporting t(result(3, L"w", 2));
  try {
    t.undo();
    FAIL();
  } catch (const windows_error& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.what(), L"can't undo (" + GetErrorText(1) + L")");
  }
  t.do_run();
  std::unique_ptr<task> c(t.clone());
  EXPECT_EQ(c->state(), 2);
  EXPECT_EQ(c->kind(), 0);
  EXPECT_EQ(c->name(), L"task");
  EXPECT_EQ(c->self(), c.get());
}

TEST(OnetimeTask, SecondRunFails) {
  onetime_task o;
  EXPECT_EQ(o.kind(), 1);
  EXPECT_FALSE(o.has_run());
  EXPECT_EQ(o.run().code(), 0u);
  EXPECT_TRUE(o.has_run());
  const result r = o.run();
  EXPECT_EQ(r.code(), 1247u);
  EXPECT_EQ(r.severity(), 3);
  try {
    o.do_run();
    FAIL();
  } catch (const windows_error& e) {
    EXPECT_EQ(e.code(), 1247);
  }
}

TEST(OnetimeTask, GuardRunsWorkOnce) {
  static onetime_task* guard = nullptr;
  int calls = 0;
  run_once_per_process(guard, [&] { ++calls; });
  run_once_per_process(guard, [&] { ++calls; });
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(guard->has_run());
}
