#include "write/write_document.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "structural/index/large_pages.h"

#include "write/file_sink.h"
#include "write/serializer.h"

namespace quorvane::write {

namespace {

IoError out_of_memory() { return IoError::from_layer(IoKind::OutOfMemory, {}); }

std::uint64_t physical_memory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

// The block was sized by output_size, so it cannot be too small.
struct MemorySink : ByteSink {
    using ByteSink::ByteSink;
    bool fail_too_large() { return false; }
};

// A line of more spaces than 64 bits count would take the file past the
// largest size any file can have; the system's own error says so.
struct FileSink : BufferedFileWriter {
    using BufferedFileWriter::BufferedFileWriter;
    bool fail_too_large() {
        too_large = true;
        return false;
    }
    bool too_large = false;
};

}  // namespace

ByteSink::ByteSink(std::uint64_t size) {
    if (size > SIZE_MAX - 1) return;
    if (size >= structural::kLargeAllocationBytes) {
        try {
            block_ = static_cast<char*>(structural::allocate_large(size));
            mapped_ = true;
        } catch (const std::bad_alloc&) {
            return;
        }
    } else {
        block_ = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
        if (!block_) return;
    }
    cursor_ = block_;
    end_ = block_ + size;
}

ByteSink::~ByteSink() {
    if (!block_) return;
    if (mapped_) {
        structural::release_large(block_, static_cast<std::size_t>(end_ - block_));
    } else {
        std::free(block_);
    }
}

std::expected<ByteSink, WriteFailure> write_to_memory(const DetachedTree& tree,
                                                      WriteOptions options) {
    const auto size = output_size(tree, options.indent, options.declaration);
    if (!size || *size > physical_memory() / 2) return std::unexpected(out_of_memory());
    MemorySink sink(*size);
    if (!sink.allocated()) return std::unexpected(out_of_memory());
    const bool written = (!options.declaration || sink.append(xml_declaration)) &&
                         TreeWriter(sink, tree, options.indent).write();
    if (!written || !sink.full()) {
        return std::unexpected(
            InternalFailure{"invariant: the XML writer fills exactly the length it counted"});
    }
    return std::move(static_cast<ByteSink&>(sink));
}

std::expected<void, IoError> write_to_file(const DetachedTree& tree, const std::string& path,
                                           WriteOptions options) {
    auto file = OutputFile::create(path);
    if (!file) return std::unexpected(std::move(file.error()));
    FileSink sink(file->descriptor());
    const bool written = (!options.declaration || sink.append(xml_declaration)) &&
                         TreeWriter(sink, tree, options.indent).write() && sink.flush();
    sink.close();
    if (sink.too_large) return std::unexpected(IoError::from_errno(EFBIG));
    if (!written) return std::unexpected(sink.error());
    return {};
}

}  // namespace quorvane::write
