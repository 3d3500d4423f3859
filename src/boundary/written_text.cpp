#include "src/boundary/written_text.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/memory.h"
#include "src/boundary/call.h"

namespace quorvane {

namespace {

// A text at least this long is copied into its object with the lock
// released: the object is made first, then filled, so two threads writing
// large texts share less of their time under the lock.
constexpr std::size_t kCopyOutsideLockBytes = std::size_t{256} << 10;

// An object this large is fresh memory from the system on each call (the C
// library maps every block past 32 MiB on its own), which the writer may as
// well fill instead of copying into it. A smaller one often reuses memory a
// freed one left warm, and one made larger than its text, then cut, would
// stop that reuse.
constexpr std::uint64_t kDirectBytes = std::uint64_t{32} << 20;

}  // namespace

PyRef WrittenText::make_blank(std::uint64_t length) const {
    const auto size = static_cast<Py_ssize_t>(length);
    return PyRef::steal(form_ == Form::Str ? PyUnicode_New(size, 127)
                                           : PyBytes_FromStringAndSize(nullptr, size));
}

char* WrittenText::data_of(PyObject* object) const {
    return form_ == Form::Str ? static_cast<char*>(PyUnicode_DATA(object))
                              : PyBytes_AS_STRING(object);
}

Result<void> WrittenText::prepare(const write::DetachedTree& tree, write::WriteOptions options,
                                  const write::UnescapedSizeCount* counted) {
    if (!counted) return {};
    const auto capacity = write::memory_capacity(tree, options, counted);
    if (!capacity || *capacity < kDirectBytes) return {};
    direct_ = make_blank(*capacity);
    if (!direct_) return std::unexpected(raised());
    direct_capacity_ = *capacity;
    // No other thread can see the new object until it is returned.
    direct_data_ = data_of(direct_.get());
    platform::advise_huge_pages(direct_data_, direct_data_ + direct_capacity_);
    return {};
}

std::expected<write::ByteSink, NativeFailure> WrittenText::write(
    const write::DetachedTree& tree, write::WriteOptions options,
    const write::UnescapedSizeCount* counted) {
    if (direct_data_)
        return write::write_to_memory_at(tree, options, direct_data_, direct_capacity_);
    return write::write_to_memory(tree, options, counted);
}

Result<PyRef> WrittenText::finish(const write::ByteSink& written, bool ascii) {
    const std::string_view text = written.text();
    const auto length = static_cast<Py_ssize_t>(text.size());
    if (written.borrowed() && (ascii || form_ == Form::Bytes)) {
        PyObject* resized = direct_.release();
        const int failed = form_ == Form::Str ? PyUnicode_Resize(&resized, length)
                                              : _PyBytes_Resize(&resized, length);
        PyRef result = PyRef::steal(resized);
        if (failed) return std::unexpected(raised());
        return result;
    }
    // An outgrown object is dropped before the text's own is made.
    if (!written.borrowed()) direct_ = PyRef();
    if (form_ == Form::Str && !ascii) {
        // The decoder checks that the text is valid UTF-8 as it converts it.
        PyRef result = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), length, nullptr));
        if (result) return result;
        if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return std::unexpected(raised());
        PyErr_Clear();
        return std::unexpected(
            internal_failure("invariant: the XML writer only emits valid UTF-8"));
    }
    // An object too large for the memory left is a MemoryError like any other.
    PyRef result = make_blank(text.size());
    if (!result) return std::unexpected(raised());
    // No other thread can see the new object until it is returned.
    char* data = data_of(result.get());
    auto copy = [&] { std::memcpy(data, text.data(), text.size()); };
    if (text.size() >= kCopyOutsideLockBytes) {
        without_interpreter_lock(copy);
    } else {
        copy();
    }
    return result;
}

}  // namespace quorvane
