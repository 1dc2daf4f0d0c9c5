#include "Terminal/session/conditionals.h"

#include "Terminal/session/context.h"
#include "Terminal/strings.h"

namespace vela::terminal {

void close_script_blocks(terminal_context& ctx, size_t outer, const std::wstring& where) {
  const std::vector<conditional_stack::block> left = ctx.conditions.end_script(outer);
  if (ctx.stopped || ctx.ended) return;  // the script did not run to its end
  for (const conditional_stack::block& b : left)
    (void)ctx.fail(message(string_id::if_not_closed, (b.source.empty() ? where : b.source).c_str(), static_cast<unsigned>(b.line)));
}

} // namespace vela::terminal
