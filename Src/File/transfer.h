// The two directions of blobfile.
#pragma once

#include <string>

#include "File/link.h"
#include "vela/result.h"

namespace vela::blobfile {

struct download_options {
  bool any_place = false;  // -P: absolute names and names with ".." are written too
  std::wstring folder;     // -C: the folder relative names are written under
};

// SELECT on l's connection: each row's first binary or long column into the file its first
// text column names. A row whose name is unusable or outside the folder is skipped; skipped
// rows end the run with code 123 once all rows ran. Under -retry a conflict or a lost
// connection runs it again from the first row (on the next host when the connection went).
result download(link& l, const std::wstring& statement, const download_options& options, retry_count& count);
// INSERT or UPDATE: the file as the statement's one parameter. A statement that changed no
// row has printed so and returns code 1168 (not found). Under -retry the upload is one
// transaction, rolled back and run again whole after a conflict.
result upload(link& l, const std::wstring& statement, const std::wstring& path, retry_count& count);

// The statement kind by its first six characters: "select", "insert", "update" or empty.
std::wstring statement_kind(const std::wstring& statement);

} // namespace vela::blobfile
