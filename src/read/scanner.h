// The markup scanner: walks the structural index of a document and builds
// the element records of the first element named `root_tag`.
#pragma once

#include <expected>
#include <string_view>

#include "src/read/records.h"
#include "src/storage/source_buffer.h"

namespace quorvane::read {

// Runs without the interpreter: `source` holds valid UTF-8, and every span in
// the result holds a reference to it. Throws std::bad_alloc when memory runs
// out, having released whatever it made.
std::expected<ParsedDocument, NativeFailure> parse_document(storage::SourceBuffer* source,
                                                            std::string_view root_tag);

}  // namespace quorvane::read
