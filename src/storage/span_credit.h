// References to a document's SourceBuffer taken in bulk for the spans of one
// read: one atomic addition per batch instead of one per span.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/storage/node_string.h"
#include "src/storage/source_buffer.h"

namespace quorvane::storage {

class SpanCredit {
public:
    explicit SpanCredit(SourceBuffer* source) : source_(source) {}
    SpanCredit(const SpanCredit&) = delete;
    SpanCredit& operator=(const SpanCredit&) = delete;
    // The caller keeps its own reference while the credit lives, so giving
    // back what is left never releases the buffer.
    ~SpanCredit() {
        if (left_ != 0) source_->release(left_);
    }

    SourceBuffer* source() const { return source_; }

    // A span of [start, end) holding one reference of the credit.
    NodeString span(std::uint64_t start, std::uint64_t end) {
        if (left_ == 0) {
            source_->acquire(kBatch);
            left_ = kBatch;
        }
        --left_;
        return NodeString::adopt_span(source_, start, end);
    }

private:
    static constexpr std::size_t kBatch = 4096;

    SourceBuffer* source_;
    std::size_t left_ = 0;
};

}  // namespace quorvane::storage
