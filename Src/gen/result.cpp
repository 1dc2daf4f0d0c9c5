#include "vela/result.h"

#include "os/os.h"
#include "vela/containers.h"
#include "vela/format.h"
#include "vela/wstr.h"

namespace vela {

// ---- registry --------------------------------------------------------------

namespace {

// Created by the first registration, never freed.
TList<ErrCode>* registry = nullptr;

TList<ErrCode>& the_registry() {
  if (!registry) registry = new TList<ErrCode>(1, TList<ErrCode>::unique_flag, 64);
  return *registry;
}

} // namespace

TCmpRes ErrCode::compare(const ErrCode& other, int) const {
  return TCmpRes(code < other.code ? -1 : (code > other.code ? 1 : 0));
}

bool RegisterError(uint32_t code, const std::wstring& text) {
  if (!(code & registered_code_bit)) return false;
  auto* entry = new ErrCode{code, text};
  if (the_registry().insert(entry) < 0) {
    delete entry;
    return false;
  }
  return true;
}

uint32_t RegisterErrorText(const std::wstring& text) {
  auto& reg = the_registry();
  for (uint32_t i = 0; i < reg.count(); ++i)
    if (reg.at(i)->text == text) return reg.at(i)->code;
  const uint32_t code = reg.count() ? reg.at(reg.count() - 1)->code + 1 : registered_code_bit + 1;
  reg.insert(new ErrCode{code, text});
  return code;
}

std::wstring GetErrorText(uint32_t code) {
  if (!(code & registered_code_bit)) {
    std::wstring s = os::system_message(code);
    trim(s, L"\r\n");
    return s;
  }
  if (!registry) return {};
  const ErrCode key{code, {}};
  const int32_t at = registry->find(key, 1, 2);
  return at >= 0 ? registry->at(static_cast<uint32_t>(at))->text : std::wstring();
}

// ---- result ----------------------------------------------------------------

namespace {

// The description of code 0, which every result starts with: made once per thread and
// language, not for each result.
const std::wstring& no_error_description() {
  thread_local std::wstring texts[2];
  thread_local bool known[2] = {false, false};
  const size_t language = os::russian_ui() ? 1 : 0;
  if (!known[language]) {
    texts[language] = GetErrorText(0);
    known[language] = true;
  }
  return texts[language];
}

} // namespace

result::result() = default;

const std::wstring& result::description() const {
  if (!code_) return no_error_description();
  if (!described_) {
    description_ = GetErrorText(code_);
    described_ = true;
  }
  return description_;
}

result::result(uint32_t code, std::wstring text, int32_t severity) { set(code, std::move(text), severity); }

void result::set(uint32_t code, std::wstring text, int32_t severity) {
  code_ = code;
  severity_ = code ? severity : severity::success;
  text_ = std::move(text);
  description_.clear();
  described_ = code == 0;
}

result& result::merge(const result& other) {
  if (code() == 0) {
    code_ = other.code();
    description_.clear();
    described_ = code_ == 0;
  }
  if (severity_ < other.severity_) severity_ = other.severity_;
  if (state_.empty()) set_state(other.state_, other.native_);
  text_ += other.text_;
  return *this;
}

std::wstring result::format(const std::wstring& templ) const {
  std::wstring s = templ;
  replace_all(s, L"%cd", std::to_wstring(code()));
  replace_all(s, L"%ch", wformat(L"%08X", code()));
  replace_all(s, L"%c", text_);
  replace_all(s, L"%d", description());
  return s;
}

std::wstring result::format() const { return format(L"%c %d [%cd(%ch)]"); }

// ---- exceptions ------------------------------------------------------------

windows_error::windows_error(const std::wstring& text, int32_t code)
    : wexception(text + L" (" + GetErrorText(static_cast<uint32_t>(code)) + L")"), code_(code) {}

windows_error::windows_error(const result& r)
    : wexception(r.text() + L" (" + r.description() + L")"), code_(static_cast<int32_t>(r.code())) {}

} // namespace vela
