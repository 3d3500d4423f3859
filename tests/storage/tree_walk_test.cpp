// The one tree walk: the order of its callbacks, a shared node met once, and
// the remembered nodes past many collisions.
#include "src/storage/tree_walk.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace quorvane::storage {
namespace {

struct TestNode {
    char name;
    std::vector<const TestNode*> children;
};

// Writes "name(" on the way down, ")" on the way up, and "=name" for a
// node met again; stops before the `stop_at`th node.
struct Trace {
    using Child = const TestNode*;
    using State = char;

    bool enter(const TestNode* node, std::span<const TestNode* const>,
               WalkStack<Child, State>& stack) {
        out += node->name;
        out += '(';
        seen.add(node, node->name);
        stack.descend(node->children, node->name);
        return true;
    }
    bool leave(State&, State*) {
        out += ')';
        return true;
    }
    static constexpr std::uint32_t kPollInterval = 1;
    bool poll() { return ++entered != stop_at; }
    static bool may_share(const TestNode*) { return true; }
    bool again(char name, State&) {
        out += '=';
        out += name;
        return true;
    }

    SeenNodes<char> seen;
    std::string out;
    int entered = 0;
    int stop_at = 0;
};

TEST(TreeWalk, VisitsInPreAndPostOrderAndASharedNodeOnce) {
    const TestNode leaf{'c', {}};
    const TestNode inner{'b', {&leaf, &leaf}};
    const TestNode root{'a', {&inner, &leaf}};
    Trace trace;
    EXPECT_TRUE(walk(trace, &root));
    EXPECT_EQ(trace.out, "a(b(c()=c)=c)");
    Trace stopped;
    stopped.stop_at = 3;
    EXPECT_FALSE(walk(stopped, &root));
    EXPECT_EQ(stopped.out, "a(b(");
}

TEST(SeenNodes, FindsEveryNodeAddedAndNoOther) {
    std::vector<std::size_t> nodes(10'000);
    SeenNodes<std::size_t> seen;
    for (std::size_t i = 0; i < nodes.size(); i += 2) seen.add(&nodes[i], i);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::size_t* found = seen.find(&nodes[i]);
        if (i % 2 == 0) {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(*found, i);
        } else {
            EXPECT_EQ(found, nullptr);
        }
    }
}

}  // namespace
}  // namespace quorvane::storage
