#include "src/boundary/written_str.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/memory.h"
#include "src/boundary/call.h"

namespace quorvane {

namespace {

// An ASCII text at least this long is copied into its str with the lock
// released: the str is made first, then filled, so two threads writing
// large texts share less of their time under the lock.
constexpr std::size_t kCopyOutsideLockBytes = std::size_t{256} << 10;

// A str this large is fresh memory from the system on each call (the C
// library maps every block past 32 MiB on its own), which the writer may as
// well fill instead of copying into it. A smaller str often reuses memory a
// freed one left warm, and one made larger than its text, then cut, would
// stop that reuse.
constexpr std::uint64_t kDirectStrBytes = std::uint64_t{32} << 20;

}  // namespace

Result<void> WrittenStr::prepare(const write::DetachedTree& tree, write::WriteOptions options,
                                 const write::UnescapedSizeCount* counted) {
    if (!counted) return {};
    const auto capacity = write::memory_capacity(tree, options, counted);
    if (!capacity || *capacity < kDirectStrBytes) return {};
    direct_ = PyRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(*capacity), 127));
    if (!direct_) return std::unexpected(raised());
    direct_capacity_ = *capacity;
    // No other thread can see the new str until it is returned.
    direct_data_ = static_cast<char*>(PyUnicode_DATA(direct_.get()));
    platform::advise_huge_pages(direct_data_, direct_data_ + direct_capacity_);
    return {};
}

std::expected<write::ByteSink, NativeFailure> WrittenStr::write(
    const write::DetachedTree& tree, write::WriteOptions options,
    const write::UnescapedSizeCount* counted) {
    if (direct_data_)
        return write::write_to_memory_at(tree, options, direct_data_, direct_capacity_);
    return write::write_to_memory(tree, options, counted);
}

Result<PyRef> WrittenStr::finish(const write::ByteSink& written, bool ascii) {
    if (written.borrowed() && ascii) {
        PyObject* resized = direct_.release();
        const int failed =
            PyUnicode_Resize(&resized, static_cast<Py_ssize_t>(written.text().size()));
        PyRef result = PyRef::steal(resized);
        if (failed) return std::unexpected(raised());
        return result;
    }
    // An outgrown str is dropped before the text's own is made.
    if (!written.borrowed()) direct_ = PyRef();
    const std::string_view text = written.text();
    const auto length = static_cast<Py_ssize_t>(text.size());
    if (!ascii) {
        // The decoder checks that the text is valid UTF-8 as it converts it.
        PyRef result = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), length, nullptr));
        if (result) return result;
        if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return std::unexpected(raised());
        PyErr_Clear();
        return std::unexpected(
            internal_failure("invariant: the XML writer only emits valid UTF-8"));
    }
    // A str too large for the memory left is a MemoryError like any other.
    PyRef result = PyRef::steal(PyUnicode_New(length, 127));
    if (!result) return std::unexpected(raised());
    // No other thread can see the new str until it is returned.
    char* data = static_cast<char*>(PyUnicode_DATA(result.get()));
    auto copy = [&] { std::memcpy(data, text.data(), text.size()); };
    if (text.size() >= kCopyOutsideLockBytes) {
        without_interpreter_lock(copy);
    } else {
        copy();
    }
    return result;
}

}  // namespace quorvane
