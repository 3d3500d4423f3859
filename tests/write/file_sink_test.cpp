// The buffered file writer's rules, with a write call that records what it
// is given and fails on cue.
#include "src/write/file_sink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

namespace quorvane::write {
namespace {

// What the next write calls do: accept up to so many bytes, or fail with an errno.
struct Step {
    ssize_t result;  // bytes accepted at most, or -1
    int error = 0;
};

struct FakeFile {
    std::string contents;
    std::vector<std::size_t> call_sizes;
    std::deque<Step> steps;  // when empty, every byte is accepted
};

FakeFile* file = nullptr;

std::expected<std::size_t, NativeFailure> fake_write(void*, const char* data, std::size_t size) {
    file->call_sizes.push_back(size);
    std::size_t accepted = size;
    if (!file->steps.empty()) {
        const Step step = file->steps.front();
        file->steps.pop_front();
        if (step.result < 0) return std::unexpected(NativeFailure::from_errno(step.error));
        accepted = std::min(size, static_cast<std::size_t>(step.result));
    }
    file->contents.append(data, accepted);
    return accepted;
}

class FileSinkTest : public ::testing::Test {
protected:
    void SetUp() override { file = &fake; }
    void TearDown() override { file = nullptr; }
    FakeFile fake;
    BufferedFileWriter writer{WriteTarget{fake_write, nullptr}};
};

constexpr std::size_t kCapacity = BufferedFileWriter::kCapacity;

TEST_F(FileSinkTest, WritesThatFitStayInTheBufferUntilFlushed) {
    EXPECT_TRUE(writer.append("<a>"));
    EXPECT_TRUE(writer.append(std::string(kCapacity - 3, 'x')));
    EXPECT_TRUE(fake.call_sizes.empty());
    EXPECT_TRUE(writer.flush());
    EXPECT_EQ(fake.call_sizes, std::vector<std::size_t>{kCapacity});
    EXPECT_EQ(fake.contents, "<a>" + std::string(kCapacity - 3, 'x'));
}

TEST_F(FileSinkTest, AWriteThatDoesNotFitFlushesFirstThenIsBuffered) {
    writer.append("abc");
    writer.append(std::string(kCapacity - 1, 'y'));
    EXPECT_EQ(fake.call_sizes, std::vector<std::size_t>{3});
    EXPECT_EQ(writer.buffered(), kCapacity - 1);
}

TEST_F(FileSinkTest, AWriteAsLargeAsTheBufferGoesStraightToTheFile) {
    writer.append("abc");
    writer.append(std::string(kCapacity, 'z'));
    EXPECT_EQ(fake.call_sizes, (std::vector<std::size_t>{3, kCapacity}));
    EXPECT_EQ(writer.buffered(), 0u);
    EXPECT_EQ(fake.contents, "abc" + std::string(kCapacity, 'z'));
}

TEST_F(FileSinkTest, PartialWritesAreContinued) {
    fake.steps = {{2}, {1}};
    writer.append("hello");
    EXPECT_TRUE(writer.flush());
    EXPECT_EQ(fake.contents, "hello");
    EXPECT_EQ(fake.call_sizes, (std::vector<std::size_t>{5, 3, 2}));
}

TEST(FileSink, ASmallerBufferIsFlushedAtItsOwnSize) {
    FakeFile fake;
    file = &fake;
    BufferedFileWriter small{WriteTarget{fake_write, nullptr}, 4};
    EXPECT_TRUE(small.append("abc"));
    EXPECT_TRUE(small.append("de"));
    EXPECT_TRUE(small.flush());
    file = nullptr;
    EXPECT_EQ(fake.call_sizes, (std::vector<std::size_t>{3, 2}));
    EXPECT_EQ(fake.contents, "abcde");
}

TEST_F(FileSinkTest, AFlushThatWritesNothingFails) {
    fake.steps = {{2}, {0}};
    writer.append("hello");
    EXPECT_FALSE(writer.flush());
    EXPECT_EQ(writer.error().kind, NativeFailure::Kind::FileLayer);
    EXPECT_EQ(writer.error().io_text(), "failed to write the buffered data");
    // What was written left the buffer; the rest stays.
    EXPECT_EQ(writer.buffered(), 3u);
    EXPECT_FALSE(writer.append("more"));
}

TEST_F(FileSinkTest, ADirectWriteThatWritesNothingFails) {
    fake.steps = {{100}, {0}};
    EXPECT_FALSE(writer.append(std::string(kCapacity + 1, 'q')));
    EXPECT_EQ(writer.error().io_text(), "failed to write whole buffer");
    EXPECT_EQ(fake.contents.size(), 100u);
}

TEST_F(FileSinkTest, TheSystemsErrorIsKeptAndEndsTheWriting) {
    fake.steps = {{-1, ENOSPC}};
    writer.append(std::string(kCapacity, 'a'));
    EXPECT_FALSE(writer.append("b"));
    EXPECT_EQ(writer.error().os_code, ENOSPC);
    EXPECT_FALSE(writer.flush());
    EXPECT_EQ(fake.call_sizes.size(), 1u);
}

TEST_F(FileSinkTest, ClosingAfterAFailureTriesOneMoreFlushAndKeepsTheFirstError) {
    fake.steps = {{-1, EIO}, {-1, ENOSPC}};
    writer.append("abc");
    EXPECT_FALSE(writer.flush());
    writer.close();
    EXPECT_EQ(fake.call_sizes.size(), 2u);
    EXPECT_EQ(writer.error().os_code, EIO);
}

TEST_F(FileSinkTest, ClosingAFlushedWriterWritesNothing) {
    writer.append("abc");
    EXPECT_TRUE(writer.flush());
    writer.close();
    EXPECT_EQ(fake.call_sizes.size(), 1u);
}

TEST_F(FileSinkTest, SpacesAreWrittenInPiecesOfAtMostABuffer) {
    writer.append("<");
    EXPECT_TRUE(writer.append_spaces(3 * kCapacity + 5));
    EXPECT_TRUE(writer.flush());
    EXPECT_EQ(fake.contents, "<" + std::string(3 * kCapacity + 5, ' '));
    EXPECT_EQ(fake.call_sizes, (std::vector<std::size_t>{1, kCapacity, kCapacity, kCapacity, 5}));
}

}  // namespace
}  // namespace quorvane::write
