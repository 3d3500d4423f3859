// A detached tree as indented XML text, written to any sink.
//
// Each element starts on a new line indented to its depth unless it follows
// its parent's text, which it continues; an element with only text is one
// line; an element with children ends on a line of its own; an absent text
// without children gives the `/>` form. Names are written as they are,
// attribute values and text escaped.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "platform/interrupt.h"
#include "src/storage/tree_walk.h"
#include "src/write/copy_bytes.h"
#include "src/write/detached_tree.h"
#include "src/write/escape.h"

namespace quorvane::write {

// Written before the root element when asked for, line feed included.
inline constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

// A 64-bit count that remembers having overflowed.
class CheckedCount {
public:
    void add(std::uint64_t amount) {
        overflowed_ |= __builtin_add_overflow(value_, amount, &value_);
    }
    void add_product(std::uint64_t a, std::uint64_t b) {
        std::uint64_t product;
        overflowed_ |= __builtin_mul_overflow(a, b, &product);
        add(product);
    }
    void add(const CheckedCount& other) {
        overflowed_ |= other.overflowed_;
        add(other.value_);
    }

    std::uint64_t value() const { return value_; }
    bool overflowed() const { return overflowed_; }

private:
    std::uint64_t value_ = 0;
    bool overflowed_ = false;
};

// `<` and `>` of the start tag with `</` and `>` of the end tag.
inline constexpr std::uint64_t kTagMarkupBytes = 5;
// ` name="value"` besides the name and the value.
inline constexpr std::uint64_t kAttributeMarkupBytes = 4;

// The bytes a node's tags, attributes and text take before escaping, without
// its children and the line breaks among them.
inline std::uint64_t own_bytes(const DetachedNode& node) {
    // <name, and ' name="value"' for each attribute
    const std::uint64_t start_tag = 1 + node.name.size +
                                    kAttributeMarkupBytes * std::uint64_t{node.attribute_count} +
                                    node.attribute_bytes;
    if (!node.text.present() && node.child_count == 0) return start_tag + 2;  // />
    return start_tag + 1 + node.text.size + 3 + node.name.size;               // >text</name>
}

// The line breaks before a node's children: one before each, but for a
// first child that follows the text. The end tag of a node with children
// takes one more.
inline std::uint64_t child_breaks(const DetachedNode& node) {
    return node.child_count - (node.text.present() && node.child_count != 0 ? 1 : 0);
}

// The length of the text TreeWriter gives before escaping adds to it, or
// nothing when it does not fit in 64 bits.
//
// Counted node by node while a tree that shares no node is copied: each
// node is then written once, at the depth it is copied at, and its line
// breaks are counted in levels of indentation, so no indent is needed yet.
class UnescapedSizeCount {
public:
    void add(const DetachedNode& node, std::uint64_t depth) {
        std::uint64_t bytes = own_bytes(node);
        if (node.child_count != 0) {
            // The children's lines are one level deeper; the end tag's is at
            // this node's depth.
            const std::uint64_t breaks = child_breaks(node);
            bytes += breaks + 1;
            levels_.add_product(breaks, depth + 1);
            levels_.add(depth);
        }
        bytes_.add(bytes);
    }

    std::optional<std::uint64_t> total(std::uint64_t indent, bool declaration) const;

private:
    CheckedCount bytes_;  // all but the indentation
    CheckedCount levels_;
};

// The same length measured from the tree alone, when nobody counted it. A
// node marked shared is measured once, so this costs a pass over the
// distinct nodes, however often they are written.
std::optional<std::uint64_t> unescaped_output_size(const DetachedTree& tree, std::uint64_t indent,
                                                   bool declaration);

// A start tag with its text, or an end tag, that may take more than this
// many bytes is written piece by piece; a shorter one straight into room
// the sink gives, so a long text never asks for six times its length.
inline constexpr std::uint64_t kDirectWriteBytes = 4096;

// Sinks offer append(std::string_view) and append_spaces(count), each false
// on failure, reserve(size) and commit(end) for writing into their room,
// fail_too_large(), called when a line's indentation has more spaces than
// 64 bits count, and fail_stopped(), called when the writing was asked to
// stop (see platform/interrupt.h).
template <class Sink>
class TreeWriter {
public:
    TreeWriter(Sink& sink, const DetachedTree& tree, std::uint64_t indent)
        : sink_(sink),
          tree_(tree),
          indent_(indent),
          direct_depth_limit_(indent == 0 ? UINT64_MAX : (kDirectWriteBytes - 1) / indent) {}

    // False at the sink's first failure, which ends the writing at once.
    bool write() { return storage::walk(*this, &tree_.root()); }

    // The tree walk's callbacks: an open element keeps the node whose end
    // tag is still to come.
    using Child = const DetachedNode*;
    using State = const DetachedNode*;

    bool enter(const DetachedNode* node, std::span<const DetachedNode* const>,
               storage::WalkStack<Child, State>& stack) {
        const Opened opened = open(*node);
        if (opened == Opened::Failed) return false;
        if (opened == Opened::Open) stack.descend(node->child_list(), node);
        return true;
    }
    bool leave(const DetachedNode* node, const DetachedNode* const*) { return close(*node); }
    // A tree sharing its nodes can stand for more text than any disk holds,
    // so the writing stops when asked.
    static constexpr std::uint32_t kPollInterval = 1024;
    bool poll() {
        if (platform::stop_requested(kPollInterval * kPollBytesPerNode))
            return sink_.fail_stopped();
        return true;
    }

private:
    // Counted as this many bytes each towards the clock reads of
    // stop_requested(), which a node's few tags and text roughly take.
    static constexpr std::uint64_t kPollBytesPerNode = 64;

    // What open() did: failed at the sink, wrote the whole element, or left
    // its children and end tag to come.
    enum class Opened { Failed, Closed, Open };

    static bool has_content(const DetachedNode& node) {
        return node.text.present() || node.child_count != 0;
    }

    bool line_break() {
        std::uint64_t spaces;
        if (__builtin_mul_overflow(indent_, depth_, &spaces)) return sink_.fail_too_large();
        return sink_.append("\n") && sink_.append_spaces(spaces);
    }

    // The bytes of the line break before the next tag: none when no break
    // is pending, more than kDirectWriteBytes when its spaces are too many
    // to write directly (or to count).
    std::uint64_t direct_break_room() const {
        if (!line_break_pending_) return 0;
        if (depth_ > direct_depth_limit_) return kDirectWriteBytes + 1;
        return 1 + indent_ * depth_;
    }

    // Writes the pending line break at `out`; stores whole blocks of 16
    // spaces, which the room of a direct write allows.
    char* put_line_break(char* out) {
        if (!line_break_pending_) return out;
        *out++ = '\n';
        const std::uint64_t spaces = indent_ * depth_;
        for (std::uint64_t i = 0; i < spaces; i += 16) std::memset(out + i, ' ', 16);
        return out + spaces;
    }

    static char* put(char* out, std::string_view bytes) {
        copy_bytes(out, bytes.data(), bytes.size());
        return out + bytes.size();
    }

    // The start tag and, for an element with content, the text; the
    // element's children follow. An element with text alone is written
    // whole, end tag included, when it is written directly. It stays out of
    // the walk's loop, which it would make slower inlined (by about 4% on
    // elements of many attributes).
    [[gnu::noinline]] Opened open(const DetachedNode& node) {
        if (char* out = reserve_for_start(node)) {
            out = put_line_break(out);
            line_break_pending_ = true;
            *out++ = '<';
            out = put(out, node.name.view());
            for (const DetachedAttribute& attribute : node.attribute_list()) {
                *out++ = ' ';
                out = put(out, attribute.name.view());
                std::memcpy(out, "=\"", 2);
                out = escape_to<EscapeMode::Attribute>(out + 2, attribute.value.view());
                *out++ = '"';
            }
            if (!has_content(node)) {
                std::memcpy(out, "/>", 2);
                sink_.commit(out + 2);
                return Opened::Closed;
            }
            *out++ = '>';
            if (node.child_count == 0) {
                out = escape_to<EscapeMode::Text>(out, node.text.view());
                std::memcpy(out, "</", 2);
                out = put(out + 2, node.name.view());
                *out++ = '>';
                sink_.commit(out);
                return Opened::Closed;
            }
            ++depth_;
            if (node.text.present()) {
                out = escape_to<EscapeMode::Text>(out, node.text.view());
                line_break_pending_ = false;
            }
            sink_.commit(out);
            return Opened::Open;
        }
        if (!open_piecewise(node)) return Opened::Failed;
        return has_content(node) ? Opened::Open : Opened::Closed;
    }

    // Room for writing the start tag and text directly, with everything
    // escaped could make of them, or null to write them piece by piece.
    char* reserve_for_start(const DetachedNode& node) {
        // The end tag may follow the text. An attribute's name and value
        // are bounded together as if both were escaped.
        const std::uint64_t room =
            direct_break_room() + kTagMarkupBytes + 2 * node.name.size +
            escape_room(node.text.size) + kEscapeGrowth * node.attribute_bytes +
            (kAttributeMarkupBytes + kEscapeOverrun) * std::uint64_t{node.attribute_count};
        return room > kDirectWriteBytes ? nullptr : sink_.reserve(room);
    }

    bool open_piecewise(const DetachedNode& node) {
        if (line_break_pending_ && !line_break()) return false;
        line_break_pending_ = true;
        if (!sink_.append("<") || !sink_.append(node.name.view())) return false;
        for (const DetachedAttribute& attribute : node.attribute_list()) {
            if (!sink_.append(" ") || !sink_.append(attribute.name.view()) ||
                !sink_.append("=\"") ||
                !escape_into<EscapeMode::Attribute>(sink_, attribute.value.view()) ||
                !sink_.append("\"")) {
                return false;
            }
        }
        if (!has_content(node)) return sink_.append("/>");
        if (!sink_.append(">")) return false;
        ++depth_;
        if (node.text.present()) {
            if (!escape_into<EscapeMode::Text>(sink_, node.text.view())) return false;
            line_break_pending_ = false;
        }
        return true;
    }

    bool close(const DetachedNode& node) {
        --depth_;
        if (const std::uint64_t room = direct_break_room() + 3 + node.name.size + 16;
            room <= kDirectWriteBytes) {
            if (char* out = sink_.reserve(room)) {
                out = put_line_break(out);
                line_break_pending_ = true;
                std::memcpy(out, "</", 2);
                out = put(out + 2, node.name.view());
                *out++ = '>';
                sink_.commit(out);
                return true;
            }
        }
        if (line_break_pending_ && !line_break()) return false;
        line_break_pending_ = true;
        return sink_.append("</") && sink_.append(node.name.view()) && sink_.append(">");
    }

    Sink& sink_;
    const DetachedTree& tree_;
    std::uint64_t indent_;
    // The deepest level whose indentation is written directly.
    std::uint64_t direct_depth_limit_;
    std::uint64_t depth_ = 0;
    // Set after every element; cleared by text, which the next child then
    // follows on the same line.
    bool line_break_pending_ = false;
};

}  // namespace quorvane::write
