#include "src/storage/attribute_map.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/random.h"

namespace quorvane::storage {

namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int b) { return std::rotl(x, b); }

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round() {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void compress(std::uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

std::uint64_t load_le(const unsigned char* p) {
    std::uint64_t m;
    std::memcpy(&m, p, 8);
    if constexpr (std::endian::native == std::endian::big) m = std::byteswap(m);
    return m;
}

// The same for the 0 to 7 bytes of a message tail: at most two overlapping
// loads instead of a loop over the bytes.
std::uint64_t load_tail(const unsigned char* p, std::size_t n) {
    if (n >= 4) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = std::byteswap(lo);
            hi = std::byteswap(hi);
        }
        return std::uint64_t(lo) | (std::uint64_t(hi) << (8 * (n - 4)));
    }
    if (n == 0) return 0;
    return std::uint64_t(p[0]) | (std::uint64_t(p[n / 2]) << (8 * (n / 2))) |
           (std::uint64_t(p[n - 1]) << (8 * (n - 1)));
}

struct ThreadKey {
    bool seeded = false;
    HashKey key;
};

thread_local ThreadKey thread_key;

void seed(ThreadKey& state) {
    unsigned char bytes[16];
    // No random source: keys would be predictable.
    if (!platform::fill_random(bytes, sizeof bytes)) std::abort();
    std::memcpy(&state.key.k0, bytes, 8);
    std::memcpy(&state.key.k1, bytes + 8, 8);
    state.seeded = true;
}

}  // namespace

HashKey take_hash_key() {
    ThreadKey& state = thread_key;
    if (!state.seeded) seed(state);
    HashKey taken = state.key;
    ++state.key.k0;
    return taken;
}

std::uint64_t attribute_hash(HashKey key, std::string_view bytes) {
    SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
               key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    // The hashed message is the bytes plus one 0xFF byte.
    const std::size_t total = bytes.size() + 1;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) s.compress(load_le(p + i));
    std::size_t rest = bytes.size() - i;
    std::uint64_t last = load_tail(p + i, rest);
    if (rest == 7) {
        s.compress(last | (std::uint64_t(0xFF) << 56));
        last = 0;
    } else {
        last |= std::uint64_t(0xFF) << (8 * rest);
    }
    last |= std::uint64_t(total & 0xFF) << 56;
    s.compress(last);
    s.v2 ^= 0xFF;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

void AttributeMap::clear() noexcept {
    const std::uint32_t size = header()->size;
    for (std::uint32_t i = 0; i < size; ++i) entries_[i].~Entry();
    free_block(header());
    entries_ = nullptr;
}

void AttributeMap::release_into(SpanReleases& releases) noexcept {
    if (!entries_) return;
    const std::uint32_t size = header()->size;
    for (std::uint32_t i = 0; i < size; ++i) {
        entries_[i].key.release_into(releases);
        entries_[i].value.release_into(releases);
    }
    // The entries own nothing now; their block goes without a second pass.
    free_block(header());
    entries_ = nullptr;
}

std::int64_t AttributeMap::find_slot(std::uint64_t hash, std::string_view key) const {
    const std::uint32_t* table = slots();
    const std::uint64_t* entry_hashes = hashes();
    const std::size_t mask = slot_mask();
    for (std::size_t s = hash & mask;; s = (s + 1) & mask) {
        const std::uint32_t slot = table[s];
        if (slot == 0) return -static_cast<std::int64_t>(s) - 1;
        if (entry_hashes[slot - 1] != hash) continue;
        auto stored = entries_[slot - 1].key.resolve();
        if (stored && *stored == key) return slot - 1;
    }
}

std::int64_t AttributeMap::find_linear(std::string_view key) const {
    const std::uint32_t size = header()->size;
    for (std::uint32_t i = 0; i < size; ++i) {
        // Lengths first: most keys differ in length, and that needs no look
        // at their bytes.
        if (entries_[i].key.size() != key.size()) continue;
        auto stored = entries_[i].key.resolve();
        if (stored && *stored == key) return i;
    }
    return -1;
}

// A fresh block for an empty map.
void AttributeMap::allocate(HashKey key, std::size_t capacity, BlockArena* arena) {
    const std::size_t bytes = block_bytes(capacity);
    auto* block = static_cast<Header*>(arena ? arena->allocate(bytes) : allocate_heap_block(bytes));
    *block = Header{0, static_cast<std::uint32_t>(capacity)};
    entries_ = reinterpret_cast<Entry*>(block + 1);
    if (!indexed(capacity)) return;
    *index_key() = key;
    std::memset(slots(), 0, slot_count(capacity) * sizeof(std::uint32_t));
}

// An indexed map's key goes with its entries into the larger block. A map
// that gains its index takes a fresh key and hashes its keys now, before any
// entry moves, so a key that fails to resolve leaves the map as it was.
std::expected<void, NativeFailure> AttributeMap::grow_to(std::size_t capacity) {
    AttributeMap grown;
    const bool had_index = entries_ && indexed(header()->capacity);
    HashKey grown_key{};
    if (indexed(capacity)) grown_key = had_index ? key() : take_hash_key();
    grown.allocate(grown_key, capacity, nullptr);
    const std::uint32_t size = static_cast<std::uint32_t>(this->size());
    if (indexed(capacity)) {
        std::uint64_t* grown_hashes = grown.hashes();
        for (std::uint32_t i = 0; i < size; ++i) {
            if (had_index) {
                grown_hashes[i] = hashes()[i];
            } else {
                auto bytes = entries_[i].key.resolve();
                if (!bytes) return std::unexpected(std::move(bytes.error()));
                grown_hashes[i] = attribute_hash(grown.key(), *bytes);
            }
            place(grown.slots(), grown.slot_mask(), grown_hashes[i], i + 1);
        }
    }
    for (std::uint32_t i = 0; i < size; ++i) new (&grown.entries_[i]) Entry(std::move(entries_[i]));
    grown.header()->size = size;
    swap(grown);
    return {};
}

std::expected<void, NativeFailure> AttributeMap::insert(NodeString key, NodeString value) {
    auto bytes = key.resolve();
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (auto room = make_room(); !room) return room;
    std::uint64_t key_hash = 0;
    const std::int64_t where =
        locate(*bytes, [&] { return attribute_hash(this->key(), *bytes); }, key_hash);
    if (where >= 0) {
        entries_[where].value = std::move(value);
        return {};
    }
    new (entries_ + header()->size) Entry{std::move(key), std::move(value)};
    count_new(where, key_hash);
    return {};
}

const NodeString* AttributeMap::find(std::string_view key) const {
    if (empty()) return nullptr;
    std::uint64_t key_hash = 0;
    const std::int64_t where =
        locate(key, [&] { return attribute_hash(this->key(), key); }, key_hash);
    return where >= 0 ? &entries_[where].value : nullptr;
}

}  // namespace quorvane::storage
