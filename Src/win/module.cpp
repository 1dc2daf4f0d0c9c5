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
  return table_string(*program_strings, id);
}

std::wstring table_string(const string_table& table, uint32_t id) {
  const bool ru = os::russian_ui();
  const string_entry* entries = ru ? table.russian : table.english;
  const size_t count = ru ? table.russian_count : table.english_count;
  for (size_t i = 0; i < count; ++i)
    if (entries[i].id == id) return entries[i].text;
  return {};
}

std::wstring module::load_string(uint32_t id) const { return vela::load_string(this, id); }

std::wstring module::file_name() const { return os::executable_path(); }

} // namespace vela
