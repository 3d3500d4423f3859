// from_dict: Python data read into node descriptions, then the nodes. Both
// walks keep explicit stacks so that the depth of the data never reaches
// the native stack.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/entities/dict_failure.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/entities/operations.h"

namespace quorvane {

namespace {

using Items = std::vector<std::size_t>;  // descriptions, by index into the reader's arena

// A sequence's length only sizes its list up to this many items, so that a
// length that lies cannot reserve much.
constexpr Py_ssize_t kMostItemsReserved = 4096;

// One value of a description; the alternatives are the kinds in the order
// they are tried: String, Vec, NullableString, Map.
using Value = std::variant<storage::NodeString, Items, std::optional<storage::NodeString>,
                           storage::AttributeMap>;
constexpr std::size_t kStringKind = 0, kVecKind = 1, kNullableKind = 2, kMapKind = 3;

// Only the four keys a node is built from are kept; the values of other keys
// are read (their faults count) and dropped.
struct Description {
    std::optional<Value> name, attrs, children, text;
};

enum class Slot : unsigned char { Name, Attrs, Children, Text, Other };

Slot slot_of(std::string_view key) {
    if (key == "name") return Slot::Name;
    if (key == "attrs") return Slot::Attrs;
    if (key == "children") return Slot::Children;
    if (key == "text") return Slot::Text;
    return Slot::Other;
}

// A walk over a dict's entries in insertion order that refuses to go on once
// the dict has changed size, or has yielded more entries than it had.
class DictWalk {
public:
    explicit DictWalk(PyObject* dict)
        : dict_(PyRef::borrow(dict)), size_(PyDict_Size(dict)), remaining_(size_) {}

    PyObject* dict() const { return dict_.get(); }

    // The next entry (strong references), nothing at the end, or the internal failure.
    Result<bool> next(PyRef& key, PyRef& value) {
        if (PyDict_Size(dict_.get()) != size_) {
            return std::unexpected(internal_failure("dictionary changed size during iteration"));
        }
        if (remaining_ == -1)
            return std::unexpected(internal_failure("dictionary keys changed during iteration"));
        PyObject* entry_key = nullptr;
        PyObject* entry_value = nullptr;
        bool found = false;
        Py_BEGIN_CRITICAL_SECTION(dict_.get());
        found = PyDict_Next(dict_.get(), &position_, &entry_key, &entry_value);
        if (found) {
            key = PyRef::borrow(entry_key);
            value = PyRef::borrow(entry_value);
        }
        Py_END_CRITICAL_SECTION();
        if (found) --remaining_;
        return found;
    }

private:
    PyRef dict_;
    Py_ssize_t position_ = 0;
    Py_ssize_t size_;
    Py_ssize_t remaining_;
};

Result<storage::AttributeMap> read_map(PyObject* value) {
    if (!PyDict_Check(value)) return std::unexpected(cast_error(value, "dict"));
    DictWalk walk(value);
    PyRef key, item;
    return attribute_table(value, [&](PyObject*& entry_key, PyObject*& entry_value) {
        auto more = walk.next(key, item);
        if (more && *more) {
            entry_key = key.get();
            entry_value = item.get();
        }
        return more;
    });
}

// Reads a dict and every description nested in it. Each level of the stack
// is a dict being walked and, while the value of its current entry is tried
// as a Vec, that sequence's iterator and the descriptions read from it.
class DescriptionReader {
public:
    std::vector<Description> arena;

    std::expected<std::size_t, DescriptionFailure> read(PyObject* root) {
        if (!PyDict_Check(root))
            return std::unexpected(DescriptionFailure(cast_error(root, "dict")));
        enter(root);
        InterruptCheck interrupts;
        while (true) {
            if (auto checked = interrupts.step(); !checked) {
                return std::unexpected(DescriptionFailure(std::move(checked.error()), true));
            }
            std::optional<DescriptionFailure> failed = step();
            if (finished_) return finished_root_;
            // A description failed: it is the failure of the Vec its parent
            // was reading, which may in turn fail the parent.
            while (failed) {
                if (failed->fatal()) return std::unexpected(std::move(*failed));
                leave(stack_.back().walk.dict());
                stack_.pop_back();
                if (stack_.empty()) return std::unexpected(std::move(*failed));
                failed = vec_failed(stack_.back(), std::move(*failed));
            }
        }
    }

private:
    struct Level {
        DictWalk walk;
        std::size_t description;
        Slot slot = Slot::Other;
        PyRef sequence;
        PyRef iterator;
        std::optional<Failure> string_failure;
        Items items;
    };

    void enter(PyObject* dict) {
        on_path_.insert(dict);
        arena.emplace_back();
        stack_.push_back(Level{DictWalk(dict), arena.size() - 1, Slot::Other, {}, {}, {}, {}});
    }

    void leave(PyObject* dict) { on_path_.erase(dict); }

    std::optional<DescriptionFailure> step() {
        Level& level = stack_.back();
        if (level.iterator) return next_item(level);
        PyRef key, value;
        auto more = level.walk.next(key, value);
        if (!more) return DescriptionFailure(std::move(more.error()));
        if (*more) return read_entry(level, key.get(), value.get());
        const std::size_t done = level.description;
        leave(level.walk.dict());
        stack_.pop_back();
        if (stack_.empty()) {
            finished_ = true;
            finished_root_ = done;
        } else {
            stack_.back().items.push_back(done);
        }
        return std::nullopt;
    }

    std::optional<DescriptionFailure> next_item(Level& level) {
        PyRef item = PyRef::steal(PyIter_Next(level.iterator.get()));
        if (item) {
            if (!PyDict_Check(item.get()))
                return vec_failed(level, DescriptionFailure(cast_error(item.get(), "dict")));
            // A dict inside itself would describe an endless tree.
            if (on_path_.contains(item.get())) {
                return DescriptionFailure(value_error("Circular reference detected"), true);
            }
            enter(item.get());
            return std::nullopt;
        }
        if (PyErr_Occurred()) return vec_failed(level, DescriptionFailure(raised()));
        level.iterator = {};
        level.sequence = {};
        store(level, Value(std::in_place_index<kVecKind>, std::move(level.items)));
        level.items = {};
        return std::nullopt;
    }

    std::optional<DescriptionFailure> read_entry(Level& level, PyObject* key, PyObject* value) {
        auto key_text = text_view(key);
        if (!key_text) return DescriptionFailure(std::move(key_text.error()));
        level.slot = slot_of(*key_text);
        auto as_string = text_view(value);
        if (as_string) {
            store(level,
                  Value(std::in_place_index<kStringKind>, storage::NodeString::owned(*as_string)));
            return std::nullopt;
        }
        Failure string_failure = std::move(as_string.error());
        if (runs_out_of_memory(string_failure))
            return DescriptionFailure(std::move(string_failure));
        level.items.clear();
        auto iterator = children_iterator(value, [&](Py_ssize_t length) -> Result<void> {
            level.items.reserve(static_cast<std::size_t>(std::min(length, kMostItemsReserved)));
            return {};
        });
        if (!iterator) {
            return other_kinds(level, value, string_failure,
                               DescriptionFailure(std::move(iterator.error())));
        }
        level.sequence = PyRef::borrow(value);
        level.iterator = std::move(*iterator);
        level.string_failure = std::move(string_failure);
        return std::nullopt;
    }

    std::optional<DescriptionFailure> vec_failed(Level& level, DescriptionFailure failure) {
        if (failure.fatal()) return failure;
        PyRef sequence = std::move(level.sequence);
        level.iterator = {};
        level.items.clear();
        Failure string_failure = std::move(*level.string_failure);
        level.string_failure.reset();
        return other_kinds(level, sequence.get(), string_failure, std::move(failure));
    }

    // NullableString, then Map, once String and Vec have failed.
    std::optional<DescriptionFailure> other_kinds(Level& level, PyObject* value,
                                                  const Failure& string_failure,
                                                  DescriptionFailure vec_failure) {
        if (vec_failure.fatal()) return vec_failure;
        if (value == Py_None) {
            store(level, Value(std::in_place_index<kNullableKind>, std::nullopt));
            return std::nullopt;
        }
        auto nullable = text_view(value);
        if (nullable) {
            store(level,
                  Value(std::in_place_index<kNullableKind>, storage::NodeString::owned(*nullable)));
            return std::nullopt;
        }
        if (runs_out_of_memory(nullable.error()))
            return DescriptionFailure(std::move(nullable.error()));
        auto map = read_map(value);
        if (map) {
            store(level, Value(std::in_place_index<kMapKind>, std::move(*map)));
            return std::nullopt;
        }
        if (map.error().kind == Failure::Kind::Internal || runs_out_of_memory(map.error()))
            return DescriptionFailure(std::move(map.error()));
        return enum_failure(string_failure, std::move(vec_failure), nullable.error(), map.error());
    }

    void store(const Level& level, Value value) {
        Description& description = arena[level.description];
        switch (level.slot) {
            case Slot::Name:
                description.name = std::move(value);
                break;
            case Slot::Attrs:
                description.attrs = std::move(value);
                break;
            case Slot::Children:
                description.children = std::move(value);
                break;
            case Slot::Text:
                description.text = std::move(value);
                break;
            case Slot::Other:
                break;
        }
    }

    std::vector<Level> stack_;
    std::unordered_set<PyObject*> on_path_;
    bool finished_ = false;
    std::size_t finished_root_ = 0;
};

// --- from_dict: descriptions to nodes --------------------------------------------

template <std::size_t kind>
auto* kind_of(std::optional<Value>& value) {
    return value ? std::get_if<kind>(&*value) : nullptr;
}

Result<void> check(Description& description) {
    if (!kind_of<kStringKind>(description.name))
        return std::unexpected(value_error("Invalid name"));
    if (!kind_of<kMapKind>(description.attrs)) return std::unexpected(value_error("Invalid attrs"));
    if (!kind_of<kVecKind>(description.children))
        return std::unexpected(value_error("Invalid children"));
    return {};
}

std::optional<storage::NodeString> text_of(Description& description) {
    if (auto* text = kind_of<kStringKind>(description.text)) return std::move(*text);
    if (auto* text = kind_of<kNullableKind>(description.text)) return std::move(*text);
    return std::nullopt;
}

// Checks a node's description before any of its children is looked at and
// finishes a whole child subtree before the next child, so the first invalid
// description in pre-order is the one reported. A node of this walk is a
// description, by index; an open one keeps the nodes made of its children.
class BuildTree : public LockedWalk {
public:
    using Child = std::size_t;
    struct State {
        std::size_t description = 0;
        std::vector<PyRef> children;
    };

    BuildTree(std::vector<Description>& arena, const NodeClass& node_class)
        : arena_(arena), node_class_(node_class) {}

    bool enter(std::size_t index, std::span<const std::size_t>,
               storage::WalkStack<std::size_t, State>& stack) {
        if (auto checked = check(arena_[index]); !checked) return fail(std::move(checked.error()));
        const Items& items = *kind_of<kVecKind>(arena_[index].children);
        std::vector<PyRef> children;
        children.reserve(items.size());
        stack.descend(items, {index, std::move(children)});
        return true;
    }
    bool leave(State& state, State* parent) {
        Description& description = arena_[state.description];
        NodeRecord record{std::move(*kind_of<kStringKind>(description.name)),
                          std::move(*kind_of<kMapKind>(description.attrs)),
                          std::move(state.children), text_of(description)};
        auto node = make_node_object(node_class_, std::move(record));
        if (!node) return fail(std::move(node.error()));
        if (parent) {
            parent->children.push_back(std::move(*node));
        } else {
            root = std::move(*node);
        }
        return true;
    }

    PyRef root;

private:
    std::vector<Description>& arena_;
    NodeClass node_class_;
};

Result<PyRef> build_tree(std::vector<Description>& arena, std::size_t root) {
    const NodeClass node_class = current_node_class();
    if (!node_class.type) return std::unexpected(raised());
    BuildTree build(arena, node_class);
    if (auto walked = walk_locked(build, root); !walked)
        return std::unexpected(std::move(walked.error()));
    return std::move(build.root);
}

const char* const from_dict_names[] = {"dict_"};
const Signature from_dict_signature{"Node.from_dict()", from_dict_names, 1, 1};

Result<PyRef> from_dict(PyObject* data) {
    DescriptionReader reader;
    auto root = reader.read(data);
    if (!root) {
        DescriptionFailure& failure = root.error();
        if (failure.is_enum())
            return std::unexpected(while_processing(type_error(failure.message()), "dict_"));
        // A broken invariant, or an interrupt, is passed on as it is.
        if (failure.simple.kind == Failure::Kind::Internal ||
            (failure.aborts && failure.simple.kind == Failure::Kind::Raised))
            return std::unexpected(std::move(failure.simple));
        return std::unexpected(while_processing(std::move(failure.simple), "dict_"));
    }
    return build_tree(reader.arena, *root);
}

}  // namespace

PyObject* node_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        from_dict_signature, args, nargs, kwnames,
        [&](PyObject* const* slots) -> Result<PyRef> { return from_dict(slots[0]); });
}

}  // namespace quorvane
