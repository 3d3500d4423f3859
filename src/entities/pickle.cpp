// Pickling. A tree travels as one bytes object holding its nodes flat, in
// post-order (each after its children), so no depth of nesting reaches the
// native stack or pickle's own recursion. A child is named by its distance
// back to it, so a node standing in several places is written once and
// loads as one object. The strings follow the records, one after another,
// so that together they are UTF-8 text in which every string starts and
// ends on a character boundary: a loaded tree's strings are spans into the
// pickled bytes, never copied.
//
//   state   := version node_count records_length record{node_count} strings
//   record  := length(name) text attr_count (length(key) length(value)){attr_count}
//              child_count distance{child_count}
//   text    := 0 (absent) | length + 1
//   strings := the bytes of every length above, in the same order
// Every number is an unsigned LEB128 varint; a distance is at least 1 and
// at most the record's own index.
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/interpreter_state.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/entities/operations.h"
#include "src/storage/span_credit.h"
#include "structural/simd/utf8.h"

namespace quorvane {

namespace {

constexpr std::uint64_t kFormatVersion = 1;

// A varint byte holds seven bits of the number, lowest first, and its high
// bit says whether another byte follows.
constexpr unsigned kNumberBits = 7;
constexpr unsigned kNumberMore = 0x80;

// --- writing -------------------------------------------------------------------

class StateWriter {
public:
    void number(std::uint64_t value) { append_number(records_, value); }
    void text(std::string_view text) {
        number(text.size());
        strings_.append(text);
    }
    // A text whose length the caller wrote in its own way.
    void text_bytes(std::string_view text) { strings_.append(text); }

    // The whole state, for `node_count` records, in one bytes object.
    Result<PyRef> finish(std::uint64_t node_count) const {
        std::string head;
        append_number(head, kFormatVersion);
        append_number(head, node_count);
        append_number(head, records_.size());
        PyRef state = PyRef::steal(PyBytes_FromStringAndSize(
            nullptr, static_cast<Py_ssize_t>(head.size() + records_.size() + strings_.size())));
        if (!state) return std::unexpected(raised());
        char* at = PyBytes_AS_STRING(state.get());
        for (const std::string* part : {&std::as_const(head), &records_, &strings_}) {
            std::memcpy(at, part->data(), part->size());
            at += part->size();
        }
        return state;
    }

private:
    static void append_number(std::string& out, std::uint64_t value) {
        while (value >= kNumberMore) {
            out.push_back(static_cast<char>(value | kNumberMore));
            value >>= kNumberBits;
        }
        out.push_back(static_cast<char>(value));
    }

    std::string records_;
    std::string strings_;
};

Result<void> write_record(StateWriter& out, const NodeObject& node, std::uint32_t index,
                          std::span<const std::uint32_t> child_indices) {
    auto name = resolved(node.name);
    if (!name) return std::unexpected(std::move(name.error()));
    out.text(*name);
    if (node.text) {
        auto text = resolved(*node.text);
        if (!text) return std::unexpected(std::move(text.error()));
        out.number(text->size() + 1);
        out.text_bytes(*text);
    } else {
        out.number(0);
    }
    out.number(node.attrs.size());
    for (const storage::AttributeMap::Entry& entry : node.attrs) {
        auto key = resolved(entry.key);
        if (!key) return std::unexpected(std::move(key.error()));
        auto value = resolved(entry.value);
        if (!value) return std::unexpected(std::move(value.error()));
        out.text(*key);
        out.text(*value);
    }
    out.number(child_indices.size());
    for (const std::uint32_t child : child_indices) out.number(index - child);
    return {};
}

// The tree below `root` as pickle state. Each node's children are written
// before it; their record indices wait on a stack until their parent's
// record is written. A node only its parent holds stands in one place, so
// only nodes with other holders are looked up and remembered.
class TreeState : public NodeWalk {
public:
    struct State {
        const NodeObject* node = nullptr;
    };

    bool enter(PyObject* object, std::span<PyObject* const>,
               storage::WalkStack<PyObject*, State>& stack) {
        const NodeObject* node = as_node(object);
        if (Py_SIZE(node) > 0) {
            stack.descend(node->children(), {node});
            return true;
        }
        return record(*node);
    }
    bool leave(State& state, State*) { return record(*state.node); }
    static bool may_share(PyObject* node) { return Py_REFCNT(node) > 1; }
    bool again(std::uint32_t index, State&) {
        indices_.push_back(index);
        return true;
    }

    // The record index of each node written so far that may stand in more
    // than one place.
    storage::SeenNodes<std::uint32_t> seen;
    StateWriter body;
    std::uint32_t written = 0;

private:
    bool record(const NodeObject& node) {
        if (written == std::numeric_limits<std::uint32_t>::max()) {
            return fail(value_error("tree has too many nodes to pickle"));
        }
        const std::size_t first_child = indices_.size() - node.children().size();
        if (auto wrote =
                write_record(body, node, written, std::span(indices_).subspan(first_child));
            !wrote) {
            return fail(std::move(wrote.error()));
        }
        indices_.resize(first_child);
        indices_.push_back(written);
        const PyObject* object = reinterpret_cast<const PyObject*>(&node);
        if (Py_REFCNT(object) > 1) seen.add(object, written);
        ++written;
        return true;
    }

    std::vector<std::uint32_t> indices_;
};

Result<PyRef> tree_state(PyObject* root) {
    TreeState state;
    if (auto walked = walk_locked(state, root); !walked)
        return std::unexpected(std::move(walked.error()));
    return state.body.finish(state.written);
}

// The function pickle calls to load a tree: the module's _restore_node.
Result<PyRef> restore_function() {
    InterpreterState* state = interpreter_state();
    if (!state || !state->restore_function)
        return std::unexpected(internal_failure("quorvane is not imported here"));
    return PyRef::borrow(state->restore_function);
}

// --- reading -------------------------------------------------------------------

// Reads pickle state, refusing anything a dump could not have written: the
// records from the front, the strings from where the records end.
class StateReader {
public:
    explicit StateReader(std::string_view bytes) : bytes_(bytes), records_end_(bytes.size()) {}

    std::size_t offset() const { return at_; }
    // Record bytes left: the records end where the strings begin.
    std::size_t remaining() const { return records_end_ - at_; }
    bool records_done() const { return at_ == records_end_ && strings_at_ == bytes_.size(); }

    // The records are the next `length` bytes; the strings follow them.
    bool split(std::uint64_t length) {
        if (length > remaining()) return false;
        records_end_ = at_ + static_cast<std::size_t>(length);
        strings_at_ = records_end_;
        return true;
    }

    bool number(std::uint64_t& value) {
        value = 0;
        for (unsigned shift = 0; shift < 64; shift += kNumberBits) {
            if (at_ == records_end_) return false;
            const auto byte = static_cast<unsigned char>(bytes_[at_++]);
            // The tenth byte holds the 64th bit alone.
            if (shift == 63 && byte > 1) return false;
            value |= std::uint64_t{byte & (kNumberMore - 1)} << shift;
            if (byte < kNumberMore) return true;
        }
        return false;
    }
    // The next `length` bytes of the strings, valid UTF-8 that starts and
    // ends on character boundaries of the whole state, as a span must; their
    // offset goes to `start`. (An empty string lying inside a character, or
    // one that ends where a character of the next goes on, is valid alone.)
    bool text(std::uint64_t length, std::size_t& start) {
        if (length > bytes_.size() - strings_at_) return false;
        start = strings_at_;
        strings_at_ += static_cast<std::size_t>(length);
        return !continues_a_character(start) && !continues_a_character(strings_at_) &&
               structural::is_valid_utf8(bytes_.substr(start, static_cast<std::size_t>(length)));
    }

private:
    bool continues_a_character(std::size_t at) const {
        return at < bytes_.size() && (static_cast<unsigned char>(bytes_[at]) & 0xC0) == 0x80;
    }

    std::string_view bytes_;
    std::size_t at_ = 0;
    std::size_t records_end_;
    std::size_t strings_at_ = 0;
};

Failure invalid_state(const StateReader& reader, const char* what) {
    return value_error("invalid pickled Node data at byte " + std::to_string(reader.offset()) +
                       ": " + what);
}

// Strings of the loaded tree: spans into the pickled bytes, which they keep
// alive.
class StringMaker {
public:
    StringMaker(PyObject* state, std::string_view bytes)
        : source_(storage::SourceRef::adopt(borrowing_source(bytes, state))),
          spans_(source_.get()) {}

    storage::NodeString make(std::size_t start, std::size_t length) {
        return spans_.span(start, start + length);
    }

private:
    storage::SourceRef source_;
    storage::SpanCredit spans_;
};

Result<PyRef> restore_tree(PyObject* state) {
    if (!PyBytes_Check(state)) return std::unexpected(cast_error(state, "bytes"));
    const std::string_view bytes(PyBytes_AS_STRING(state),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(state)));
    StateReader in(bytes);
    std::uint64_t version = 0, count = 0, records_length = 0;
    if (!in.number(version) || version != kFormatVersion) {
        return std::unexpected(invalid_state(in, "unknown format"));
    }
    if (!in.number(count) || !in.number(records_length) || !in.split(records_length) ||
        count == 0 || count > in.remaining() / 4) {  // every record takes at least four bytes
        return std::unexpected(invalid_state(in, "bad node count"));
    }
    const NodeClass node_class = current_node_class();
    if (!node_class.type) return std::unexpected(raised());
    StringMaker strings(state, bytes);
    std::vector<PyRef> nodes;
    nodes.reserve(static_cast<std::size_t>(count));
    std::vector<PyObject*> children;
    auto string = [&](storage::NodeString& into, std::uint64_t length) {
        std::size_t start = 0;
        if (!in.text(length, start)) return false;
        into = strings.make(start, static_cast<std::size_t>(length));
        return true;
    };
    for (std::uint64_t index = 0; index < count; ++index) {
        std::uint64_t length = 0;
        storage::NodeString name;
        if (!in.number(length) || !string(name, length)) {
            return std::unexpected(invalid_state(in, "bad name"));
        }
        storage::OptionalString text;
        if (!in.number(length)) return std::unexpected(invalid_state(in, "bad text"));
        if (length != 0) {
            storage::NodeString present;
            if (!string(present, length - 1)) return std::unexpected(invalid_state(in, "bad text"));
            text = std::move(present);
        }
        std::uint64_t attr_count = 0;
        // Every attribute takes at least two bytes.
        if (!in.number(attr_count) || attr_count > in.remaining() / 2) {
            return std::unexpected(invalid_state(in, "bad attribute count"));
        }
        storage::AttributeMap attrs(storage::take_hash_key(), static_cast<std::size_t>(attr_count));
        for (std::uint64_t a = 0; a < attr_count; ++a) {
            storage::NodeString key, value;
            if (!in.number(length) || !string(key, length) || !in.number(length) ||
                !string(value, length)) {
                return std::unexpected(invalid_state(in, "bad attribute"));
            }
            // A repeated key replaces the value and leaves the size as it was.
            const std::size_t before = attrs.size();
            if (auto inserted = attrs.insert(std::move(key), std::move(value)); !inserted) {
                return std::unexpected(internal_failure(std::move(inserted.error())));
            }
            if (attrs.size() == before) {
                return std::unexpected(invalid_state(in, "repeated attribute"));
            }
        }
        std::uint64_t child_count = 0;
        if (!in.number(child_count) || child_count > in.remaining()) {
            return std::unexpected(invalid_state(in, "bad child count"));
        }
        children.clear();
        for (std::uint64_t c = 0; c < child_count; ++c) {
            std::uint64_t distance = 0;
            if (!in.number(distance) || distance == 0 || distance > index) {
                return std::unexpected(invalid_state(in, "bad child"));
            }
            children.push_back(nodes[static_cast<std::size_t>(index - distance)].get());
        }
        auto node =
            make_node_object(node_class, name, attrs, text, children.size(), [&](PyObject** slots) {
                for (PyObject* child : children) *slots++ = Py_NewRef(child);
            });
        if (!node) return std::unexpected(std::move(node.error()));
        nodes.push_back(std::move(*node));
    }
    if (!in.records_done()) return std::unexpected(invalid_state(in, "data after the last node"));
    return std::move(nodes.back());
}

}  // namespace

PyObject* node_reduce(PyObject* self, PyObject*) {
    return call_boundary([&]() -> Result<PyRef> {
        auto function = restore_function();
        if (!function) return function;
        auto state = tree_state(self);
        if (!state) return state;
        PyRef reduced = PyRef::steal(Py_BuildValue("(O(O))", function->get(), state->get()));
        if (!reduced) return std::unexpected(raised());
        return reduced;
    });
}

// Nodes are immutable, so a copy, shallow or deep, is the node itself.
PyObject* node_copy(PyObject* self, PyObject*) { return Py_NewRef(self); }
PyObject* node_deepcopy(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyObject* restore_node(PyObject*, PyObject* state) {
    return call_boundary([&] { return restore_tree(state); });
}

}  // namespace quorvane
