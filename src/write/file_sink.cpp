#include "src/write/file_sink.h"

#include <cstring>
#include <utility>

namespace quorvane::write {

namespace {

// Spaces for indentation are copied from here, a buffer's worth at most.
constexpr std::size_t kSpaceBlockSize = BufferedFileWriter::kCapacity;
const char* space_block() {
    static const auto* block = [] {
        auto* spaces = new char[kSpaceBlockSize];
        std::memset(spaces, ' ', kSpaceBlockSize);
        return spaces;
    }();
    return block;
}

}  // namespace

WriteTarget file_target(platform::FileDescriptor& file) {
    return {[](void* context, const char* data, std::size_t size) {
                return static_cast<platform::FileDescriptor*>(context)->write_some(data, size);
            },
            &file};
}

BufferedFileWriter::BufferedFileWriter(WriteTarget target, std::size_t capacity)
    : target_(target), capacity_(capacity), buffer_(new char[capacity]) {}

bool BufferedFileWriter::fail(NativeFailure error) {
    error_ = std::move(error);
    failed_ = true;
    return false;
}

bool BufferedFileWriter::write_all(const char* data, std::size_t size, std::size_t* written,
                                   const char* zero_message) {
    while (*written < size) {
        auto accepted = target_.write(target_.context, data + *written, size - *written);
        if (!accepted) return fail(std::move(accepted.error()));
        if (*accepted == 0) return fail(NativeFailure::from_layer(zero_message));
        *written += *accepted;
    }
    return true;
}

bool BufferedFileWriter::flush() {
    if (failed_) return false;
    std::size_t written = 0;
    const bool complete =
        write_all(buffer_.get(), used_, &written, "failed to write the buffered data");
    // What was written leaves the buffer even when the rest could not be.
    std::memmove(buffer_.get(), buffer_.get() + written, used_ - written);
    used_ -= written;
    return complete;
}

bool BufferedFileWriter::append_past_buffer(std::string_view bytes) {
    if (failed_ || !flush()) return false;
    if (bytes.size() < capacity_) {
        std::memcpy(buffer_.get(), bytes.data(), bytes.size());
        used_ = bytes.size();
        return true;
    }
    std::size_t written = 0;
    return write_all(bytes.data(), bytes.size(), &written, "failed to write whole buffer");
}

bool BufferedFileWriter::append_spaces(std::uint64_t count) {
    while (count > 0) {
        const std::size_t piece = count < kSpaceBlockSize ? count : kSpaceBlockSize;
        if (!append({space_block(), piece})) return false;
        count -= piece;
    }
    return !failed_;
}

void BufferedFileWriter::close() {
    // Work asked to stop writes nothing more: the file may be a pipe that
    // nobody reads.
    if (used_ == 0 || (failed_ && error_.kind == NativeFailure::Kind::Stopped)) return;
    const bool failed = std::exchange(failed_, false);
    NativeFailure first = error_;
    flush();
    error_ = std::move(first);
    failed_ = failed;
}

}  // namespace quorvane::write
