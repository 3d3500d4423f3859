// The Python objects documents come in and go out through, other than a
// str: buffers of bytes, paths, and file objects.
#pragma once

#include <Python.h>

#include <cstddef>
#include <expected>
#include <string>

#include "platform/native_failure.h"
#include "src/boundary/failure.h"
#include "src/storage/source_buffer.h"
#include "src/write/file_sink.h"

namespace quorvane {

// The bytes of any object with the buffer protocol: an exact bytes object
// in place (it cannot change), any other copied once, contiguous or not,
// while the lock is held so that no Python code changes it meanwhile.
Result<storage::SourceRef> bytes_source(PyObject* value);

// A file argument: a path (str, bytes or os.PathLike), or a file object,
// which has the method `method` ("read" or "write"), held in `method`.
struct FileArgument {
    std::string path;
    PyRef method;
};
Result<FileArgument> file_argument(PyObject* value, const char* method);

// Everything a file object's `read` gives up to its end: a str when it
// gives str (a text file), else the bytes, in place when they came as one
// bytes object. Ctrl-C is answered between reads.
struct StreamContents {
    PyRef text;
    storage::SourceRef bytes;
};
Result<StreamContents> read_stream(PyObject* read);

// A file object's `write` as the writer's target, called from the work
// done without the lock with each piece as it is made, the lock taken back
// for the call. An exception it raises ends the writing and is passed on
// unchanged (see failure()).
class StreamTarget {
public:
    // Pieces of this many bytes: few calls into Python, little memory.
    static constexpr std::size_t kPieceBytes = std::size_t{64} << 10;

    explicit StreamTarget(PyObject* write) : write_(write) {}
    write::WriteTarget target() { return {&StreamTarget::write, this}; }
    // The call's failure, given the writer's: the exception write() raised
    // if it did.
    Failure failure(NativeFailure writer_failure);

private:
    static std::expected<std::size_t, NativeFailure> write(void* self, const char* data,
                                                           std::size_t size);

    PyObject* write_;
    PyRef raised_;
};

}  // namespace quorvane
