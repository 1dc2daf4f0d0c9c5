// The running executable and its numbered strings.
#include "os/os.h"
#include "vela/file.h"

namespace vela {

namespace {
const string_table* program_strings = nullptr;
}

void set_string_table(const string_table* table) { program_strings = table; }

std::wstring load_string(const module*, uint32_t id) {
  if (!program_strings) return {};
  const bool ru = os::russian_ui();
  const string_entry* entries = ru ? program_strings->russian : program_strings->english;
  const size_t count = ru ? program_strings->russian_count : program_strings->english_count;
  for (size_t i = 0; i < count; ++i)
    if (entries[i].id == id) return entries[i].text;
  return {};
}

std::wstring module::load_string(uint32_t id) const { return vela::load_string(this, id); }

std::wstring module::file_name() const { return os::executable_path(); }

} // namespace vela
