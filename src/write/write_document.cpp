#include "src/write/write_document.h"

#include <cerrno>

#include "platform/memory.h"

namespace quorvane::write {

namespace {

// Lines whose indentation would not fit in 64 bits are refused before
// writing, by the size counted first.
struct MemorySink : ByteSink {
    using ByteSink::ByteSink;
    bool fail_too_large() { return false; }
    bool fail_stopped() {
        stopped = true;
        return false;
    }
    bool stopped = false;
};

// A line of more spaces than 64 bits count would take the file past the
// largest size any file can have; the system's own error says so.
struct TargetSink : BufferedFileWriter {
    using BufferedFileWriter::BufferedFileWriter;
    bool fail_too_large() {
        too_large = true;
        return false;
    }
    bool fail_stopped() {
        stopped = true;
        return false;
    }
    bool too_large = false;
    bool stopped = false;
};

}  // namespace

std::optional<std::uint64_t> memory_capacity(const DetachedTree& tree, WriteOptions options,
                                             const UnescapedSizeCount* counted) {
    const auto size = counted ? counted->total(options.indent, options.declaration)
                              : unescaped_output_size(tree, options.indent, options.declaration);
    // The text and the str made from it must both fit.
    if (!size || *size > platform::physical_memory_bytes() / 2) return std::nullopt;
    // A thirty-second more holds the escapes of most texts; the last direct
    // write may ask for up to kDirectWriteBytes past the last one.
    constexpr std::uint64_t kEscapeAllowanceDivisor = 32;
    return *size + *size / kEscapeAllowanceDivisor + 2 * kDirectWriteBytes;
}

namespace {

std::expected<ByteSink, NativeFailure> write_into(MemorySink sink, const DetachedTree& tree,
                                                  WriteOptions options) {
    const bool written = (!options.declaration || sink.append(kXmlDeclaration)) &&
                         TreeWriter(sink, tree, options.indent).write();
    if (sink.stopped) return std::unexpected(NativeFailure::stopped());
    if (!written) return std::unexpected(NativeFailure::out_of_memory());
    return std::move(static_cast<ByteSink&>(sink));
}

}  // namespace

std::expected<ByteSink, NativeFailure> write_to_memory(const DetachedTree& tree,
                                                       WriteOptions options,
                                                       const UnescapedSizeCount* counted) {
    const platform::ReserveCall call;
    const auto capacity = memory_capacity(tree, options, counted);
    if (!capacity) return std::unexpected(NativeFailure::out_of_memory());
    MemorySink sink(*capacity);
    if (!sink.allocated()) return std::unexpected(NativeFailure::out_of_memory());
    return write_into(std::move(sink), tree, options);
}

std::expected<ByteSink, NativeFailure> write_to_memory_at(const DetachedTree& tree,
                                                          WriteOptions options, char* borrowed,
                                                          std::uint64_t capacity) {
    const platform::ReserveCall call;
    return write_into(MemorySink(borrowed, capacity), tree, options);
}

std::expected<void, NativeFailure> write_to_file(const DetachedTree& tree, const std::string& path,
                                                 WriteOptions options) {
    auto file = platform::open_for_writing(path);
    if (!file) return std::unexpected(std::move(file.error()));
    return write_to_target(tree, file_target(*file), options, BufferedFileWriter::kCapacity);
}

std::expected<void, NativeFailure> write_to_target(const DetachedTree& tree, WriteTarget target,
                                                   WriteOptions options, std::size_t piece_bytes) {
    const platform::ReserveCall call;
    TargetSink sink(target, piece_bytes);
    const bool written = (!options.declaration || sink.append(kXmlDeclaration)) &&
                         TreeWriter(sink, tree, options.indent).write() && sink.flush();
    sink.close();
    if (sink.too_large) return std::unexpected(NativeFailure::from_errno(EFBIG));
    if (sink.stopped) return std::unexpected(NativeFailure::stopped());
    if (!written) return std::unexpected(sink.error());
    return {};
}

}  // namespace quorvane::write
