// The str or bytes a written text becomes, made one of four ways by its
// size and content:
// - a text that may take 32 MiB or more (kDirectBytes) is written into
//   an object made before the write at that length, faulted in by huge
//   pages, and cut to its length after;
// - a str of a text that is not ASCII is decoded, which checks that it is
//   UTF-8 (bytes are checked by the writer's caller);
// - any other text of 256 KiB or more (kCopyOutsideLockBytes) is copied
//   into its object with the lock released;
// - a shorter one with the lock held.
#pragma once

#include <Python.h>

#include <cstdint>
#include <expected>

#include "platform/native_failure.h"
#include "src/boundary/failure.h"
#include "src/write/byte_sink.h"
#include "src/write/detached_tree.h"
#include "src/write/serializer.h"
#include "src/write/write_document.h"

namespace quorvane {

class WrittenText {
public:
    enum class Form : unsigned char { Str, Bytes };

    explicit WrittenText(Form form) : form_(form) {}

    // With the lock held, before the write: makes the object to write into
    // if the text may take enough bytes. `counted` is the tree's size count,
    // absent when a node stands in several places.
    Result<void> prepare(const write::DetachedTree& tree, write::WriteOptions options,
                         const write::UnescapedSizeCount* counted);

    // Without the lock: writes the text, into the prepared object if there
    // is one and it does not run short.
    std::expected<write::ByteSink, NativeFailure> write(const write::DetachedTree& tree,
                                                        write::WriteOptions options,
                                                        const write::UnescapedSizeCount* counted);

    // With the lock held, after the write: the str or bytes of `text`,
    // which is ASCII if `ascii`.
    Result<PyRef> finish(const write::ByteSink& text, bool ascii);

private:
    // A new object of `length` bytes (ASCII characters, for a str) to fill.
    PyRef make_blank(std::uint64_t length) const;
    char* data_of(PyObject* object) const;

    Form form_;
    PyRef direct_;
    char* direct_data_ = nullptr;
    std::uint64_t direct_capacity_ = 0;
};

}  // namespace quorvane
