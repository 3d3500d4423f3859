// The one failure value of the code that runs without the interpreter: a
// kind and its data. Bodies return it up to the call boundary, which turns
// it into a Python exception.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace quorvane {

struct NativeFailure {
    enum class Kind : std::uint8_t {
        // Input and output, raised as OSError (the subclass the interpreter
        // picks for `os_code`) or MemoryError.
        System,       // `os_code` is the system's error number
        FileLayer,    // `text` says what the file layer refused
        OutOfMemory,  // the writer's output does not fit in memory
        // The work stopped because platform::stop_requested() said so; an
        // interrupted system call is otherwise retried.
        Stopped,
        Internal,  // a broken invariant, `text` says which; PanicException
        // The reader's, raised as ValueError.
        UnclosedTag,    // `offset` is a '<' with no usable '>' after it
        Malformed,      // `text` is the message, `offset` where it applies
        RootNotFound,   // `text` is root_tag
        NeverClosed,    // `text` is the innermost open element's name
        UnknownEntity,  // `text` is the reference name, `offset` its '&'
        TooLarge,       // `offset` is the document's length
    };

    Kind kind;
    std::string text;
    std::uint64_t offset = 0;
    int os_code = 0;

    static NativeFailure from_errno(int code) { return {Kind::System, {}, 0, code}; }
    static NativeFailure from_layer(std::string message) {
        return {Kind::FileLayer, std::move(message), 0, 0};
    }
    static NativeFailure out_of_memory() { return {Kind::OutOfMemory, {}, 0, 0}; }
    static NativeFailure stopped() { return {Kind::Stopped, {}, 0, 0}; }
    static NativeFailure internal(std::string message) {
        return {Kind::Internal, std::move(message), 0, 0};
    }
    static NativeFailure unclosed_tag(std::uint64_t offset) {
        return {Kind::UnclosedTag, {}, offset, 0};
    }
    static NativeFailure malformed(std::string message, std::uint64_t offset) {
        return {Kind::Malformed, std::move(message), offset, 0};
    }
    static NativeFailure root_not_found(std::string_view root_tag) {
        return {Kind::RootNotFound, std::string(root_tag), 0, 0};
    }
    static NativeFailure never_closed(std::string_view name) {
        return {Kind::NeverClosed, std::string(name), 0, 0};
    }
    static NativeFailure unknown_entity(std::string_view name, std::uint64_t offset) {
        return {Kind::UnknownEntity, std::string(name), offset, 0};
    }
    static NativeFailure too_large(std::uint64_t length) { return {Kind::TooLarge, {}, length, 0}; }

    bool is_input_output() const {
        return kind == Kind::System || kind == Kind::FileLayer || kind == Kind::OutOfMemory;
    }
    // Whether the reader's message names `offset` as the place of the fault.
    bool at_offset() const {
        return kind == Kind::UnclosedTag || kind == Kind::Malformed || kind == Kind::UnknownEntity;
    }
    // The text of an input/output failure: "<description> (os error N)",
    // the file layer's message, or "out of memory". Other kinds: `text`.
    std::string io_text() const;
};

}  // namespace quorvane
