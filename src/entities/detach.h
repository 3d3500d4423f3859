// The writer's copy of a Node tree, made with the interpreter lock held so
// that the write itself needs no interpreter object.
#pragma once

#include <optional>

#include "src/boundary/failure.h"
#include "src/entities/node.h"
#include "src/write/detached_tree.h"
#include "src/write/serializer.h"

namespace quorvane {

struct Detached {
    write::DetachedTree tree;
    // Absent once a node stands in several places, whose length would
    // depend on the depth of each.
    std::optional<write::UnescapedSizeCount> size;
};

// Copies the tree under `root`; a copy `for_str` also learns whether its
// strings are ASCII. A name the writer cannot write is a ValueError, found
// before anything is written.
Result<Detached> detach_tree(const NodeObject* root, bool for_str);

}  // namespace quorvane
