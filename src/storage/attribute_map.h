// Attribute names to values. Dense entries in insertion order, as CPython's
// dict keeps them, so attributes list in document (or caller) order. A map
// with room for more than a few entries adds an open-addressing index whose
// lookups hash once with the map's own random key; a smaller one, nearly
// every map a document has, compares its few keys in turn, which costs less
// than hashing the probe and keeps no index or hashes in the tree.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>

#include "src/storage/block_arena.h"
#include "src/storage/node_string.h"

namespace quorvane::storage {

struct HashKey {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

// Hands out the calling thread's key pair (drawn from the OS random source on
// first use) and advances the thread's k0, so every taker gets its own key.
HashKey take_hash_key();

// SipHash-1-3 of `bytes` followed by one 0xFF byte.
std::uint64_t attribute_hash(HashKey key, std::string_view bytes);

class AttributeMap {
public:
    // The largest capacity whose map keeps no index. Eight keys compare, most
    // of them by length alone, in less time than the probe takes to hash.
    static constexpr std::size_t kLinearCapacity = 8;

    struct Entry {
        NodeString key;
        NodeString value;
    };

    // Empty, with no key yet: one is taken when the map first needs an index.
    AttributeMap() = default;
    // Room for exactly `capacity` entries, hashed with `key` if that many
    // need an index (a smaller map takes a fresh key if it ever grows to
    // one); with no room, the same as the empty map.
    AttributeMap(HashKey key, std::size_t capacity) {
        if (capacity != 0) allocate(key, capacity, nullptr);
    }
    // The same with the block cut from `arena`.
    AttributeMap(HashKey key, std::size_t capacity, BlockArena& arena) {
        if (capacity != 0) allocate(key, capacity, &arena);
    }
    AttributeMap(AttributeMap&& other) noexcept { swap(other); }
    AttributeMap& operator=(AttributeMap&& other) noexcept {
        AttributeMap moved(std::move(other));
        swap(moved);
        return *this;
    }
    AttributeMap(const AttributeMap&) = delete;
    AttributeMap& operator=(const AttributeMap&) = delete;
    ~AttributeMap() {
        if (entries_) clear();
    }

    // Empties the map; the spans' references go to `releases`.
    void release_into(SpanReleases& releases) noexcept;

    // Inserts, or replaces the value of a present key (keeping the stored
    // key); the key's bytes must already be resolvable.
    std::expected<void, NativeFailure> insert(NodeString key, NodeString value);
    // Inserts a key whose resolved text the caller already has, unless it is
    // present. `hash()` gives the key's hash under this map's key; only a map
    // with an index asks for it. Once the key is known to be absent,
    // `make(key, value)` constructs the new entry's strings in their place,
    // so they are never moved there; on false (present) nothing was made.
    // Fails only if growing finds a stored key that no longer resolves.
    template <class Hash, class Make>
    std::expected<bool, NativeFailure> emplace_new(std::string_view key_bytes, Hash&& hash,
                                                   Make&& make) {
        if (auto room = make_room(); !room) return std::unexpected(std::move(room.error()));
        std::uint64_t key_hash = 0;
        const std::int64_t where = locate(key_bytes, hash, key_hash);
        if (where >= 0) return false;
        Entry* entry = entries_ + header()->size;
        make(&entry->key, &entry->value);
        count_new(where, key_hash);
        return true;
    }

    const NodeString* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    std::size_t size() const { return entries_ ? header()->size : 0; }
    bool empty() const { return size() == 0; }
    // The key of a map with room for more than kLinearCapacity entries.
    HashKey key() const { return *index_key(); }

    const Entry* begin() const { return entries_; }
    const Entry* end() const { return entries_ + size(); }

    void swap(AttributeMap& other) noexcept { std::swap(entries_, other.entries_); }

    // The two walks of BlockArena::Settling: shows it the map's block, then
    // follows the block to where it moved.
    void measure_block(BlockArena::Settling& settling) const {
        if (entries_) settling.measure(header(), block_bytes(header()->capacity));
    }
    void follow_block(BlockArena::Settling& settling) {
        if (!entries_) return;
        void* moved = settling.move(header(), block_bytes(header()->capacity));
        entries_ = reinterpret_cast<Entry*>(static_cast<Header*>(moved) + 1);
    }

private:
    // One heap block: this header, then `capacity` entries; past
    // kLinearCapacity, then also the hash key, each entry's hash and the
    // index slots (entry index + 1; 0 marks an empty slot), a power of two
    // at least twice the capacity. The counts (and key) live in the block
    // rather than in the map, so the map inside every node and record is one
    // word.
    struct Header {
        std::uint32_t size;
        std::uint32_t capacity;
    };

    static bool indexed(std::size_t capacity) { return capacity > kLinearCapacity; }

    Header* header() const { return reinterpret_cast<Header*>(entries_) - 1; }
    // Of an indexed map only.
    HashKey* index_key() const { return reinterpret_cast<HashKey*>(entries_ + header()->capacity); }
    std::uint64_t* hashes() const { return reinterpret_cast<std::uint64_t*>(index_key() + 1); }
    std::uint32_t* slots() const {
        return reinterpret_cast<std::uint32_t*>(hashes() + header()->capacity);
    }
    static std::size_t slot_count(std::size_t capacity) { return std::bit_ceil(2 * capacity); }
    static std::size_t block_bytes(std::size_t capacity) {
        std::size_t bytes = sizeof(Header) + capacity * sizeof(Entry);
        if (indexed(capacity)) {
            bytes += sizeof(HashKey) + capacity * sizeof(std::uint64_t) +
                     slot_count(capacity) * sizeof(std::uint32_t);
        }
        return bytes;
    }
    std::size_t slot_mask() const { return slot_count(header()->capacity) - 1; }
    // Stores `slot_value` in the first empty slot from `hash` on.
    static void place(std::uint32_t* table, std::size_t mask, std::uint64_t hash,
                      std::uint32_t slot_value) {
        std::size_t s = hash & mask;
        while (table[s] != 0) s = (s + 1) & mask;
        table[s] = slot_value;
    }
    // Where `key` stands: its entry index if present; if not, -(slot + 1) of
    // the empty slot an indexed map would give it (with `key_hash` set to the
    // `hash()` that found the slot), or -1 in a map without an index.
    template <class Hash>
    std::int64_t locate(std::string_view key, Hash&& hash, std::uint64_t& key_hash) const {
        if (!indexed(header()->capacity)) return find_linear(key);
        key_hash = hash();
        return find_slot(key_hash, key);
    }
    // Counts in the entry just made past the last one, which locate() found
    // absent at `where` with `key_hash`.
    void count_new(std::int64_t where, std::uint64_t key_hash) {
        Header& header = *this->header();
        if (indexed(header.capacity)) {
            hashes()[header.size] = key_hash;
            slots()[-where - 1] = header.size + 1;
        }
        ++header.size;
    }
    // The entry index of `key`, or -(slot + 1) of the empty slot it would
    // take; of an indexed map.
    std::int64_t find_slot(std::uint64_t hash, std::string_view key) const;
    // The entry index of `key`, or -1; of a map without an index.
    std::int64_t find_linear(std::string_view key) const;
    // From the heap when `arena` is null.
    void allocate(HashKey key, std::size_t capacity, BlockArena* arena);
    std::expected<void, NativeFailure> grow_to(std::size_t capacity);
    // Room for one more entry.
    std::expected<void, NativeFailure> make_room() {
        if (!entries_) return grow_to(4);
        if (header()->size == header()->capacity)
            return grow_to(2 * std::size_t(header()->capacity));
        return {};
    }
    void clear() noexcept;

    Entry* entries_ = nullptr;  // just past the header in the block
};

}  // namespace quorvane::storage
