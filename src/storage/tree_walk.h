// The one depth-first walk over a tree, on an explicit stack so that no
// depth of nesting reaches the native stack. What a node and its children
// are, and what happens on the way down and up, is the visitor's.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace quorvane::storage {

// Nodes met before and what was made of them, for a walk that visits a node
// standing in several places once. Open addressing on the node's address.
template <class Value>
class SeenNodes {
public:
    const Value* find(const void* node) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t s = slot_of(node);; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s].node == node) return &slots_[s].value;
            if (!slots_[s].node) return nullptr;
        }
    }
    // `node` must not be in the table yet.
    void add(const void* node, Value value) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::size_t s = slot_of(node);
        while (slots_[s].node) s = (s + 1) & (slots_.size() - 1);
        slots_[s] = {node, std::move(value)};
        ++count_;
    }

private:
    struct Slot {
        const void* node = nullptr;
        Value value{};
    };

    std::size_t slot_of(const void* node) const {
        const auto address = reinterpret_cast<std::uintptr_t>(node);
        return static_cast<std::size_t>((address >> 4) * 0x9E3779B97F4A7C15ull >> 20) &
               (slots_.size() - 1);
    }
    void grow() {
        std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size());
        old.swap(slots_);
        count_ = 0;
        for (Slot& slot : old) {
            if (slot.node) add(slot.node, std::move(slot.value));
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

// The open nodes of a walk, deepest last: the children each has left to
// visit and what the visitor keeps for it.
template <class Child, class State>
class WalkStack {
public:
    // Makes the node just entered an open one: its `children` are visited
    // next, then leave() is called with `state`.
    void descend(std::span<const Child> children, State state) {
        frames_.push_back({children.data(), children.data() + children.size(), std::move(state)});
    }
    // The state of the innermost open node: the parent of a node entered,
    // or null at the root.
    State* parent() { return frames_.size() > 1 ? &frames_.back().state : nullptr; }
    // The number of open nodes.
    std::size_t depth() const { return frames_.size() - 1; }

private:
    template <class Visitor>
    friend bool walk(Visitor& visitor, typename Visitor::Child root);

    struct Frame {
        const Child* next;
        const Child* end;
        State state;
    };
    std::vector<Frame> frames_;
};

// Walks the tree under `root` in pre-order, children front to back. The
// visitor provides:
//   Child, State            a node's handle as its parent lists it; what is
//                           kept while a node is open
//   bool enter(Child, std::span<const Child> following, WalkStack&)
//                           a node met on the way down, with the siblings
//                           after it; to visit its children it calls descend()
//   bool leave(State&, State* parent)
//                           a node opened by descend() once its children are done
// and may provide, to stop a long walk,
//   kPollInterval           a power of two
//   bool poll()             asked before every kPollInterval-th node is entered
// and `seen`, a SeenNodes, with
//   bool may_share(Child)   whether the node may have been met before
//   bool again(const Value&, State& parent)
//                           a node found in `seen`, instead of entering it.
// A callback that returns false ends the walk, which then returns false; the
// visitor keeps why. Outcomes are plain flags so that the loop, where every
// callback is inlined, carries no failure value from node to node.
template <class Visitor>
bool walk(Visitor& visitor, typename Visitor::Child root) {
    using Child = typename Visitor::Child;
    WalkStack<Child, typename Visitor::State> stack;
    auto& frames = stack.frames_;
    // The root is the one child of a frame below the tree's, so that each
    // callback is called from one place, where it is inlined.
    frames.push_back({&root, &root + 1, {}});
    // Counted here rather than by the visitor, so that it stays in a register.
    [[maybe_unused]] std::uint32_t entered = 0;
    while (true) {
        auto& top = frames.back();
        if (top.next == top.end) {
            if (frames.size() == 1) return true;
            if (!visitor.leave(top.state, frames.size() > 2 ? &frames.end()[-2].state : nullptr))
                return false;
            frames.pop_back();
            continue;
        }
        if constexpr (requires { Visitor::kPollInterval; }) {
            static_assert(std::has_single_bit(Visitor::kPollInterval));
            if ((++entered & (Visitor::kPollInterval - 1)) == 0 && !visitor.poll()) [[unlikely]]
                return false;
        }
        const Child child = *top.next++;
        if constexpr (requires { visitor.seen; }) {
            if (visitor.may_share(child)) {
                if (const auto* value = visitor.seen.find(child)) {
                    if (!visitor.again(*value, top.state)) return false;
                    continue;
                }
            }
        }
        if (!visitor.enter(child, std::span<const Child>(top.next, top.end), stack)) return false;
    }
}

}  // namespace quorvane::storage
