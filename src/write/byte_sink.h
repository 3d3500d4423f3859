// The sink of write_string: one block of exactly the output's length, known
// before writing, so the text is never moved while it grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <string_view>

namespace quorvane::write {

class ByteSink {
public:
    // Not allocated() when the block cannot be had. A large block is a
    // mapped region that the reader's reserve keeps for the next call, so a
    // large text does not fault in fresh pages each time.
    explicit ByteSink(std::uint64_t size);
    ByteSink(ByteSink&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)),
          cursor_(std::exchange(other.cursor_, nullptr)),
          end_(std::exchange(other.end_, nullptr)),
          mapped_(other.mapped_) {}
    ByteSink& operator=(ByteSink&&) = delete;
    ByteSink(const ByteSink&) = delete;
    ~ByteSink();

    bool allocated() const { return block_ != nullptr; }

    // False, writing nothing, when the text would pass the block's end: the
    // count it was sized by was wrong.
    bool append(std::string_view text) {
        if (text.size() > static_cast<std::size_t>(end_ - cursor_)) [[unlikely]]
            return false;
        std::memcpy(cursor_, text.data(), text.size());
        cursor_ += text.size();
        return true;
    }
    bool append_spaces(std::uint64_t count) {
        if (count > static_cast<std::uint64_t>(end_ - cursor_)) [[unlikely]]
            return false;
        std::memset(cursor_, ' ', count);
        cursor_ += count;
        return true;
    }

    bool full() const { return cursor_ == end_; }
    std::string_view text() const {
        return {block_, static_cast<std::size_t>(cursor_ - block_)};
    }

private:
    char* block_ = nullptr;
    char* cursor_ = nullptr;
    char* end_ = nullptr;
    bool mapped_ = false;
};

}  // namespace quorvane::write
