// Entry and text-range bookkeeping shared by both index builders: depths,
// parents and the capacity reservations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "platform/memory.h"
#include "structural/index/structural.h"
#include "structural/simd/classify.h"

namespace quorvane::structural::detail {

// How a builder's scan ended; on failure the partial index is dropped.
struct ScanOutcome {
    enum class Kind : std::uint8_t { Done, Unclosed, PastEnd, Stopped };
    Kind kind;
    std::uint64_t offset;  // the '<' of an unclosed tag

    static ScanOutcome done() noexcept { return {Kind::Done, 0}; }
    static ScanOutcome unclosed(std::uint64_t at) noexcept { return {Kind::Unclosed, at}; }
    static ScanOutcome past_end() noexcept { return {Kind::PastEnd, 0}; }
    static ScanOutcome stopped() noexcept { return {Kind::Stopped, 0}; }
};

// Appends entries and text ranges in document order, with each record's
// depth and parent.
//
// The arrays are sized to their capacity up front without being zeroed and
// the records go through raw pointers, with one room check per record; the
// room ends where the pages faulted in so far end.
class IndexWriter {
public:
    // Every entry starts at a '<' and so does every text range but those of
    // CDATA content, so one count of that byte sizes the arrays of nearly any
    // document exactly and spares the copies of growth.
    explicit IndexWriter(std::string_view source) : len_(source.size()) {
        index_.source = source;
        const std::size_t lts =
            count_byte(reinterpret_cast<const std::uint8_t*>(source.data()), len_, '<');
        std::size_t entries = lts;
        if (len_ >= 128) entries = std::max(entries, len_ / 128);
        std::size_t texts = lts;
        if (len_ >= 256) texts = std::max(texts, len_ / 256);
        if (entries != 0) reserve_entries(entries);
        if (texts != 0) index_.text_ranges.reserve(texts);
    }

    // Empty ranges are never stored.
    void text(std::uint64_t start, std::uint64_t end) {
        if (start >= end) return;
        if (texts_ == text_room_) grow_texts(start);
        texts_data_[texts_++] = {start, end, parent_};
    }

    // A start tag becomes the innermost open element. The parent it records
    // is the one its end tag restores, so the parents array is the stack.
    void open(std::uint64_t start, std::uint64_t end, NameSpan name) {
        const std::size_t i = next_entry(start);
        write(i, start, end, TagKind::Open, name);
        parent_ = static_cast<std::int32_t>(i);
        ++depth_;  // wraps by design past 65535 levels
    }

    // An end tag closes the innermost open element (if any) and records the
    // depth and parent of its start tag.
    void close(std::uint64_t start, std::uint64_t end, NameSpan name) {
        const std::size_t i = next_entry(start);
        if (parent_ >= 0) parent_ = parents_[parent_];
        if (depth_ != 0) --depth_;
        write(i, start, end, TagKind::Close, name);
    }

    // Entries that open nothing and close nothing.
    void leaf(std::uint64_t start, std::uint64_t end, TagKind kind, NameSpan name) {
        write(next_entry(start), start, end, kind, name);
    }

    void entry(std::uint64_t start, std::uint64_t end, TagKind kind, NameSpan name) {
        if (kind == TagKind::Open) {
            open(start, end, name);
        } else if (kind == TagKind::Close) {
            close(start, end, name);
        } else {
            leaf(start, end, kind, name);
        }
    }

    IndexResult finish(ScanOutcome outcome) && {
        switch (outcome.kind) {
            case ScanOutcome::Kind::Unclosed:
                return std::unexpected(NativeFailure::unclosed_tag(outcome.offset));
            case ScanOutcome::Kind::PastEnd:
                return std::unexpected(
                    NativeFailure::malformed("unexpected end of document", len_));
            case ScanOutcome::Kind::Stopped:
                return std::unexpected(NativeFailure::stopped());
            case ScanOutcome::Kind::Done:
                break;
        }
        resize_entries(entries_);
        index_.text_ranges.resize(texts_);
        return std::move(index_);
    }

private:
    // Records whose pages are faulted in ahead, in one system call per array:
    // a trap per fresh page costs more than writing the page.
    static constexpr std::size_t kFaultAhead = 32768;

    std::size_t next_entry(std::uint64_t progress) {
        if (entries_ == entry_room_) grow_entries(progress);
        return entries_++;
    }

    void write(std::size_t i, std::uint64_t start, std::uint64_t end, TagKind kind,
               NameSpan name) noexcept {
        starts_[i] = start;
        ends_[i] = end;
        kinds_[i] = kind;
        // Field by field: a whole-struct copy goes through the stack.
        names_[i].start = name.start;
        names_[i].len = name.len;
        depths_[i] = depth_;
        parents_[i] = parent_;
    }

    // Faults in the whole pages holding elements [from, to) of the reserved
    // storage, when it is mapped on its own: a shorter column comes from the
    // heap, whose pages it has mostly touched before, and asking for them
    // would cost a system call that finds them there.
    template <class T>
    static void prefault(Column<T>& array, std::size_t from, std::size_t to) noexcept {
        if (array.capacity() * sizeof(T) < platform::kLargeAllocationBytes) return;
        platform::prefault_for_writing(array.data() + from, array.data() + to);
    }

    // At least doubles; past the reservation the density read so far predicts
    // the total better, which saves the copies of repeated doubling.
    std::size_t grown_capacity(std::size_t size, std::uint64_t progress) const noexcept {
        if (size == 0) return 16;
        std::size_t grown = 2 * size;
        if (progress > 0) {
            const double projected = static_cast<double>(size) * 1.0625 *
                                     static_cast<double>(len_) / static_cast<double>(progress);
            const double most = static_cast<double>(8 * size);
            const auto predicted = static_cast<std::size_t>(projected < most ? projected : most);
            if (predicted > grown) grown = predicted;
        }
        return grown;
    }

    // The six per-entry columns, which always change length together.
    template <class Action>
    void for_each_entry_column(Action action) {
        action(index_.tag_starts);
        action(index_.tag_ends);
        action(index_.tag_kinds);
        action(index_.tag_names);
        action(index_.tag_depths);
        action(index_.tag_parents);
    }

    void reserve_entries(std::size_t capacity) {
        for_each_entry_column([capacity](auto& column) { column.reserve(capacity); });
    }

    void resize_entries(std::size_t size) {
        for_each_entry_column([size](auto& column) { column.resize(size); });
    }

    // Only the records written so far are carried over when the arrays move.
    [[gnu::noinline]] void grow_entries(std::uint64_t progress) {
        if (entries_ == index_.tag_starts.capacity()) {
            resize_entries(entries_);
            reserve_entries(grown_capacity(entries_, progress));
            entries_faulted_ = entries_;
        }
        const std::size_t capacity = index_.tag_starts.capacity();
        const std::size_t to = std::min(capacity, entries_faulted_ + kFaultAhead);
        for_each_entry_column([this, to](auto& column) { prefault(column, entries_faulted_, to); });
        entries_faulted_ = to;
        resize_entries(capacity);
        starts_ = index_.tag_starts.data();
        ends_ = index_.tag_ends.data();
        kinds_ = index_.tag_kinds.data();
        names_ = index_.tag_names.data();
        depths_ = index_.tag_depths.data();
        parents_ = index_.tag_parents.data();
        entry_room_ = to;
    }

    [[gnu::noinline]] void grow_texts(std::uint64_t progress) {
        Column<TextRange>& ranges = index_.text_ranges;
        if (texts_ == ranges.capacity()) {
            ranges.resize(texts_);
            ranges.reserve(grown_capacity(texts_, progress));
            texts_faulted_ = texts_;
        }
        const std::size_t to = std::min(ranges.capacity(), texts_faulted_ + kFaultAhead);
        prefault(ranges, texts_faulted_, to);
        texts_faulted_ = to;
        ranges.resize(ranges.capacity());
        texts_data_ = ranges.data();
        text_room_ = to;
    }

    StructuralIndex index_;
    std::size_t len_;
    std::size_t entries_ = 0;
    std::size_t entry_room_ = 0;
    std::size_t texts_ = 0;
    std::size_t text_room_ = 0;
    std::size_t entries_faulted_ = 0;
    std::size_t texts_faulted_ = 0;
    std::uint64_t* starts_ = nullptr;
    std::uint64_t* ends_ = nullptr;
    TagKind* kinds_ = nullptr;
    NameSpan* names_ = nullptr;
    std::uint16_t* depths_ = nullptr;
    std::int32_t* parents_ = nullptr;
    TextRange* texts_data_ = nullptr;
    std::int32_t parent_ = -1;  // the innermost open start tag, -1 if none
    std::uint16_t depth_ = 0;
};

inline NameSpan name_span(std::size_t start, std::size_t end) noexcept {
    return {start, end - start};
}

}  // namespace quorvane::structural::detail
