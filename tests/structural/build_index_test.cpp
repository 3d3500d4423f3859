// build_index: the sample that picks a builder, and the check that keeps a
// quote-dense document from losing markup to the mask builder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "index_outcome.h"
#include "structural/index/structural.h"

namespace quorvane::structural {
namespace {

struct SampleCase {
    std::string input;
    bool prefers_masks;
};

TEST(BuilderSample, PicksMasksAboveFiveDoubleQuotesPerLt) {
    const SampleCase cases[] = {
        {R"(<a b="" c="" d=""/>)", true},
        {R"(<a b="" c=""/>x")", false},  // exactly five is not above
        {R"("""""")", true},             // no '<' counts as one
        {"<a b='' c='' d='' e=''/>", false},
        {std::string(4090, 'x') + R"("""""")", true},
        {std::string(4091, 'x') + R"("""""")", false},  // the sixth lies past the sample
        {"<a/>" + std::string(4092, 'x') + std::string(100, '"'), false},
    };
    for (const SampleCase& c : cases) {
        EXPECT_EQ(prefers_mask_builder(c.input), c.prefers_masks) << "input: " << c.input;
    }
}

// Quote-dense rows (six double quotes per '<') around a middle part.
std::string quote_dense(std::string_view middle) {
    std::string doc = R"(<?xml version="1.0"?><rows>)";
    for (int i = 0; i < 20; ++i) doc += R"(<row a="1" b="x > y" c="3"/>)";
    doc += middle;
    for (int i = 0; i < 20; ++i) doc += R"(<row a="1" b="2" c="3"/>)";
    return doc + "</rows>";
}

struct ChoiceCase {
    const char* why;
    std::string doc;
    IndexBuilder expected;
};

TEST(BuildIndex, KeepsTheMaskIndexOnlyWhenNoLtIsLost) {
    const ChoiceCase cases[] = {
        {"quotes inside tags", quote_dense("<t>plain</t>"), IndexBuilder::Masks},
        {"balanced quotes in text", quote_dense(R"(<t>say "hi" and 'bye'</t>)"),
         IndexBuilder::Masks},
        {"'<' inside an attribute value", quote_dense(R"(<t v="a<b" w='<'/>)"),
         IndexBuilder::Masks},
        {"'<' inside comment and CDATA", quote_dense("<!-- <x> --><![CDATA[<y>]]>"),
         IndexBuilder::Masks},
        {"quoted '<' in a declaration", R"(<!DOCTYPE rows SYSTEM "a<b">)" + quote_dense(""),
         IndexBuilder::Masks},
        {"apostrophe in text", quote_dense("<t>it's</t>"), IndexBuilder::SearchAfterMasks},
        {"double quote in text", quote_dense(R"(<t>5" long</t>)"), IndexBuilder::SearchAfterMasks},
        {"apostrophe in a comment", quote_dense("<!-- don't -->"), IndexBuilder::SearchAfterMasks},
        {"apostrophe in CDATA", quote_dense("<![CDATA[don't]]>"), IndexBuilder::SearchAfterMasks},
        {"masks fail, search succeeds", quote_dense("<t a='1>x</t>"),
         IndexBuilder::SearchAfterMasks},
        {"final '<' ignored by the masks", quote_dense("") + "<", IndexBuilder::SearchAfterMasks},
        {"few quotes", "<a>it's</a>", IndexBuilder::Search},
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.why);
        const ChosenIndex chosen = build_index_with_choice(c.doc);
        EXPECT_EQ(chosen.builder, c.expected);
        expect_same_index(chosen.result, build_index_by_search(c.doc));
        expect_same_index(build_index(c.doc), chosen.result);
    }
}

TEST(BuildIndex, MendsWhatTheMaskBuilderAloneGetsWrong) {
    const std::string doc = quote_dense("<t>it's</t>");
    ASSERT_TRUE(prefers_mask_builder(doc));
    EXPECT_NE(outcome_of(build_index_by_masks(doc)), outcome_of(build_index_by_search(doc)));
    EXPECT_EQ(outcome_of(build_index(doc)), outcome_of(build_index_by_search(doc)));
}

// Random well-formed quote-dense documents with stray quotes in text,
// comments, CDATA and processing instructions read the same as with the
// search builder, whichever way the check goes.
std::string random_document(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> pick(0, 99);
    const std::string_view fillers[] = {"word ", "it's ", R"(5" )", "a > b ", "''", R"("")"};
    std::string doc = R"(<?xml version="1.0" encoding='utf-8'?><root>)";
    int open = 1;
    for (int step = 0; step < 60; ++step) {
        const int roll = pick(rng);
        if (roll < 35) {
            doc += R"(<rec id="1" name='n' note="x > 'y'" v="2" w="3"/>)";
        } else if (roll < 50) {
            doc += R"(<item k="1" l="2" m="3">)";
            ++open;
        } else if (roll < 60 && open > 1) {
            doc += "</item>";
            --open;
        } else if (roll < 92) {
            const int filler = pick(rng);
            // Mostly harmless text; now and then a stray quote.
            doc += fillers[filler < 80 ? 0 : 1 + filler % 5];
        } else if (roll < 95) {
            doc += pick(rng) < 50 ? "<!-- a < b -->" : "<!-- it's -->";
        } else if (roll < 98) {
            doc += pick(rng) < 50 ? "<![CDATA[<x> & \"]]>" : "<![CDATA[a<b>c]]>";
        } else {
            doc += "<?pi data='1'?>";
        }
    }
    while (open-- > 1) doc += "</item>";
    return doc + "</root>";
}

TEST(BuildIndex, ReadsRandomQuoteDenseDocumentsLikeTheSearchBuilder) {
    std::mt19937_64 rng(7);
    int kept_masks = 0;
    int searched_again = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string doc = random_document(rng);
        if (!prefers_mask_builder(doc)) continue;
        const ChosenIndex chosen = build_index_with_choice(doc);
        ASSERT_TRUE(chosen.result.has_value()) << doc;
        expect_same_index(chosen.result, build_index_by_search(doc));
        // The reader takes character data to hold no markup; only a CDATA
        // section's content may show a '<'.
        for (const TextRange& range : chosen.result->text_ranges) {
            if (chosen.result->text_of(range).find('<') == std::string_view::npos) continue;
            ASSERT_EQ(doc.compare(range.start - 9, 9, "<![CDATA["), 0) << doc;
        }
        (chosen.builder == IndexBuilder::Masks ? kept_masks : searched_again) += 1;
    }
    EXPECT_GT(kept_masks, 0);
    EXPECT_GT(searched_again, 0);
}

}  // namespace
}  // namespace quorvane::structural
