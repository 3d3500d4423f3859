#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "platform/native_failure.h"
#include "src/storage/attribute_map.h"
#include "src/storage/block_arena.h"
#include "src/storage/node_string.h"
#include "src/storage/pool_heap.h"
#include "src/storage/source_buffer.h"

namespace quorvane::storage {
namespace {

// CPython hashes a one-byte-per-character str with SipHash-1-3; with
// PYTHONHASHSEED=0 its key is zero, so hash(s + "\xff") gives reference
// values for our hash of s's bytes plus the 0xFF terminator.
struct HashVector {
    const char* text;
    std::uint64_t expected;
};

class SipHashVectors : public testing::TestWithParam<HashVector> {};

TEST_P(SipHashVectors, MatchesReference) {
    EXPECT_EQ(attribute_hash(HashKey{0, 0}, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Storage, SipHashVectors,
    testing::Values(HashVector{"", 0x30406ea523c53defULL}, HashVector{"a", 0x719b50b9a4f0e9f3ULL},
                    HashVector{"id", 0x5fbb623dbb0d1dfaULL},
                    HashVector{"abcdefg", 0x2295ef44bd078ae9ULL},
                    HashVector{"abcdefgh", 0x5cd7657fa7f96c16ULL},
                    HashVector{"key-with-more-than-16-bytes", 0x56f65c7e5632cea9ULL}));

TEST(HashKeys, EachTakerGetsItsOwnKey) {
    HashKey first = take_hash_key();
    HashKey second = take_hash_key();
    EXPECT_EQ(second.k0, first.k0 + 1);
    EXPECT_EQ(second.k1, first.k1);
    EXPECT_NE(attribute_hash(first, "id"), attribute_hash(second, "id"));
}

SourceBuffer* bytes_buffer(std::string_view text) {
    auto bytes = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), bytes.get());
    return SourceBuffer::owning(std::move(bytes), text.size());
}

struct SpanCase {
    std::uint64_t start, end;
    bool valid;
};

class SpanResolution : public testing::TestWithParam<SpanCase> {};

// "aé" is 61 C3 A9: offset 2 is inside the two-byte character.
TEST_P(SpanResolution, ChecksBoundsAndCharacterBoundaries) {
    SourceRef buffer = SourceRef::adopt(bytes_buffer("a\xc3\xa9z"));
    NodeString span = NodeString::span(buffer.get(), GetParam().start, GetParam().end);
    EXPECT_EQ(span.resolve().has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Storage, SpanResolution,
    testing::Values(SpanCase{0, 4, true}, SpanCase{1, 3, true}, SpanCase{4, 4, true},
                    SpanCase{0, 0, true}, SpanCase{2, 4, false}, SpanCase{0, 2, false},
                    SpanCase{3, 1, false}, SpanCase{0, 5, false}, SpanCase{5, 5, false},
                    // Offsets past 32 bits are kept whole, never cut
                    // down to ones that would resolve.
                    SpanCase{1ull << 32, (1ull << 32) + 1, false},
                    SpanCase{0, (1ull << 32) + 1, false}, SpanCase{(1ull << 32) + 1, 2, false}));

// A buffer longer than 32 bits can count: spans past that point keep their
// offsets whole, resolve, compare and release like short ones. Its pages
// are never touched but where the spans read.
TEST(NodeString, SpansPastFourGibibytesAreKeptWhole) {
    constexpr std::uint64_t kLength = (std::uint64_t{1} << 32) + 100;
    std::unique_ptr<char[]> bytes(new char[kLength]);
    std::memcpy(bytes.get() + kLength - 10, "name text!", 10);
    std::memcpy(bytes.get(), "head ", 5);
    SourceRef buffer = SourceRef::adopt(SourceBuffer::owning(std::move(bytes), kLength));
    NodeString name = NodeString::span(buffer.get(), kLength - 10, kLength - 6);
    NodeString whole = NodeString::span(buffer.get(), 0, 4);
    EXPECT_TRUE(name.is_span());
    EXPECT_EQ(name.size(), 4u);
    EXPECT_EQ(*name.resolve(), "name");
    EXPECT_EQ(name.span_source(), buffer.get());
    EXPECT_TRUE(*TextMatcher("name").matches(name));
    EXPECT_FALSE(*TextMatcher("nama").matches(name));
    NodeString moved = std::move(name);
    EXPECT_EQ(*moved.resolve(), "name");
    SpanReleases releases;
    moved.release_into(releases);
    EXPECT_EQ(*whole.resolve(), "head");
}

class OwnedStrings : public testing::TestWithParam<std::size_t> {};

// Around the inline capacity the string moves between the object and the heap.
TEST_P(OwnedStrings, KeepTheirBytesThroughMoves) {
    std::string text;
    for (std::size_t i = 0; i < GetParam(); ++i) text += static_cast<char>('a' + i % 26);
    NodeString original = NodeString::owned(text);
    EXPECT_EQ(original.size(), text.size());
    NodeString moved = std::move(original);
    EXPECT_EQ(*moved.resolve(), text);
    EXPECT_EQ(original.size(), 0u);
    EXPECT_FALSE(moved.is_span());
    std::vector<NodeString> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(NodeString::owned(text));  // regrowth moves every element
    for (const NodeString& s : many) EXPECT_EQ(*s.resolve(), text);
}

INSTANTIATE_TEST_SUITE_P(Storage, OwnedStrings,
                         testing::Values(0, 1, NodeString::kInlineCapacity - 1,
                                         NodeString::kInlineCapacity,
                                         NodeString::kInlineCapacity + 1, 1000));

// Every stored form against every value: the matcher agrees with comparing
// resolved bytes, including values that differ only in their last byte or
// only by a trailing NUL, and strings whose inline bytes were left behind by
// a move.
TEST(TextMatcher, AgreesWithComparingBytes) {
    using namespace std::string_literals;
    const std::vector<std::string> texts = {
        ""s,
        "a"s,
        "a\0"s,
        "b"s,
        "record"s,
        "recorc"s,
        "field0"s,
        "fifteen-bytes.."s,
        "sixteen-bytes..."s,
        "sixteen-bytes..!"s,
        "seventeen-bytes.."s,
        "seventeen-bytes.!"s,
        std::string(300, 'x'),
    };
    std::string source;
    for (const std::string& text : texts) source += text;
    SourceRef buffer = SourceRef::adopt(bytes_buffer(source));
    std::vector<NodeString> stored;
    std::size_t at = 0;
    for (const std::string& text : texts) {
        stored.push_back(NodeString::owned(text));
        stored.push_back(NodeString::span(buffer.get(), at, at + text.size()));
        at += text.size();
    }
    NodeString emptied = NodeString::owned("record");
    NodeString taker = std::move(emptied);
    stored.push_back(std::move(emptied));
    for (const std::string& value : texts) {
        const TextMatcher matcher(value);
        for (const NodeString& s : stored) {
            const std::string_view text = *s.resolve();
            EXPECT_EQ(*matcher.matches(s), text == value)
                << "value " << testing::PrintToString(value) << " stored "
                << testing::PrintToString(std::string(text));
        }
    }
}

TEST(TextMatcher, AViewWithoutDataMatchesOnlyEmptyStrings) {
    const TextMatcher matcher{std::string_view{}};
    EXPECT_EQ(matcher.matches(NodeString()), true);
    EXPECT_EQ(matcher.matches(NodeString::owned("a")), false);
}

TEST(TextMatcher, ReportsASpanOutsideItsSource) {
    SourceRef buffer = SourceRef::adopt(bytes_buffer("abc"));
    NodeString broken = NodeString::span(buffer.get(), 1, 9);
    EXPECT_FALSE(TextMatcher("12345678").matches(broken).has_value());
    EXPECT_EQ(TextMatcher("1234").matches(broken), false);
}

int released_owners = 0;
std::int64_t released_home = 0;
void count_release(void*, std::int64_t home) noexcept {
    ++released_owners;
    released_home = home;
}

TEST(SourceBuffer, LivesAsLongAsItsLastSpanAndHandsItsOwnerHome) {
    released_owners = 0;
    static const char text[] = "<a>hello</a>";
    SourceBuffer* buffer = SourceBuffer::borrowing(text, nullptr, 7, count_release);
    NodeString span = NodeString::span(buffer, 3, 8);
    buffer->release();  // the making call's own reference
    EXPECT_EQ(released_owners, 0);
    EXPECT_EQ(*span.resolve(), "hello");
    NodeString copy = NodeString::span(buffer, 3, 8);
    span = NodeString();
    EXPECT_EQ(released_owners, 0);
    copy = NodeString();
    EXPECT_EQ(released_owners, 1);
    EXPECT_EQ(released_home, 7);
}

TEST(AttributeMap, SpanAndOwnedKeysWithTheSameBytesAreEqual) {
    SourceRef buffer = SourceRef::adopt(bytes_buffer("id=1"));
    AttributeMap map(take_hash_key(), 1);
    ASSERT_TRUE(map.insert(NodeString::span(buffer.get(), 0, 2), NodeString::owned("span")));
    ASSERT_TRUE(map.insert(NodeString::owned("id"), NodeString::owned("owned")));
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(*map.find("id")->resolve(), "owned");
    EXPECT_TRUE(map.begin()->key.is_span()) << "replacing a value keeps the stored key";
}

// A map made empty takes its key when it first needs an index and keeps it
// after.
TEST(AttributeMap, KeepsInsertionOrderAndKeyAcrossGrowth) {
    AttributeMap map;
    std::vector<std::string> keys;
    HashKey first{};
    for (int i = 0; i < 1000; ++i) {
        keys.push_back("k" + std::to_string(i * 7919 % 1000));
        ASSERT_TRUE(
            map.insert(NodeString::owned(keys.back()), NodeString::owned(std::to_string(i))));
        if (i == AttributeMap::kLinearCapacity) first = map.key();
    }
    EXPECT_EQ(map.key().k0, first.k0);
    EXPECT_EQ(map.key().k1, first.k1);
    ASSERT_EQ(map.size(), keys.size());
    std::size_t i = 0;
    for (const auto& entry : map) EXPECT_EQ(*entry.key.resolve(), keys[i++]);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        ASSERT_NE(map.find(keys[k]), nullptr) << keys[k];
        EXPECT_EQ(*map.find(keys[k])->resolve(), std::to_string(k));
    }
    EXPECT_EQ(map.find("absent"), nullptr);
    EXPECT_EQ(map.find(""), nullptr);
    // The first keys were stored before the map had an index.
    ASSERT_TRUE(map.insert(NodeString::owned(keys[0]), NodeString::owned("again")));
    EXPECT_EQ(map.size(), keys.size());
    EXPECT_EQ(*map.find(keys[0])->resolve(), "again");
}

TEST(AttributeMap, GrowingKeepsTheKeyTheMapWasMadeWith) {
    const HashKey key = take_hash_key();
    AttributeMap map(key, AttributeMap::kLinearCapacity + 1);
    std::vector<std::string> names = {"z", "a", "m", ""};
    for (std::size_t i = names.size(); i < 3 * AttributeMap::kLinearCapacity; ++i)
        names.push_back("k" + std::to_string(i));
    for (const std::string& name : names)
        ASSERT_TRUE(map.insert(NodeString::owned(name), NodeString::owned(name)));
    EXPECT_EQ(map.key().k0, key.k0);
    EXPECT_EQ(map.key().k1, key.k1);
    std::vector<std::string> stored;
    for (const auto& entry : map) stored.emplace_back(*entry.key.resolve());
    EXPECT_EQ(stored, names);
    EXPECT_NE(map.find(""), nullptr);
}

TEST(AttributeMap, EmptyMapFindsNothing) {
    AttributeMap map;
    EXPECT_EQ(map.find("x"), nullptr);
    EXPECT_TRUE(map.empty());
}

TEST(AttributeMap, EmplaceMakesTheEntryOnlyForAnAbsentKey) {
    const HashKey key = take_hash_key();
    AttributeMap map(key, 2);
    int made = 0;
    auto make = [&](std::string_view name, std::string_view value) {
        return [&made, name, value](NodeString* key_at, NodeString* value_at) {
            ++made;
            new (key_at) NodeString(NodeString::owned(name));
            new (value_at) NodeString(NodeString::owned(value));
        };
    };
    auto hash_of = [key](std::string_view name) {
        return [key, name] { return attribute_hash(key, name); };
    };
    EXPECT_TRUE(*map.emplace_new("id", hash_of("id"), make("id", "1")));
    EXPECT_TRUE(*map.emplace_new("kind", hash_of("kind"), make("kind", "x")));
    EXPECT_FALSE(*map.emplace_new("id", hash_of("id"), make("id", "2")));
    EXPECT_EQ(made, 2);
    // A third entry outgrows the block; the map keeps its entries.
    EXPECT_TRUE(*map.emplace_new("more", hash_of("more"), make("more", "y")));
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(*map.find("id")->resolve(), "1");
    EXPECT_EQ(*map.find("more")->resolve(), "y");
}

TEST(OptionalString, TellsAbsenceFromEveryStoredForm) {
    EXPECT_FALSE(OptionalString().has_value());
    EXPECT_FALSE(OptionalString(std::nullopt).has_value());
    EXPECT_FALSE(OptionalString(std::optional<NodeString>()).has_value());
    // Empty, the longest inline length, one past it, and a long heap text.
    for (const std::string& text :
         {std::string(), std::string(NodeString::kInlineCapacity, 'x'),
          std::string(NodeString::kInlineCapacity + 1, 'y'), std::string(1000, 'z')}) {
        OptionalString present(NodeString::owned(text));
        ASSERT_TRUE(present.has_value()) << text.size();
        EXPECT_EQ(*present->resolve(), text);
        OptionalString moved(std::move(present));
        EXPECT_EQ(*moved->resolve(), text);
        OptionalString assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(assigned.has_value());
        EXPECT_EQ(*(*assigned).resolve(), text);
        assigned = OptionalString();
        EXPECT_FALSE(assigned.has_value());
    }
}

// Blocks of `bytes` from one arena until they make `total` bytes.
std::vector<void*> cut_blocks(BlockArena& arena, std::size_t total, std::size_t bytes) {
    std::vector<void*> blocks;
    for (std::size_t made = 0; made < total; made += bytes) blocks.push_back(arena.allocate(bytes));
    return blocks;
}

TEST(BlockArena, BlocksAreAlignedDisjointAndSpanChunks) {
    struct Block {
        unsigned char* at;
        std::size_t bytes;
    };
    std::mt19937 random(3);
    std::vector<Block> blocks;
    {
        BlockArena arena;
        std::size_t total = 0;
        while (total < 3 * platform::kLargeAllocationBytes) {
            // Now and then one too large for a chunk, which the heap serves.
            const std::size_t bytes = random() % 50 == 0 ? 100'000 : 1 + random() % 700;
            auto* at = static_cast<unsigned char*>(arena.allocate(bytes));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(at) % BlockArena::kAlignment, 0u);
            std::memset(at, static_cast<int>(blocks.size() % 251), bytes);
            blocks.push_back({at, bytes});
            total += bytes;
        }
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto mark = static_cast<unsigned char>(i % 251);
        ASSERT_TRUE(std::all_of(blocks[i].at, blocks[i].at + blocks[i].bytes, [&](unsigned char c) {
            return c == mark;
        })) << i;
    }
    std::shuffle(blocks.begin(), blocks.end(), random);
    for (const Block& block : blocks) free_block(block.at);
}

// Early in a read the next chunk is shorter than the longest block an arena
// cuts; such a block must still get all its bytes.
TEST(BlockArena, ABlockLongerThanTheNextChunkGetsAllItsBytes) {
    BlockArena arena;
    std::vector<void*> blocks = cut_blocks(arena, std::size_t{31} << 10, 100);
    for (const std::size_t bytes : {std::size_t{40} << 10, std::size_t{64} << 10}) {
        auto* at = static_cast<unsigned char*>(arena.allocate(bytes));
        std::memset(at, 0x5A, bytes);
        const std::vector<void*> after = cut_blocks(arena, std::size_t{8} << 10, 100);
        for (void* block : after) std::memset(block, 0xA5, 100);
        EXPECT_TRUE(std::all_of(at, at + bytes, [](unsigned char c) { return c == 0x5A; }));
        blocks.push_back(at);
        blocks.insert(blocks.end(), after.begin(), after.end());
    }
    for (void* block : blocks) free_block(block);
}

// The chunks blocks were cut from are what the reserve gains once every
// block is freed. A small arena's blocks come from the heap and leave no
// chunk behind; a larger one's chunks are never much longer than its blocks.
TEST(BlockArena, ChunksGrowWithWhatTheArenaMade) {
    for (const std::size_t total :
         {std::size_t{1} << 10, std::size_t{24} << 10, std::size_t{100} << 10,
          std::size_t{900} << 10, std::size_t{6} << 20}) {
        auto arena = std::make_unique<BlockArena>();
        const std::vector<void*> blocks = cut_blocks(*arena, total, 100);
        arena.reset();
        const std::size_t kept_while_held = platform::kept_bytes();
        for (void* block : blocks) free_block(block);
        // Chunks shorter than 64 KiB come from the heap and are not counted.
        const std::size_t mapped_chunk_bytes = platform::kept_bytes() - kept_while_held;
        // Each block takes 112 bytes with its prefix.
        const std::size_t used = blocks.size() * 112;
        if (total < (std::size_t{32} << 10) / 112 * 100) {
            EXPECT_EQ(mapped_chunk_bytes, 0u) << total;
        } else if (total > (std::size_t{512} << 10)) {
            EXPECT_GT(mapped_chunk_bytes, 0u) << total;
        }
        EXPECT_LE(mapped_chunk_bytes, used + used / 2) << total;
    }
}

TEST(BlockArena, ChunkReturnsOnceTheArenaAndEveryBlockAreDone) {
    auto arena = std::make_unique<BlockArena>();
    // Past the blocks the heap serves and the chunks it gives, to the middle
    // of the first mapped chunk.
    const std::vector<void*> earlier = cut_blocks(*arena, std::size_t{140} << 10, 64);
    void* freed_while_filling = arena->allocate(64);
    free_block(freed_while_filling);
    void* kept = arena->allocate(64);
    void* last = arena->allocate(64);
    const std::size_t before = platform::kept_bytes();
    for (void* block : earlier) free_block(block);
    EXPECT_EQ(platform::kept_bytes(), before);  // the arena still cuts from it
    arena.reset();
    free_block(last);
    EXPECT_EQ(platform::kept_bytes(), before);  // `kept` still lives in it
    std::memset(kept, 1, 64);
    free_block(kept);
    EXPECT_GT(platform::kept_bytes(), before);
}

// Every chunk returns exactly once: a second round of the same blocks finds
// them all kept, and gives back just as much.
TEST(BlockArena, BlocksFreedOnManyThreadsReturnTheirChunks) {
    auto round = [] {
        std::vector<void*> blocks;
        {
            BlockArena arena;
            blocks = cut_blocks(arena, 40'000 * 96, 96);
        }
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (std::size_t i = t; i < blocks.size(); i += 4) free_block(blocks[i]);
            });
        }
        for (std::thread& thread : threads) thread.join();
        return platform::kept_bytes();
    };
    const std::size_t before = platform::kept_bytes();
    const std::size_t first = round();
    ASSERT_GT(first, before + (std::size_t{3} << 20));
    EXPECT_EQ(round(), first);
}

TEST(BlockArena, AttributeMapTablesCutFromAnArenaWorkAsHeapOnes) {
    BlockArena arena;
    AttributeMap map(take_hash_key(), 2, arena);
    ASSERT_TRUE(map.insert(NodeString::owned("id"), NodeString::owned("7")));
    ASSERT_TRUE(map.insert(NodeString::owned("kind"), NodeString::owned("x")));
    // A third entry outgrows the table, which moves to the heap.
    ASSERT_TRUE(map.insert(NodeString::owned("extra"), NodeString::owned("y")));
    AttributeMap moved(std::move(map));
    ASSERT_NE(moved.find("kind"), nullptr);
    EXPECT_EQ(*moved.find("kind")->resolve(), "x");
    EXPECT_EQ(*moved.find("extra")->resolve(), "y");
    EXPECT_EQ(moved.size(), 3u);
}

// A read's first tables are cut from its thread's scratch chunk, which the
// thread's next read cuts from again. Settled, they move out of it; left
// unsettled, the chunk goes with them. Either way the next arena's tables,
// written all over, leave the first ones' entries as they were.
TEST(BlockArena, TablesOutliveTheScratchChunkTheyWereCutFrom) {
    // Made two, one is left: the one alone moves to a heap block.
    for (const int made : {2, 40}) {
        for (const bool settle : {true, false}) {
            std::vector<AttributeMap> first;
            {
                BlockArena arena;
                for (int i = 0; i < made; ++i) {
                    first.emplace_back(take_hash_key(), 2, arena);
                    ASSERT_TRUE(first.back().insert(NodeString::owned("id"),
                                                    NodeString::owned(std::to_string(i))));
                }
                first.erase(first.begin() + 1);  // a hole the settling skips
                if (settle) {
                    BlockArena::Settling settling(arena);
                    ASSERT_FALSE(settling.nothing_to_move());
                    for (const AttributeMap& map : first) map.measure_block(settling);
                    EXPECT_TRUE(settling.found_all());
                    settling.reserve();
                    for (AttributeMap& map : first) map.follow_block(settling);
                    EXPECT_TRUE(settling.moved_all());
                }
            }
            BlockArena next;
            std::vector<AttributeMap> second;
            for (int i = 0; i < 40; ++i) {
                second.emplace_back(take_hash_key(), 2, next);
                ASSERT_TRUE(
                    second.back().insert(NodeString::owned("id"), NodeString::owned("other")));
            }
            for (std::size_t i = 0; i < first.size(); ++i) {
                ASSERT_NE(first[i].find("id"), nullptr) << made << settle << i;
                EXPECT_EQ(*first[i].find("id")->resolve(), std::to_string(i == 0 ? 0 : i + 1))
                    << made << settle << i;
            }
        }
    }
}

// Blocks of every length, more than one chunk of them, released in an
// order unlike the one they were made in: each is aligned, keeps what was
// written to it, and once all are released every chunk but the one kept
// for reuse is back in the reserve, so a second round faults nothing new.
TEST(PoolHeap, BlocksKeepTheirBytesAndEmptiedChunksReturn) {
    PoolHeap* heap = PoolHeap::create();
    ASSERT_NE(heap, nullptr);
    std::mt19937 random(7);
    struct Block {
        unsigned char* at;
        std::size_t bytes;
        unsigned char fill;
    };
    std::vector<Block> blocks;
    std::size_t total = 0;
    while (total < (std::size_t{3} << 20)) {
        const std::size_t bytes = 1 + random() % PoolHeap::kLargestBlock;
        auto* block = static_cast<unsigned char*>(heap->allocate(bytes));
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % PoolHeap::kBlockAlignment, 0u);
        const auto fill = static_cast<unsigned char>(blocks.size() % 251);
        std::memset(block, fill, bytes);
        blocks.push_back({block, bytes, fill});
        total += bytes;
    }
    std::shuffle(blocks.begin(), blocks.end(), random);
    const std::size_t kept_before = platform::kept_bytes();
    for (const Block& block : blocks) {
        ASSERT_TRUE(std::all_of(block.at, block.at + block.bytes,
                                [&](unsigned char c) { return c == block.fill; }));
        PoolHeap::release(block.at);
    }
    EXPECT_GE(platform::kept_bytes(), kept_before + (std::size_t{2} << 20));
    heap->abandon();
}

// A heap abandoned while blocks are held lives on for them: the blocks
// stay usable, and releasing the last one frees the heap (the leak checker
// would report it otherwise) and returns its chunk.
TEST(PoolHeap, AnAbandonedHeapLastsUntilItsLastBlock) {
    PoolHeap* heap = PoolHeap::create();
    ASSERT_NE(heap, nullptr);
    void* first = heap->allocate(64);
    void* second = heap->allocate(200);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    heap->abandon();
    PoolHeap::release(first);
    std::memset(second, 3, 200);
    const std::size_t kept_before = platform::kept_bytes();
    PoolHeap::release(second);
    EXPECT_GT(platform::kept_bytes(), kept_before);
}

}  // namespace
}  // namespace quorvane::storage
