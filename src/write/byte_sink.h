// The sink of write_string: one block of exactly the output's length, known
// before writing, so the text is never moved while it grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace quorvane::write {

class ByteSink {
public:
    // Null data when the block cannot be had.
    explicit ByteSink(std::uint64_t size)
        : block_(static_cast<char*>(size <= SIZE_MAX ? std::malloc(size == 0 ? 1 : size) : nullptr)),
          cursor_(block_.get()),
          end_(block_ ? block_.get() + size : nullptr) {}

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
        return {block_.get(), static_cast<std::size_t>(cursor_ - block_.get())};
    }

private:
    struct Free {
        void operator()(char* block) const { std::free(block); }
    };
    std::unique_ptr<char, Free> block_;
    char* cursor_;
    char* end_;
};

}  // namespace quorvane::write
