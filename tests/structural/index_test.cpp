// The two index builders on the edge cases of markup, one table of inputs on
// which they agree and one on which their fallbacks differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index_outcome.h"
#include "platform/memory.h"
#include "structural/index/structural.h"

namespace quorvane::structural {
namespace {

using enum TagKind;

struct BuilderCase {
    const char* name;
    IndexResult (*build)(std::string_view);
};

const BuilderCase kBuilders[] = {
    {"search", build_index_by_search},
    {"masks", build_index_by_masks},
};

class BothBuilders : public ::testing::TestWithParam<BuilderCase> {};

struct AgreedCase {
    std::string_view input;
    Outcome expected;
};

TEST_P(BothBuilders, IndexMarkupAlike) {
    const AgreedCase cases[] = {
        {"", ok({})},
        {"no markup at all", ok({})},
        {"<a>", ok({{Open, 0, 2, "a"}})},
        {"<a", unclosed(0)},
        {R"(<a b="x>y"/>)", ok({{SelfClosing, 0, 11, "a"}})},
        {"<a / b>", ok({{Open, 0, 6, "a"}})},
        {"<!-- <b> -->", ok({{Comment, 0, 11, ""}})},
        {"<![CDATA[<b>]]>", ok({{CData, 0, 14, ""}}, {"<b>"})},
        {"<?pi <b>?>", ok({{ProcessingInstruction, 0, 9, "pi"}})},
        {"<![CDATA[]]>", ok({{CData, 0, 11, ""}})},
        {"<![CDATA[x]]>", ok({{CData, 0, 12, ""}}, {"x"})},
        {"<![CDATA[>", ok({{CData, 0, 9, ""}})},
        {"<!DOCTYPE r>text<r/>", ok({{SelfClosing, 16, 19, "r"}}, {"text"})},
        {R"(<?xml version="1.0"?>)", ok({{ProcessingInstruction, 0, 20, "xml"}})},
        {"<?pi x>", ok({{ProcessingInstruction, 0, 6, "pi"}})},
        {"<?pi?>", ok({{ProcessingInstruction, 0, 5, "pi"}})},
        {"</a>", ok({{Close, 0, 3, "a"}})},
        {"<a>t<b/>u</a>v",
         ok({{Open, 0, 2, "a"}, {SelfClosing, 4, 7, "b"}, {Close, 9, 12, "a"}}, {"t", "u"})},
        // Whitespace is tab, LF, FF, CR and space; a vertical tab is a name byte.
        {"<a\tb=''>", ok({{Open, 0, 7, "a"}})},
        {"</a\fx>", ok({{Close, 0, 5, "a"}})},
        {"<a\vb>", ok({{Open, 0, 4, "a\vb"}})},
        {"<?a\rb?>", ok({{ProcessingInstruction, 0, 6, "a"}})},
    };
    for (const AgreedCase& c : cases) {
        EXPECT_EQ(outcome_of(GetParam().build(c.input)), c.expected) << "input: " << c.input;
    }
}

TEST_P(BothBuilders, TrackDepthsAndParents) {
    const IndexResult index = GetParam().build("<a><b/>t<c><?p?>u</c></a></x>");
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(values(index->tag_depths), (std::vector<std::uint16_t>{0, 1, 1, 2, 1, 0, 0}));
    EXPECT_EQ(values(index->tag_parents), (std::vector<std::int32_t>{-1, 0, 0, 2, 0, -1, -1}));
    ASSERT_EQ(index->text_ranges.size(), 2u);
    EXPECT_EQ(index->text_ranges[0].parent, 0);
    EXPECT_EQ(index->text_ranges[1].parent, 2);
}

TEST_P(BothBuilders, WrapTheDepthPast65535Levels) {
    std::string input;
    for (int i = 0; i < 65537; ++i) input += "<a>";
    const IndexResult index = GetParam().build(input);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->tag_depths[65535], 65535);
    EXPECT_EQ(index->tag_depths[65536], 0);
    EXPECT_EQ(index->tag_parents[65536], 65535);
}

TEST_P(BothBuilders, KeepNamesLongerThan65535BytesWhole) {
    const std::string name(70000, 'n');
    const std::string input = "<" + name + " a=\"1\">x</" + name + ">";
    const IndexResult index = GetParam().build(input);
    ASSERT_TRUE(index.has_value());
    ASSERT_EQ(index->entry_count(), 2u);
    EXPECT_EQ(index->tag_name(0), name);
    EXPECT_EQ(index->tag_name(1), name);
}

TEST_P(BothBuilders, ReserveByInputLength) {
    const std::string input = "<r>" + std::string(1021, 'x');
    const IndexResult index = GetParam().build(input);
    ASSERT_TRUE(index.has_value());
    EXPECT_GE(index->tag_starts.capacity(), input.size() / 128);
    EXPECT_GE(index->tag_parents.capacity(), input.size() / 128);
    EXPECT_GE(index->text_ranges.capacity(), input.size() / 256);
}

INSTANTIATE_TEST_SUITE_P(Builders, BothBuilders, ::testing::ValuesIn(kBuilders),
                         [](const auto& info) { return std::string(info.param.name); });

struct DivergentCase {
    std::string_view input;
    Outcome by_search;
    Outcome by_masks;
};

TEST(Builders, DifferWhereTheirRulesDo) {
    const DivergentCase cases[] = {
        // A final '<' fails the search but is ignored by the masks.
        {"<a></a><", unclosed(7), ok({{Open, 0, 2, "a"}, {Close, 3, 6, "a"}})},
        // Unterminated comments: past the end, or ended at n - 2 / w + 4.
        {"<r><!-- x > y", past_end(), ok({{Open, 0, 2, "r"}, {Comment, 3, 11, ""}})},
        {"<!-->", past_end(), ok({{Comment, 0, 4, ""}})},
        {"<!-- x", past_end(), unclosed(0)},
        // Unterminated CDATA: where the last ']' search started, or n - 2.
        {"<![CDATA[a>b]c", ok({{CData, 0, 13, ""}}), ok({{CData, 0, 12, ""}})},
        {"<![CDATA[ab]", past_end(), unclosed(0)},
        // A processing instruction's end needs no '>' in the search.
        {"<?pi x", ok({{ProcessingInstruction, 0, 5, "pi"}}), unclosed(0)},
        {"<?p", past_end(), unclosed(0)},
        {"<!DOCTYPE", ok({}), unclosed(0)},
        // The search steps over an unmatched quote; the masks lose the rest.
        {R"(<a b="x>)", ok({{Open, 0, 7, "a"}}), unclosed(0)},
        // An apostrophe in text hides the markup after it from the masks.
        {"<p>it's <b>x</b></p>",
         ok({{Open, 0, 2, "p"}, {Open, 8, 10, "b"}, {Close, 12, 15, "b"}, {Close, 16, 19, "p"}},
            {"it's ", "x"}),
         ok({{Open, 0, 2, "p"}})},
    };
    for (const DivergentCase& c : cases) {
        EXPECT_EQ(outcome_of(build_index_by_search(c.input)), c.by_search) << "input: " << c.input;
        EXPECT_EQ(outcome_of(build_index_by_masks(c.input)), c.by_masks) << "input: " << c.input;
    }
}

// The search builder answers its searches from 64-byte windows of the input:
// moving a document through every offset against the windows must only move
// its index. The document has a quoted '>' and a quote spanning more than a
// window, names ending at '>' and at white space, and a final unmatched
// quote whose partner search runs to the end before the walk steps back.
TEST(SearchBuilder, IndexesTheSameAtEveryWindowOffset) {
    const std::string body = R"(<a k=")" + std::string(100, 'v') +
                             R"(>" q='/'/>t</a  ><long-name-)" + std::string(70, 'n') +
                             "\t/>\n<b>x</b><c d=\"x>";
    const Outcome at_zero = outcome_of(build_index_by_search(body));
    const std::string long_name = "long-name-" + std::string(70, 'n');
    ASSERT_EQ(at_zero, ok({{SelfClosing, 0, 115, "a"},
                           {Close, 117, 122, "a"},
                           {SelfClosing, 123, 206, long_name},
                           {Open, 208, 210, "b"},
                           {Close, 212, 215, "b"},
                           {Open, 216, 223, "c"}},
                          {"t", "\n", "x"}));
    for (std::size_t pad = 1; pad <= 192; ++pad) {
        Outcome shifted = at_zero;
        for (Entry& e : shifted.entries) {
            e.start += pad;
            e.end += pad;
        }
        shifted.texts.insert(shifted.texts.begin(), std::string(pad, ' '));
        EXPECT_EQ(outcome_of(build_index_by_search(std::string(pad, ' ') + body)), shifted)
            << "pad " << pad;
    }
}

// Large enough that every column lives in mapped storage: the records must
// land where the small-document path puts them, up to the last one.
TEST_P(BothBuilders, IndexDocumentsWhoseColumnsAreMapped) {
    constexpr int kRecords = 400'000;
    std::string doc = "<root>";
    for (int i = 0; i < kRecords; ++i) doc += R"(<r a="1">t</r>)";
    doc += "</root>";
    const IndexResult result = GetParam().build(doc);
    ASSERT_TRUE(result.has_value());
    const StructuralIndex& index = *result;
    ASSERT_EQ(index.entry_count(), 2u * kRecords + 2);
    ASSERT_GE(index.entry_count() * sizeof(std::uint64_t), platform::kLargeAllocationBytes);
    for (std::size_t i = 1; i + 1 < index.entry_count(); i += 2) {
        const std::uint64_t record_start = 6 + (i / 2) * 14;
        ASSERT_EQ(index.tag_starts[i], record_start) << i;
        ASSERT_EQ(index.tag_ends[i + 1], record_start + 13) << i;
        ASSERT_EQ(index.tag_parents[i], 0) << i;
        ASSERT_EQ(index.tag_depths[i + 1], 1) << i;
        ASSERT_EQ(index.tag_name(i + 1), "r") << i;
    }
    ASSERT_EQ(index.text_ranges.size(), static_cast<std::size_t>(kRecords));
    EXPECT_EQ(index.text_of(index.text_ranges.back()), "t");
    EXPECT_EQ(index.tag_kind(index.entry_count() - 1), TagKind::Close);
}

}  // namespace
}  // namespace quorvane::structural
