// Whole tables from another data source ("-copy_from" with "-tables" or "-schema"): each made
// on the run's connection, its rows copied, then its keys and indexes, and a report of each.
#pragma once

namespace vela::terminal {

class terminal_context;

// Copies the tables the options name; false when one failed or none could be copied (told,
// and noted as the run's load failure).
bool copy_tables(terminal_context& ctx);

} // namespace vela::terminal
