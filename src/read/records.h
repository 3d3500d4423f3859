// The records the reader shares: the element it builds without the
// interpreter, and the message of its failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/memory.h"
#include "platform/native_failure.h"
#include "src/storage/attribute_map.h"
#include "src/storage/node_string.h"
#include "structural/index/structural.h"

namespace quorvane::read {

// One element as parsed: a NodeRecord whose children are records of the
// same document, owned by its ElementPool. The pool holds a document's
// elements in the order of their start tags, so an element's children are
// the first `child_count` elements below it in that order that are not
// descendants of an earlier child: the tree needs no links between records.
struct ParsedElement {
    storage::NodeString name;
    storage::AttributeMap attrs;
    storage::OptionalString text;
    std::size_t child_count = 0;
};

// Owns every element of one parse. Elements are made in blocks that never
// move, so the walk holds the open ones by pointer, and releasing a
// document is one linear pass over the blocks, whatever its depth or width.
class ElementPool {
public:
    ElementPool() = default;
    ElementPool(ElementPool&& other) noexcept
        : blocks_(std::exchange(other.blocks_, {})),
          used_(std::exchange(other.used_, 0)),
          moved_out_(std::exchange(other.moved_out_, false)) {}
    ElementPool& operator=(ElementPool&&) = delete;
    ElementPool(const ElementPool&) = delete;
    ElementPool& operator=(const ElementPool&) = delete;
    ~ElementPool() { release(); }

    // A new empty element, alive as long as the pool.
    ParsedElement& make() {
        if (blocks_.empty() || used_ == blocks_.back().capacity) add_block();
        ParsedElement* at = blocks_.back().elements + used_++;
        // Records are written once, in order, to memory no cache holds yet:
        // asking for the line a few records ahead hides the wait for it.
        __builtin_prefetch(at + 8, 1);
        return *new (at) ParsedElement();
    }

    // Calls `visit` on every element, the last made first. Elements are made
    // in document order of their start tags, so every element is visited
    // after all of its descendants.
    template <class Visit>
    bool visit_backwards(Visit visit) {
        for (std::size_t b = blocks_.size(); b-- > 0;) {
            const std::size_t made = b + 1 == blocks_.size() ? used_ : blocks_[b].capacity;
            for (std::size_t i = made; i-- > 0;) {
                // Descending through tens of megabytes, a record is rarely in
                // a cache when its turn comes: ask for it ahead.
                if (i >= kVisitAhead) __builtin_prefetch(&blocks_[b].elements[i - kVisitAhead]);
                if (!visit(blocks_[b].elements[i])) return false;
            }
        }
        return true;
    }

    // Calls `visit` on every element in the order made, until it returns false.
    template <class Visit>
    void visit_forwards(Visit visit) {
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            const std::size_t made = b + 1 == blocks_.size() ? used_ : blocks_[b].capacity;
            for (std::size_t i = 0; i < made; ++i) {
                if (!visit(blocks_[b].elements[i])) return;
            }
        }
    }

    // Every element's parts were moved into a Node, which leaves them owning
    // nothing: the pool then returns its blocks without another pass over
    // tens of megabytes of records.
    void mark_moved_out() noexcept { moved_out_ = true; }

private:
    // The first block comes from the heap and suits the many small
    // documents. Later ones are mapped on their own, in huge pages where the
    // system gives them: the records of a large document then fault in a few
    // pages at a time, and releasing them leaves no holes in the heap, which
    // the tree's attribute tables, made in between, would pin for its life.
    static constexpr std::size_t kFirstBlockElements = 1024;
    static constexpr std::size_t kMappedBlockBytes = platform::kLargeAllocationBytes;
    static constexpr std::size_t kMappedBlockElements = kMappedBlockBytes / sizeof(ParsedElement);
    static constexpr std::align_val_t kAlignment{alignof(ParsedElement)};
    static constexpr std::size_t kVisitAhead = 8;

    struct Block {
        ParsedElement* elements;
        std::size_t capacity;
    };

    void add_block();
    void release() noexcept;

    std::vector<Block> blocks_;
    std::size_t used_ = 0;  // elements made in the last block
    bool moved_out_ = false;
};

// A parsed root element and its descendants: the first element of the pool
// and all that follow it.
struct ParsedDocument {
    ElementPool pool;
};

// Largest document the reader accepts: 6 GiB. The index names entries and
// their parents with 32-bit signed indices, and no entry is shorter than
// three bytes ("<a>"), so no document this long holds more entries than
// they count.
inline constexpr std::uint64_t kMaxDocumentBytes = std::uint64_t{6} << 30;

// The message of the ValueError a reader failure is raised as.
std::string format_read_error(const NativeFailure& error);

}  // namespace quorvane::read
