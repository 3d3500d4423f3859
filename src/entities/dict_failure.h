// The failure of reading from_dict's data, and the message of an enum
// failure, which nests once per level of children.
#pragma once

#include <string>
#include <vector>

#include "src/boundary/failure.h"

namespace quorvane {

// Memory running out says nothing of a value's kind: it ends the whole read
// as the interpreter's MemoryError.
inline bool runs_out_of_memory(const Failure& failure) {
    return failure.kind == Failure::Kind::Raised &&
           PyErr_GivenExceptionMatches(failure.exception.get(), PyExc_MemoryError);
}

// A fault met while reading. The enum failure of a child list that holds the
// enum failure of a grandchild's list, and so on, renders each inner message
// inside the outer one; the message is therefore kept as pieces around the
// innermost failure's text and joined once, in time linear in the depth.
struct DescriptionFailure {
    explicit DescriptionFailure(Failure failure, bool aborts = false)
        : simple(std::move(failure)), aborts(aborts || runs_out_of_memory(simple)) {}

    Failure simple;                     // the failure while no enum wraps it
    bool aborts;                        // ends the whole read unchanged
    std::string core;                   // the innermost failure, rendered
    std::vector<std::string> prefixes;  // innermost first
    std::vector<std::string> suffixes;  // innermost first

    bool is_enum() const { return !prefixes.empty(); }
    bool fatal() const { return !is_enum() && (aborts || simple.kind == Failure::Kind::Internal); }

    std::string message() const {
        std::size_t size = core.size();
        for (const auto& piece : prefixes) size += piece.size();
        for (const auto& piece : suffixes) size += piece.size();
        std::string text;
        text.reserve(size);
        for (auto piece = prefixes.rbegin(); piece != prefixes.rend(); ++piece) text += *piece;
        text += core;
        for (const auto& piece : suffixes) text += piece;
        return text;
    }
};

// The failure of a value that none of the four kinds accepts: String's,
// Vec's (itself perhaps an enum failure), NullableString's and Map's.
DescriptionFailure enum_failure(const Failure& string_failure, DescriptionFailure vec_failure,
                                const Failure& nullable_failure, const Failure& map_failure);

}  // namespace quorvane
