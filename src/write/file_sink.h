// The sink of write_file: a file, or any other taker of bytes, behind one
// buffer, 8192 bytes for a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "platform/io.h"
#include "src/write/copy_bytes.h"

namespace quorvane::write {

// Where the buffered bytes go: `write` takes up to `size` bytes at `data`
// and says how many it took (0 for none), or why it took none.
struct WriteTarget {
    std::expected<std::size_t, NativeFailure> (*write)(void* context, const char* data,
                                                       std::size_t size);
    void* context;
};

// An open file as a target; it must outlive the writer.
WriteTarget file_target(platform::FileDescriptor& file);

// Writes that fit the buffer's free room are copied into it; one that does
// not first flushes the buffer, then is copied into it when smaller than
// the buffer, else written straight to the target. After the first failure
// every call returns false and error() tells what went wrong.
class BufferedFileWriter {
public:
    static constexpr std::size_t kCapacity = 8192;

    explicit BufferedFileWriter(WriteTarget target, std::size_t capacity = kCapacity);
    BufferedFileWriter(const BufferedFileWriter&) = delete;
    BufferedFileWriter& operator=(const BufferedFileWriter&) = delete;

    bool append(std::string_view bytes) {
        if (bytes.size() <= capacity_ - used_ && !failed_) [[likely]] {
            copy_bytes(buffer_.get() + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
            return true;
        }
        return append_past_buffer(bytes);
    }
    bool append_spaces(std::uint64_t count);
    // The buffer's free room to write into directly when it has at least
    // `size` bytes, else null: appends of that many bytes in all would each
    // have fit, so the file sees the same writes. commit() then says where
    // the written bytes end.
    char* reserve(std::size_t size) {
        if (size > capacity_ - used_ || failed_) return nullptr;
        return buffer_.get() + used_;
    }
    void commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

    // Writes out what the buffer holds.
    bool flush();
    // Ends the writing: what is still buffered (only after a failure other
    // than a stop) gets one more flush, whose outcome is ignored; error()
    // stays the first.
    void close();

    std::size_t buffered() const { return used_; }
    const NativeFailure& error() const { return error_; }

private:
    bool append_past_buffer(std::string_view bytes);
    // Loops until every byte is written; `zero_message` is the failure of a
    // call that accepts no byte.
    bool write_all(const char* data, std::size_t size, std::size_t* written,
                   const char* zero_message);
    bool fail(NativeFailure error);

    WriteTarget target_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    NativeFailure error_;
    bool failed_ = false;
};

}  // namespace quorvane::write
