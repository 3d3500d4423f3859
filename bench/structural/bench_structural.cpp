// Throughput of each classification kernel and each index builder on three
// generated documents, printed next to a plain AVX2 count of the '<' bytes,
// the reference for what one pass over the same memory can reach.
//
// Usage: bench_structural [megabytes per document, default 24]
#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "structural/index/structural.h"
#include "structural/simd/classify.h"

namespace {

namespace qs = quorvane::structural;

// Keeps results observable so the measured work is not optimised away.
volatile std::size_t g_sink = 0;

// The reference: compare, subtract the all-ones lanes from byte counters, and
// fold them into 64-bit sums before they can overflow.
__attribute__((target("avx2"))) std::size_t count_lt_avx2(std::string_view text) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    const __m256i needle = _mm256_set1_epi8('<');
    __m256i sums = _mm256_setzero_si256();
    std::size_t i = 0;
    while (i + 32 <= n) {
        __m256i counters = _mm256_setzero_si256();
        for (int round = 0; round < 255 && i + 32 <= n; ++round, i += 32) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            counters = _mm256_sub_epi8(counters, _mm256_cmpeq_epi8(bytes, needle));
        }
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(counters, _mm256_setzero_si256()));
    }
    std::size_t count = static_cast<std::size_t>(_mm256_extract_epi64(sums, 0)) +
                        static_cast<std::size_t>(_mm256_extract_epi64(sums, 1)) +
                        static_cast<std::size_t>(_mm256_extract_epi64(sums, 2)) +
                        static_cast<std::size_t>(_mm256_extract_epi64(sums, 3));
    for (; i < n; ++i) count += p[i] == '<';
    return count;
}

std::string record_like(std::size_t target, std::mt19937_64& rng) {
    const char* cities[] = {"Lyon", "Oslo", "Kyoto", "Lima", "Perth"};
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<records>\n";
    for (std::size_t id = 0; doc.size() < target; ++id) {
        doc += "  <record id=\"" + std::to_string(id) + "\" kind=\"" +
               (rng() % 2 ? "person" : "company") + "\">\n    <name>Name " +
               std::to_string(rng() % 100000) + "</name>\n    <city>" + cities[rng() % 5] +
               "</city>\n    <balance currency=\"EUR\">" + std::to_string(rng() % 1000000) +
               ".50</balance>\n    <note>Customer since " + std::to_string(1990 + rng() % 35) +
               ", prefers email &amp; post.</note>\n  </record>\n";
    }
    return doc + "</records>\n";
}

std::string quote_dense(std::size_t target, std::mt19937_64& rng) {
    std::string doc = "<?xml version=\"1.0\"?>\n<rows>\n";
    while (doc.size() < target) {
        doc += "<row a=\"" + std::to_string(rng() % 1000) + "\" b=\"x\" c=\"" +
               std::to_string(rng() % 100) + "\" d=\"yes\" e=\"\" f=\"" +
               std::to_string(rng() % 10) + "\"/>\n";
    }
    return doc + "</rows>\n";
}

std::string text_heavy(std::size_t target, std::mt19937_64& rng) {
    const char* words[] = {"the",    "structure", "of",        "a",    "document",
                           "is",     "mostly",    "prose",     "with", "rare",
                           "markup", "between",   "paragraphs"};
    std::string doc = "<book>\n";
    while (doc.size() < target) {
        doc += "<p>";
        for (int w = 0; w < 150; ++w) (doc += words[rng() % 13]) += ' ';
        doc += "<em>note</em> end.</p>\n";
    }
    return doc + "</book>\n";
}

// Best time of several runs; at least five, and at least a quarter second.
double best_seconds(const std::function<std::size_t()>& run) {
    double best = 1e30;
    double total = 0;
    for (int i = 0; i < 5 || total < 0.25; ++i) {
        const auto start = std::chrono::steady_clock::now();
        g_sink = g_sink + run();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        total += seconds;
    }
    return best;
}

std::size_t entries_or_zero(const qs::IndexResult& result) {
    return result ? result->entry_count() : 0;
}

const char* builder_name(qs::IndexBuilder builder) {
    switch (builder) {
        case qs::IndexBuilder::Search:
            return "search";
        case qs::IndexBuilder::Masks:
            return "masks";
        case qs::IndexBuilder::SearchAfterMasks:
            return "search after masks";
    }
    return "?";
}

struct Measured {
    std::string name;
    double gb_per_s;
};

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 24;
    const std::size_t target = megabytes * 1000 * 1000;
    std::mt19937_64 rng(42);
    const std::pair<const char*, std::string> documents[] = {
        {"record-like", record_like(target, rng)},
        {"quote-dense", quote_dense(target, rng)},
        {"text-heavy", text_heavy(target, rng)},
    };
    if (!qs::cpu_has_avx2()) {
        std::printf("this processor lacks AVX2; the reference count needs it\n");
        return 1;
    }

    bool targets_met = true;
    for (const auto& [doc_name, doc] : documents) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(doc.data());
        const std::size_t n = doc.size();
        const qs::ChosenIndex chosen = qs::build_index_with_choice(doc);
        std::printf("\n%s: %.1f MB, build_index uses %s, %zu entries\n", doc_name, n / 1e6,
                    builder_name(chosen.builder), entries_or_zero(chosen.result));

        std::vector<Measured> rows;
        auto measure = [&](std::string name, const std::function<std::size_t()>& run) {
            rows.push_back({std::move(name), n / best_seconds(run) / 1e9});
            return rows.back().gb_per_s;
        };
        const double count = measure("count '<' (reference)", [&] { return count_lt_avx2(doc); });
        const double scalar =
            measure("classify_scalar", [&] { return qs::classify_scalar(bytes, n).lt_bits[0]; });
        if (qs::cpu_has_sse42()) {
            measure("classify_sse42", [&] { return qs::classify_sse42(bytes, n).lt_bits[0]; });
        }
        const double avx2 =
            measure("classify_avx2", [&] { return qs::classify_avx2(bytes, n).lt_bits[0]; });
        const double search = measure("build_index_by_search", [&] {
            return entries_or_zero(qs::build_index_by_search(doc));
        });
        measure("build_index_by_masks",
                [&] { return entries_or_zero(qs::build_index_by_masks(doc)); });
        measure("build_index", [&] { return entries_or_zero(qs::build_index(doc)); });

        for (const Measured& row : rows) {
            std::printf("  %-24s %7.2f GB/s  %5.0f%% of count\n", row.name.c_str(), row.gb_per_s,
                        100 * row.gb_per_s / count);
        }
        const bool avx2_vs_count = avx2 >= 0.4 * count;
        const bool avx2_vs_scalar = avx2 >= 4 * scalar;
        std::printf("  classify_avx2 / count  = %.2f (target >= 0.40) %s\n", avx2 / count,
                    avx2_vs_count ? "ok" : "SHORT");
        std::printf("  classify_avx2 / scalar = %.1fx (target >= 4x) %s\n", avx2 / scalar,
                    avx2_vs_scalar ? "ok" : "SHORT");
        targets_met = targets_met && avx2_vs_count && avx2_vs_scalar;
        if (std::string_view(doc_name) == "record-like") {
            std::printf("  build_index_by_search  = %.2f GB/s (target >= 1) %s\n", search,
                        search >= 1 ? "ok" : "SHORT");
            targets_met = targets_met && search >= 1;
        }
    }
    std::printf("\n%s\n", targets_met ? "all targets met" : "some targets missed");
    return 0;
}
