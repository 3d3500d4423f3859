#include "src/boundary/python_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/read/records.h"

namespace quorvane {

namespace {

Failure too_large(std::uint64_t length) { return native_failure(NativeFailure::too_large(length)); }

// The bytes a stream gives, copied as they come: a piece that is no bytes
// object may be a view of memory the stream reuses for the next one.
class GrowingBytes {
public:
    Result<void> append(PyObject* piece) {
        Py_buffer view;
        if (PyObject_GetBuffer(piece, &view, PyBUF_FULL_RO) < 0) return std::unexpected(raised());
        const auto size = static_cast<std::size_t>(view.len);
        if (size > read::kMaxDocumentBytes - length_) {
            PyBuffer_Release(&view);
            return std::unexpected(too_large(length_ + size));
        }
        if (size > capacity_ - length_) grow(length_ + size);
        const int copied = PyBuffer_ToContiguous(bytes_.get() + length_, &view, view.len, 'C');
        PyBuffer_Release(&view);
        if (copied < 0) return std::unexpected(raised());
        length_ += size;
        return {};
    }

    storage::SourceRef finish() {
        if (!bytes_) grow(0);
        return storage::SourceRef::adopt(storage::SourceBuffer::owning(std::move(bytes_), length_));
    }

private:
    // Doubling keeps the copies of regrowth to one more of each byte at most.
    void grow(std::size_t needed) {
        const std::size_t capacity = std::max({needed, 2 * capacity_, std::size_t{1}});
        std::unique_ptr<char[]> larger(new char[capacity]);
        if (length_ > 0) std::memcpy(larger.get(), bytes_.get(), length_);
        bytes_ = std::move(larger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> bytes_;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

Result<storage::SourceRef> bytes_source(PyObject* value) {
    if (PyBytes_CheckExact(value)) {
        const std::string_view bytes(PyBytes_AS_STRING(value),
                                     static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
        return storage::SourceRef::adopt(borrowing_source(bytes, value));
    }
    if (!PyObject_CheckBuffer(value))
        return std::unexpected(cast_error(value, "bytes-like object"));
    GrowingBytes copy;
    if (auto copied = copy.append(value); !copied)
        return std::unexpected(std::move(copied.error()));
    return copy.finish();
}

Result<FileArgument> file_argument(PyObject* value, const char* method) {
    PyRef path = PyRef::borrow(value);
    if (!PyUnicode_Check(value) && !PyBytes_Check(value)) {
        path = PyRef::steal(PyOS_FSPath(value));
        if (!path) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return std::unexpected(raised());
            PyErr_Clear();
            PyObject* found = nullptr;
            if (PyObject_GetOptionalAttrString(value, method, &found) < 0)
                return std::unexpected(raised());
            if (!found)
                return std::unexpected(cast_error(value, "str, bytes, os.PathLike or file object"));
            return FileArgument{{}, PyRef::steal(found)};
        }
    }
    if (PyBytes_Check(path.get()))
        return FileArgument{std::string(PyBytes_AS_STRING(path.get()),
                                        static_cast<std::size_t>(PyBytes_GET_SIZE(path.get()))),
                            {}};
    auto utf8 = text(path.get());
    if (!utf8) return std::unexpected(std::move(utf8.error()));
    return FileArgument{std::move(*utf8), {}};
}

Result<StreamContents> read_stream(PyObject* read) {
    // Small documents come in one read; large ones in reads that grow to a
    // size where a call's own cost no longer counts.
    constexpr Py_ssize_t kFirstRead = Py_ssize_t{64} << 10;
    constexpr Py_ssize_t kLargestRead = Py_ssize_t{16} << 20;
    Py_ssize_t read_size = kFirstRead;
    PyRef first;
    PyRef text_pieces;
    GrowingBytes bytes;
    std::size_t pieces = 0;
    for (;; read_size = std::min(2 * read_size, kLargestRead)) {
        if (auto checked = InterruptCheck::now(); !checked)
            return std::unexpected(std::move(checked.error()));
        PyRef size = PyRef::steal(PyLong_FromSsize_t(read_size));
        if (!size) return std::unexpected(raised());
        PyRef piece = PyRef::steal(PyObject_CallOneArg(read, size.get()));
        if (!piece) return std::unexpected(raised());
        const bool is_text = PyUnicode_Check(piece.get());
        if (!is_text && !PyObject_CheckBuffer(piece.get()))
            return std::unexpected(type_error(
                "read() returned '" + type_qualname(Py_TYPE(piece.get())) + "', not bytes or str"));
        if (first && is_text != PyUnicode_Check(first.get()))
            return std::unexpected(type_error("read() returned both bytes and str"));
        const Py_ssize_t length =
            is_text ? PyUnicode_GET_LENGTH(piece.get()) : PyObject_Length(piece.get());
        if (length < 0) return std::unexpected(raised());
        if (!first) first = piece;
        if (length == 0) break;
        // The first piece waits as it is, so that a document read in one
        // piece is taken in place; the second starts the copy.
        if (++pieces == 1) continue;
        if (is_text) {
            if (!text_pieces) {
                text_pieces = PyRef::steal(PyList_New(0));
                if (!text_pieces || PyList_Append(text_pieces.get(), first.get()) < 0)
                    return std::unexpected(raised());
            }
            if (PyList_Append(text_pieces.get(), piece.get()) < 0) return std::unexpected(raised());
        } else {
            if (pieces == 2) {
                if (auto copied = bytes.append(first.get()); !copied)
                    return std::unexpected(std::move(copied.error()));
            }
            if (auto copied = bytes.append(piece.get()); !copied)
                return std::unexpected(std::move(copied.error()));
        }
    }
    if (PyUnicode_Check(first.get())) {
        if (!text_pieces) return StreamContents{std::move(first), {}};
        PyRef empty = PyRef::steal(PyUnicode_New(0, 0));
        PyRef joined =
            empty ? PyRef::steal(PyUnicode_Join(empty.get(), text_pieces.get())) : PyRef();
        if (!joined) return std::unexpected(raised());
        return StreamContents{std::move(joined), {}};
    }
    if (pieces > 1) return StreamContents{{}, bytes.finish()};
    auto source = bytes_source(first.get());
    if (!source) return std::unexpected(std::move(source.error()));
    return StreamContents{{}, std::move(*source)};
}

Failure StreamTarget::failure(NativeFailure writer_failure) {
    if (!raised_) return native_failure(std::move(writer_failure));
    PyErr_SetRaisedException(raised_.release());
    return raised();
}

std::expected<std::size_t, NativeFailure> StreamTarget::write(void* self, const char* data,
                                                              std::size_t size) {
    auto& stream = *static_cast<StreamTarget*>(self);
    // Once write() has raised it is not called again, not even for the last
    // flush the writer tries after a failure.
    if (stream.raised_) return std::unexpected(NativeFailure::from_layer("write() raised"));
    // A text longer than a piece, which the writer hands on whole, goes in
    // pieces too: write() is never given more than one.
    size = std::min(size, kPieceBytes);
    return with_interpreter_lock_again([&]() -> std::expected<std::size_t, NativeFailure> {
        PyRef piece = PyRef::steal(PyBytes_FromStringAndSize(data, static_cast<Py_ssize_t>(size)));
        PyRef result =
            piece ? PyRef::steal(PyObject_CallOneArg(stream.write_, piece.get())) : PyRef();
        if (!result) {
            stream.raised_ = PyRef::steal(PyErr_GetRaisedException());
            return std::unexpected(NativeFailure::from_layer("write() raised"));
        }
        // A count short of the piece is a partial write, as a raw file's may
        // be; anything else (None, most often) took it all.
        if (PyLong_Check(result.get())) {
            const Py_ssize_t took = PyLong_AsSsize_t(result.get());
            if (took == -1 && PyErr_Occurred()) {
                PyErr_Clear();
            } else if (took >= 0 && static_cast<std::size_t>(took) < size) {
                return static_cast<std::size_t>(took);
            }
        }
        return size;
    });
}

}  // namespace quorvane
