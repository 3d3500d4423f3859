// to_dict and from_dict. Both walk on explicit stacks so that the depth of a
// tree, or of the data describing one, never reaches the native stack.
#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "boundary/call.h"
#include "boundary/convert.h"
#include "boundary/once.h"
#include "entities/node.h"
#include "entities/operations.h"

namespace quorvane {

namespace {

// --- to_dict -------------------------------------------------------------------

PyObject* key_object(std::atomic<PyObject*>& slot, const char* text) {
    return once_object(slot, [text] { return PyUnicode_InternFromString(text); });
}

struct DictKeys {
    PyObject* name;
    PyObject* attrs;
    PyObject* children;
    PyObject* text;
};

Result<DictKeys> dict_keys() {
    static std::atomic<PyObject*> name{nullptr}, attrs{nullptr}, children{nullptr}, text{nullptr};
    DictKeys keys{key_object(name, "name"), key_object(attrs, "attrs"),
                  key_object(children, "children"), key_object(text, "text")};
    if (!keys.name || !keys.attrs || !keys.children || !keys.text)
        return std::unexpected(creation_failure());
    return keys;
}

// The conversion makes a fresh tree of dicts, lists and strs and runs no
// Python code, with the interpreter lock held throughout: the cyclic
// collector could only scan those containers and find them alive, again at
// every collection their number triggers. It is paused for the call and its
// state restored after. A free-threaded interpreter runs other threads
// meanwhile, whose collections are theirs to decide, so there it is left alone.
class CollectorPause {
public:
    CollectorPause() {
#ifndef Py_GIL_DISABLED
        was_enabled_ = PyGC_Disable() != 0;
#endif
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    bool was_enabled_ = false;
};

// The dictionary of one node whose children's dictionaries are in `children`.
Result<PyRef> node_dict(const DictKeys& keys, const NodeObject& node, PyRef children) {
    auto name = string_object(node.name);
    if (!name) return name;
    auto attrs = attrs_object(node.attrs);
    if (!attrs) return attrs;
    auto text = node.text ? string_object(*node.text) : Result<PyRef>(PyRef::borrow(Py_None));
    if (!text) return text;
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return std::unexpected(creation_failure());
    if (PyDict_SetItem(dict.get(), keys.name, name->get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.attrs, attrs->get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.children, children.get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.text, text->get()) < 0) {
        return std::unexpected(raised());
    }
    return dict;
}

Result<PyRef> new_list(const NodeObject& node) {
    PyRef list = PyRef::steal(PyList_New(Py_SIZE(&node)));
    if (!list) return std::unexpected(creation_failure());
    return list;
}

// Post-order: a node's dictionary is made once all its children's are in its list.
Result<PyRef> tree_dict(const NodeObject* root) {
    auto keys = dict_keys();
    if (!keys) return std::unexpected(std::move(keys.error()));
    struct Frame {
        const NodeObject* node;
        PyRef children;
        Py_ssize_t next;
    };
    auto root_list = new_list(*root);
    if (!root_list) return root_list;
    std::vector<Frame> stack;
    stack.push_back({root, std::move(*root_list), 0});
    while (true) {
        Frame& top = stack.back();
        if (top.next < Py_SIZE(top.node)) {
            const NodeObject* child =
                as_node(top.node->children()[static_cast<std::size_t>(top.next)]);
            auto list = new_list(*child);
            if (!list) return list;
            if (Py_SIZE(child) > 0) {
                stack.push_back({child, std::move(*list), 0});
                continue;
            }
            auto leaf = node_dict(*keys, *child, std::move(*list));
            if (!leaf) return leaf;
            PyList_SET_ITEM(top.children.get(), top.next++, leaf->release());
            continue;
        }
        auto done = node_dict(*keys, *top.node, std::move(top.children));
        if (!done) return done;
        stack.pop_back();
        if (stack.empty()) return done;
        Frame& parent = stack.back();
        PyList_SET_ITEM(parent.children.get(), parent.next++, done->release());
    }
}

// --- from_dict: reading Python data into node descriptions ---------------------

using Items = std::vector<std::size_t>;  // descriptions, by index into the reader's arena

// One value of a description; the alternatives are the kinds in the order
// they are tried: String, Vec, NullableString, Map.
using Value = std::variant<NodeString, Items, std::optional<NodeString>, AttributeMap>;
constexpr std::size_t string_kind = 0, vec_kind = 1, nullable_kind = 2, map_kind = 3;

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

// A fault met while reading. The enum failure of a child list that holds the
// enum failure of a grandchild's list, and so on, renders each inner message
// inside the outer one; the message is therefore kept as pieces around the
// innermost failure's text and joined once, in time linear in the depth.
struct ReadFailure {
    explicit ReadFailure(Failure failure, bool aborts = false)
        : simple(std::move(failure)), aborts(aborts) {}

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

std::string type_name(PyObject* type) {
    PyRef name = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type)));
    const char* utf8 = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (utf8) return utf8;
    PyErr_Clear();
    return "<failed to extract type name>";
}

// "{class qualname}: {str()}", then ", caused by " and the same for each
// exception along the __cause__ chain (a cyclic chain is cut where it closes).
std::string render_exception(PyObject* exception) {
    std::string text;
    std::unordered_set<PyObject*> seen;
    PyRef current = PyRef::borrow(exception);
    while (current && seen.insert(current.get()).second) {
        if (current.get() != exception) text += ", caused by ";
        text += type_name(reinterpret_cast<PyObject*>(Py_TYPE(current.get())));
        text += ": ";
        PyRef shown = PyRef::steal(PyObject_Str(current.get()));
        Py_ssize_t length = 0;
        const char* utf8 = shown ? PyUnicode_AsUTF8AndSize(shown.get(), &length) : nullptr;
        if (utf8) {
            text.append(utf8, static_cast<std::size_t>(length));
        } else {
            PyErr_Clear();
            text += "<exception str() failed>";
        }
        current = PyRef::steal(PyException_GetCause(current.get()));
    }
    return text;
}

std::string render_failure(const Failure& failure) {
    switch (failure.kind) {
        case Failure::Kind::Type:
            return "TypeError: " + failure.message;
        case Failure::Kind::Value:
            return "ValueError: " + failure.message;
        default:
            return render_exception(exception_of(failure).get());
    }
}

constexpr std::string_view enum_head =
    "failed to extract enum HashmapTypes ('String | Vec | NullableString | Map')";

void variant_line(std::string& out, const char* kind) {
    out += "\n- variant ";
    out += kind;
    out += " (";
    out += kind;
    out += "): TypeError: failed to extract field HashmapTypes::";
    out += kind;
    out += ".0, caused by ";
}

ReadFailure enum_failure(const Failure& string_failure, ReadFailure vec_failure,
                         const Failure& nullable_failure, const Failure& map_failure) {
    std::string prefix(enum_head);
    variant_line(prefix, "String");
    prefix += render_failure(string_failure);
    variant_line(prefix, "Vec");
    std::string suffix;
    variant_line(suffix, "NullableString");
    suffix += render_failure(nullable_failure);
    variant_line(suffix, "Map");
    suffix += render_failure(map_failure);
    if (vec_failure.is_enum()) {
        prefix += "TypeError: ";
    } else {
        vec_failure.core = render_failure(vec_failure.simple);
    }
    vec_failure.prefixes.push_back(std::move(prefix));
    vec_failure.suffixes.push_back(std::move(suffix));
    return vec_failure;
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

Result<AttributeMap> read_map(PyObject* value) {
    if (!PyDict_Check(value)) return std::unexpected(cast_error(value, "dict"));
    AttributeMap map(take_hash_key(), static_cast<std::size_t>(PyDict_Size(value)));
    DictWalk walk(value);
    PyRef key, item;
    while (true) {
        auto more = walk.next(key, item);
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) return map;
        auto key_text = text_view(key.get());
        if (!key_text) return std::unexpected(std::move(key_text.error()));
        auto item_text = text_view(item.get());
        if (!item_text) return std::unexpected(std::move(item_text.error()));
        auto inserted = map.insert(NodeString::owned(*key_text), NodeString::owned(*item_text));
        if (!inserted) return std::unexpected(internal_failure(std::move(inserted.error())));
    }
}

// Reads a dict and every description nested in it. Each level of the stack
// is a dict being walked and, while the value of its current entry is tried
// as a Vec, that sequence's iterator and the descriptions read from it.
class DescriptionReader {
public:
    std::vector<Description> arena;

    std::expected<std::size_t, ReadFailure> read(PyObject* root) {
        if (!PyDict_Check(root)) return std::unexpected(ReadFailure(cast_error(root, "dict")));
        enter(root);
        while (true) {
            std::optional<ReadFailure> failed = step();
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

    std::optional<ReadFailure> step() {
        Level& level = stack_.back();
        if (level.iterator) return next_item(level);
        PyRef key, value;
        auto more = level.walk.next(key, value);
        if (!more) return ReadFailure(std::move(more.error()));
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

    std::optional<ReadFailure> next_item(Level& level) {
        PyRef item = PyRef::steal(PyIter_Next(level.iterator.get()));
        if (item) {
            if (!PyDict_Check(item.get()))
                return vec_failed(level, ReadFailure(cast_error(item.get(), "dict")));
            // A dict inside itself would describe an endless tree.
            if (on_path_.contains(item.get())) {
                return ReadFailure(value_error("Circular reference detected"), true);
            }
            enter(item.get());
            return std::nullopt;
        }
        if (PyErr_Occurred()) return vec_failed(level, ReadFailure(raised()));
        level.iterator = {};
        level.sequence = {};
        store(level, Value(std::in_place_index<vec_kind>, std::move(level.items)));
        level.items = {};
        return std::nullopt;
    }

    std::optional<ReadFailure> read_entry(Level& level, PyObject* key, PyObject* value) {
        auto key_text = text_view(key);
        if (!key_text) return ReadFailure(std::move(key_text.error()));
        level.slot = slot_of(*key_text);
        auto as_string = text_view(value);
        if (as_string) {
            store(level, Value(std::in_place_index<string_kind>, NodeString::owned(*as_string)));
            return std::nullopt;
        }
        Failure string_failure = std::move(as_string.error());
        if (PyUnicode_Check(value)) {
            return other_kinds(level, value, string_failure,
                               ReadFailure(type_error("Can't extract `str` to `Vec`")));
        }
        if (!PySequence_Check(value)) {
            return other_kinds(level, value, string_failure,
                               ReadFailure(cast_error(value, "Sequence")));
        }
        // The length only sizes the list; a failing or absurd one is ignored.
        Py_ssize_t length = PySequence_Size(value);
        if (length < 0) PyErr_Clear();
        PyRef iterator = PyRef::steal(PyObject_GetIter(value));
        if (!iterator) return other_kinds(level, value, string_failure, ReadFailure(raised()));
        level.sequence = PyRef::borrow(value);
        level.iterator = std::move(iterator);
        level.string_failure = std::move(string_failure);
        level.items.clear();
        level.items.reserve(static_cast<std::size_t>(std::clamp<Py_ssize_t>(length, 0, 4096)));
        return std::nullopt;
    }

    std::optional<ReadFailure> vec_failed(Level& level, ReadFailure failure) {
        if (failure.fatal()) return failure;
        PyRef sequence = std::move(level.sequence);
        level.iterator = {};
        level.items.clear();
        Failure string_failure = std::move(*level.string_failure);
        level.string_failure.reset();
        return other_kinds(level, sequence.get(), string_failure, std::move(failure));
    }

    // NullableString, then Map, once String and Vec have failed.
    std::optional<ReadFailure> other_kinds(Level& level, PyObject* value,
                                           const Failure& string_failure, ReadFailure vec_failure) {
        if (vec_failure.fatal()) return vec_failure;
        if (value == Py_None) {
            store(level, Value(std::in_place_index<nullable_kind>, std::nullopt));
            return std::nullopt;
        }
        auto nullable = text_view(value);
        if (nullable) {
            store(level, Value(std::in_place_index<nullable_kind>, NodeString::owned(*nullable)));
            return std::nullopt;
        }
        auto map = read_map(value);
        if (map) {
            store(level, Value(std::in_place_index<map_kind>, std::move(*map)));
            return std::nullopt;
        }
        if (map.error().kind == Failure::Kind::Internal) return ReadFailure(std::move(map.error()));
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
    if (!kind_of<string_kind>(description.name))
        return std::unexpected(value_error("Invalid name"));
    if (!kind_of<map_kind>(description.attrs)) return std::unexpected(value_error("Invalid attrs"));
    if (!kind_of<vec_kind>(description.children))
        return std::unexpected(value_error("Invalid children"));
    return {};
}

std::optional<NodeString> text_of(Description& description) {
    if (auto* text = kind_of<string_kind>(description.text)) return std::move(*text);
    if (auto* text = kind_of<nullable_kind>(description.text)) return std::move(*text);
    return std::nullopt;
}

// Checks a node's description before any of its children is looked at and
// finishes a whole child subtree before the next child, so the first invalid
// description in pre-order is the one reported.
Result<PyRef> build_tree(std::vector<Description>& arena, std::size_t root) {
    struct Frame {
        std::size_t description;
        std::vector<PyRef> children;
        std::size_t next;
    };
    std::vector<Frame> stack;
    auto open = [&](std::size_t index) -> Result<void> {
        if (auto checked = check(arena[index]); !checked) return checked;
        std::vector<PyRef> children;
        children.reserve(kind_of<vec_kind>(arena[index].children)->size());
        stack.push_back({index, std::move(children), 0});
        return {};
    };
    if (auto opened = open(root); !opened) return std::unexpected(std::move(opened.error()));
    while (true) {
        Frame& top = stack.back();
        const Items& items = *kind_of<vec_kind>(arena[top.description].children);
        if (top.next < items.size()) {
            if (auto opened = open(items[top.next++]); !opened)
                return std::unexpected(std::move(opened.error()));
            continue;
        }
        Description& description = arena[top.description];
        NodeRecord record{std::move(*kind_of<string_kind>(description.name)),
                          std::move(*kind_of<map_kind>(description.attrs)), std::move(top.children),
                          text_of(description)};
        auto node = make_node_object(std::move(record));
        if (!node) return node;
        stack.pop_back();
        if (stack.empty()) return node;
        stack.back().children.push_back(std::move(*node));
    }
}

const char* const from_dict_names[] = {"dict_"};
const Signature from_dict_signature{"Node.from_dict()", from_dict_names, 1, 1};

Result<PyRef> from_dict(PyObject* data) {
    DescriptionReader reader;
    auto root = reader.read(data);
    if (!root) {
        ReadFailure& failure = root.error();
        if (failure.is_enum())
            return std::unexpected(while_processing(type_error(failure.message()), "dict_"));
        if (failure.simple.kind == Failure::Kind::Internal)
            return std::unexpected(std::move(failure.simple));
        return std::unexpected(while_processing(std::move(failure.simple), "dict_"));
    }
    return build_tree(reader.arena, *root);
}

}  // namespace

PyObject* node_to_dict(PyObject* self, PyObject*) {
    return call_boundary([&] {
        CollectorPause pause;
        return tree_dict(as_node(self));
    });
}

PyObject* node_from_dict(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        from_dict_signature, args, nargs, kwnames,
        [&](PyObject* const* slots) -> Result<PyRef> { return from_dict(slots[0]); });
}

}  // namespace quorvane
