#include "src/read/scanner.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/interrupt.h"
#include "platform/memory.h"
#include "src/read/heap_text.h"
#include "src/read/references.h"
#include "src/read/start_tag.h"
#include "src/read/unicode_space.h"
#include "structural/index/structural.h"
#include "structural/markup_bytes.h"

namespace quorvane::read {

namespace {

using structural::kCDataClose;
using structural::kCDataOpen;
using structural::kCommentClose;
using structural::kCommentOpen;
using structural::kProcessingInstructionClose;
using structural::StructuralIndex;
using structural::TagKind;

// The character data collected for one open element. One unchanged piece
// stays a view of the document; only a second piece, or a rewritten one,
// costs a heap string.
class TextAccumulator {
public:
    bool empty() const { return state_ == State::Empty; }

    void add_slice(std::string_view text, std::uint64_t start, std::uint64_t end) {
        if (start == end) return;
        if (state_ == State::Empty) {
            state_ = State::Borrowed;
            start_ = start;
            end_ = end;
            return;
        }
        if (state_ == State::Borrowed) take_borrowed(text, end - start);
        owned_.append(text.substr(start, end - start));
    }

    void add_rewritten(std::string_view text, HeapText piece) {
        if (piece.size() == 0) return;
        if (state_ == State::Empty) {
            state_ = State::Owned;
            owned_ = std::move(piece);
            return;
        }
        if (state_ == State::Borrowed) take_borrowed(text, piece.size());
        owned_.append(piece.view());
    }

    // The trimmed text, absent when nothing but white space was collected.
    storage::OptionalString finish(storage::SpanCredit& spans) && {
        const std::string_view text = spans.source()->text();
        switch (state_) {
            case State::Empty:
                return std::nullopt;
            case State::Borrowed: {
                const Trimmed t = trim_space(text.substr(start_, end_ - start_));
                if (t.first == t.last) return std::nullopt;
                return spans.span(start_ + t.first, start_ + t.last);
            }
            case State::Owned: {
                const std::string_view collected = owned_.view();
                const Trimmed t = trim_space(collected);
                if (t.first == t.last) return std::nullopt;
                if (t.first == 0 && t.last == collected.size())
                    return std::move(owned_).into_string();
                return storage::NodeString::owned(collected.substr(t.first, t.last - t.first));
            }
        }
        return std::nullopt;
    }

private:
    enum class State : std::uint8_t { Empty, Borrowed, Owned };

    // Borrowed -> Owned: the first piece copied into a block with room for
    // the second, so the common text of two pieces is never regrown.
    void take_borrowed(std::string_view text, std::size_t next_piece) {
        owned_ = HeapText(end_ - start_ + next_piece);
        owned_.append(text.substr(start_, end_ - start_));
        state_ = State::Owned;
    }

    State state_ = State::Empty;
    std::uint64_t start_ = 0;
    std::uint64_t end_ = 0;
    HeapText owned_;
};

struct OpenElement {
    ParsedElement* element;
    std::string_view name;  // the element's name in the document, for end tags
    TextAccumulator text;
};

bool ends_with_at(std::string_view text, std::uint64_t end, std::string_view suffix) {
    return end + 1 >= suffix.size() &&
           text.compare(end + 1 - suffix.size(), suffix.size(), suffix) == 0;
}

class Scanner {
public:
    Scanner(storage::SourceBuffer* source, const StructuralIndex& index, std::string_view root_tag)
        : spans_(source),
          text_(source->text()),
          index_(index),
          root_tag_(root_tag),
          tables_(storage::take_hash_key()) {}

    // The root element, which lives in pool().
    std::expected<ParsedElement*, NativeFailure> run();
    // Moves the attribute tables out of the thread's scratch chunk, once the
    // walk has made them all.
    void settle_tables();
    ElementPool& pool() { return pool_; }

private:
    using Step = std::expected<void, NativeFailure>;
    // Set once the walk is over: the root, or the failure.
    using Outcome = std::optional<std::expected<ParsedElement*, NativeFailure>>;

    Step route_text(const structural::TextRange& range);
    Step on_open(std::size_t i);
    Outcome on_self_closing(std::size_t i);
    Outcome on_close(std::size_t i);

    storage::SpanCredit spans_;
    std::string_view text_;
    const StructuralIndex& index_;
    std::string_view root_tag_;
    AttributeTables tables_;
    ElementPool pool_;
    std::vector<OpenElement> stack_;
    std::vector<std::string_view> outer_names_;  // open outside the root
    std::size_t next_text_ = 0;
};

Scanner::Step Scanner::route_text(const structural::TextRange& range) {
    const std::string_view piece = text_.substr(range.start, range.end - range.start);
    TextAccumulator& text = stack_.back().text;
    // Leading white space is trimmed in the end anyway, so indentation before
    // an element's first real text costs neither a decode nor a copy.
    if (text.empty() && all_space(piece)) return {};
    // No range holds a '<': the index ends character data at every one, and
    // keeps a mask-built index only when no '<' was lost to its quote state.
    auto decoded = decode_text(piece, range.start, false);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    if (decoded->rewritten) {
        text.add_rewritten(text_, std::move(*decoded->rewritten));
    } else {
        text.add_slice(text_, range.start, range.end);
    }
    return {};
}

Scanner::Step Scanner::on_open(std::size_t i) {
    const std::string_view name = index_.tag_name(i);
    if (stack_.empty() && name != root_tag_) {
        // Outside the root only the name matters, to match the end tag.
        if (name.empty()) return std::unexpected(missing_element_name(index_, i));
        outer_names_.push_back(name);
        return {};
    }
    ParsedElement& element = pool_.make();
    stack_.push_back(OpenElement{&element, name, {}});
    return parse_start_tag(spans_, index_, i, tables_, element);
}

Scanner::Outcome Scanner::on_self_closing(std::size_t i) {
    // Parsed wherever it stands, so errors in its attributes are reported;
    // only an element that is kept takes room in the pool.
    const bool kept = !stack_.empty() || index_.tag_name(i) == root_tag_;
    ParsedElement dropped;
    ParsedElement& element = kept ? pool_.make() : dropped;
    if (auto parsed = parse_start_tag(spans_, index_, i, tables_, element); !parsed) {
        return std::unexpected(std::move(parsed.error()));
    }
    if (stack_.empty()) return kept ? Outcome(&element) : std::nullopt;
    ++stack_.back().element->child_count;
    return std::nullopt;
}

Scanner::Outcome Scanner::on_close(std::size_t i) {
    const std::uint64_t start = index_.tag_starts[i];
    const std::string_view name = index_.tag_name(i);
    const std::uint64_t after_name = start + structural::kEndTagOpen.size() + name.size();
    if (after_name < index_.tag_ends[i] &&
        !all_space(text_.substr(after_name, index_.tag_ends[i] - after_name))) {
        return std::unexpected(
            NativeFailure::malformed("malformed end tag </" + std::string(name) + ">", start));
    }
    auto mismatch = [&](std::string_view open) {
        return std::unexpected(NativeFailure::malformed(
            "expected </" + std::string(open) + ">, found </" + std::string(name) + ">", start));
    };
    if (stack_.empty()) {
        if (outer_names_.empty()) {
            return std::unexpected(
                NativeFailure::malformed("unexpected end tag </" + std::string(name) + ">", start));
        }
        if (!same_name(outer_names_.back(), name)) return mismatch(outer_names_.back());
        outer_names_.pop_back();
        return std::nullopt;
    }
    OpenElement& top = stack_.back();
    if (!same_name(top.name, name)) return mismatch(top.name);
    top.element->text = std::move(top.text).finish(spans_);
    ParsedElement* closed = top.element;
    stack_.pop_back();
    if (stack_.empty()) return closed;
    ++stack_.back().element->child_count;
    return std::nullopt;
}

std::expected<ParsedElement*, NativeFailure> Scanner::run() {
    const std::uint64_t n = text_.size();
    const auto& ranges = index_.text_ranges;
    const std::size_t entries = index_.entry_count();
    platform::PositionPoll poll;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint64_t start = index_.tag_starts[i];
        const std::uint64_t end = index_.tag_ends[i];
        if (poll.stop_requested(start)) return std::unexpected(NativeFailure::stopped());
        if (end >= n)
            return std::unexpected(NativeFailure::malformed("unterminated markup", start));
        for (; next_text_ < ranges.size() && ranges[next_text_].start < start; ++next_text_) {
            if (stack_.empty()) continue;  // text outside the root is never decoded
            if (auto routed = route_text(ranges[next_text_]); !routed) {
                return std::unexpected(std::move(routed.error()));
            }
        }
        switch (index_.tag_kind(i)) {
            case TagKind::Open:
                if (auto opened = on_open(i); !opened)
                    return std::unexpected(std::move(opened.error()));
                break;
            case TagKind::SelfClosing:
                if (auto done = on_self_closing(i)) return std::move(*done);
                break;
            case TagKind::Close:
                if (auto done = on_close(i)) return std::move(*done);
                break;
            case TagKind::Comment:
                // `end` is the '>' of the closing delimiter, which may not
                // share a dash with the opening one.
                if (end + 1 - start < kCommentOpen.size() + kCommentClose.size() ||
                    !ends_with_at(text_, end, kCommentClose)) {
                    return std::unexpected(NativeFailure::malformed("unterminated comment", start));
                }
                break;
            case TagKind::CData:
                if (!ends_with_at(text_, end, kCDataClose)) {
                    return std::unexpected(
                        NativeFailure::malformed("unterminated CDATA section", start));
                }
                if (!stack_.empty()) {
                    stack_.back().text.add_slice(text_, start + kCDataOpen.size(),
                                                 end + 1 - kCDataClose.size());
                }
                // The section's content is not character data to route.
                while (next_text_ < ranges.size() && ranges[next_text_].start < end) ++next_text_;
                break;
            case TagKind::ProcessingInstruction:
                if (!ends_with_at(text_, end, kProcessingInstructionClose)) {
                    return std::unexpected(
                        NativeFailure::malformed("unterminated processing instruction", start));
                }
                break;
        }
    }
    if (!stack_.empty()) return std::unexpected(NativeFailure::never_closed(stack_.back().name));
    return std::unexpected(NativeFailure::root_not_found(root_tag_));
}

// The tables are in document order, so both walks stop at the last one
// still in the scratch chunk.
void Scanner::settle_tables() {
    storage::BlockArena::Settling settling(tables_.arena());
    if (settling.nothing_to_move()) return;
    pool_.visit_forwards([&](ParsedElement& element) {
        element.attrs.measure_block(settling);
        return !settling.found_all();
    });
    settling.reserve();
    pool_.visit_forwards([&](ParsedElement& element) {
        element.attrs.follow_block(settling);
        return !settling.moved_all();
    });
}

}  // namespace

std::expected<ParsedDocument, NativeFailure> parse_document(storage::SourceBuffer* source,
                                                            std::string_view root_tag) {
    const std::string_view text = source->text();
    if (text.size() > kMaxDocumentBytes)
        return std::unexpected(NativeFailure::too_large(text.size()));
    const platform::ReserveCall call;
    // Running out of memory is no fault of the document: it goes up as
    // std::bad_alloc, which the call boundary raises as MemoryError.
    structural::IndexResult index = structural::build_index(text);
    if (!index) return std::unexpected(std::move(index.error()));
    Scanner scanner(source, *index, root_tag);
    auto root = scanner.run();
    if (!root) return std::unexpected(std::move(root.error()));
    scanner.settle_tables();
    return ParsedDocument{std::move(scanner.pool())};
}

}  // namespace quorvane::read
