// The sink of write_string: one growing block, which starts at the text's
// length before escaping, known before writing, and so rarely grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "src/write/copy_bytes.h"

namespace quorvane::write {

class ByteSink {
public:
    // Room for `capacity` bytes to start with; not allocated() when that
    // cannot be had.
    explicit ByteSink(std::uint64_t capacity);
    // Writes into `capacity` bytes at `borrowed`, which the caller owns,
    // until they run short; the text then moves to a block of its own.
    ByteSink(char* borrowed, std::uint64_t capacity)
        : block_(borrowed), cursor_(borrowed), end_(borrowed + capacity), owned_(false) {}
    ByteSink(ByteSink&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)),
          cursor_(std::exchange(other.cursor_, nullptr)),
          end_(std::exchange(other.end_, nullptr)),
          owned_(other.owned_) {}
    ByteSink& operator=(ByteSink&&) = delete;
    ByteSink(const ByteSink&) = delete;
    ~ByteSink();

    bool allocated() const { return block_ != nullptr; }
    // Still in the caller's bytes.
    bool borrowed() const { return !owned_; }

    // False, writing nothing, when the block would have to grow and memory
    // is short.
    bool append(std::string_view text) {
        if (text.size() > room() && !grow(text.size())) [[unlikely]]
            return false;
        copy_bytes(cursor_, text.data(), text.size());
        cursor_ += text.size();
        return true;
    }
    bool append_spaces(std::uint64_t count) {
        if (count > room() && !grow(count)) [[unlikely]]
            return false;
        std::memset(cursor_, ' ', count);
        cursor_ += count;
        return true;
    }

    // At least `size` bytes to write into directly, growing the block when
    // needed; null, changing nothing, when memory is short. commit() then
    // says where the written bytes end.
    char* reserve(std::uint64_t size) {
        if (size > room() && !grow(size)) [[unlikely]]
            return nullptr;
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }

    std::string_view text() const { return {block_, static_cast<std::size_t>(cursor_ - block_)}; }

private:
    std::uint64_t room() const { return static_cast<std::uint64_t>(end_ - cursor_); }
    // Room for at least `needed` more bytes.
    bool grow(std::uint64_t needed);

    char* block_ = nullptr;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
    bool owned_ = true;
};

}  // namespace quorvane::write
