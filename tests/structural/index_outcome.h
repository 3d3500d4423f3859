// An index build's outcome in a comparable, printable form.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "structural/index/structural.h"

namespace quorvane::structural {

struct Entry {
    TagKind kind;
    std::uint64_t start;
    std::uint64_t end;
    std::string name;
    bool operator==(const Entry&) const = default;
};

struct Outcome {
    std::string failure;  // empty on success
    std::vector<Entry> entries;
    std::vector<std::string> texts;
    bool operator==(const Outcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{kind " << int(e.kind) << " [" << e.start << ", " << e.end << "] '" << e.name
               << "'}";
}

inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    if (!o.failure.empty()) return out << "failure: " << o.failure;
    out << "entries:";
    for (const Entry& e : o.entries) out << ' ' << e;
    out << " texts:";
    for (const std::string& t : o.texts) out << " '" << t << "'";
    return out;
}

inline Outcome ok(std::vector<Entry> entries, std::vector<std::string> texts = {}) {
    return {"", std::move(entries), std::move(texts)};
}
inline Outcome unclosed(std::uint64_t offset) {
    return {"Unclosed tag at byte " + std::to_string(offset), {}, {}};
}
inline Outcome past_end() { return {"scan past end", {}, {}}; }

inline Outcome outcome_of(const IndexResult& result) {
    if (!result) {
        if (result.error().kind == NativeFailure::Kind::UnclosedTag)
            return unclosed(result.error().offset);
        return past_end();
    }
    Outcome outcome;
    const StructuralIndex& index = *result;
    for (std::size_t i = 0; i < index.entry_count(); ++i) {
        outcome.entries.push_back({index.tag_kind(i), index.tag_starts[i], index.tag_ends[i],
                                   std::string(index.tag_name(i))});
    }
    for (const TextRange& range : index.text_ranges)
        outcome.texts.emplace_back(index.text_of(range));
    return outcome;
}

template <class T>
std::vector<T> values(const Column<T>& column) {
    return {column.begin(), column.end()};
}

// Whole-record equality, depths, parents and text-range parents included.
inline void expect_same_index(const IndexResult& actual, const IndexResult& expected) {
    ASSERT_EQ(outcome_of(actual), outcome_of(expected));
    if (!expected) return;
    EXPECT_EQ(values(actual->tag_depths), values(expected->tag_depths));
    EXPECT_EQ(values(actual->tag_parents), values(expected->tag_parents));
    ASSERT_EQ(actual->text_ranges.size(), expected->text_ranges.size());
    for (std::size_t i = 0; i < expected->text_ranges.size(); ++i) {
        EXPECT_EQ(actual->text_ranges[i].start, expected->text_ranges[i].start);
        EXPECT_EQ(actual->text_ranges[i].parent, expected->text_ranges[i].parent);
    }
}

}  // namespace quorvane::structural
