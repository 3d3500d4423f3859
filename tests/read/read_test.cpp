// The reader below the interpreter: references, start tags and the scanner,
// with the cases that are awkward to reach through the module.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/interrupt.h"
#include "src/read/references.h"
#include "src/read/scanner.h"
#include "src/storage/source_buffer.h"

namespace quorvane::read {
namespace {

std::string decoded(std::string_view piece, bool normalise = false) {
    auto result = decode_text(piece, 0, normalise);
    EXPECT_TRUE(result.has_value());
    if (!result || !result->rewritten) return std::string(piece);
    return std::string(result->rewritten->view());
}

TEST(References, RewriteOnlyWhatNeedsIt) {
    auto plain = decode_text("no references here", 0, false);
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->rewritten.has_value());
    EXPECT_EQ(decoded("a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos;"), "a <b> & \"c\" 'd'");
    EXPECT_EQ(decoded("&#65;&#x42;&#x1F600;"), "AB\xF0\x9F\x98\x80");
    EXPECT_EQ(decoded("a\tb\r\nc\rd\ne", true), "a b c d e");
    EXPECT_EQ(decoded("a\tb\r\nc", false), "a\tb\r\nc");
}

TEST(References, ErrorsCarryTheOffsetOfTheirAmpersand) {
    auto unknown = decode_text("xx &nbsp; yy", 100, false);
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error().kind, NativeFailure::Kind::UnknownEntity);
    EXPECT_EQ(unknown.error().text, "nbsp");
    EXPECT_EQ(unknown.error().offset, 103u);
    for (std::string_view bad : {"&#0;", "&#xD800;", "&#x110000;", "&#;", "&#x;", "&amp", "&"}) {
        auto result = decode_text(bad, 7, false);
        ASSERT_FALSE(result.has_value()) << bad;
        EXPECT_EQ(result.error().offset, 7u) << bad;
    }
}

struct Parsed {
    std::expected<ParsedDocument, NativeFailure> document;
    storage::SourceRef source;
};

// `text` must outlive the result: the document is read in place.
Parsed parse(std::string_view text, std::string_view root) {
    storage::SourceRef source =
        storage::SourceRef::adopt(storage::SourceBuffer::borrowing(text, nullptr, 0, nullptr));
    auto document = parse_document(source.get(), root);
    return {std::move(document), std::move(source)};
}

// The elements of a parse in pool order, as "name[child count]".
std::vector<std::string> outline(ParsedDocument& document) {
    std::vector<std::string> names;
    document.pool.visit_backwards([&](ParsedElement& element) {
        names.insert(names.begin(), std::string(*element.name.resolve()) + "[" +
                                        std::to_string(element.child_count) + "]");
        return true;
    });
    return names;
}

TEST(Scanner, KeepsOnlyTheRootsSubtreeInStartTagOrder) {
    auto parsed = parse("<x><a/><r><b><c/></b><d/></r><r/></x>", "r");
    ASSERT_TRUE(parsed.document.has_value());
    EXPECT_EQ(outline(*parsed.document),
              (std::vector<std::string>{"r[2]", "b[1]", "c[0]", "d[0]"}));
}

TEST(Scanner, ReportsEachKindOfFailure) {
    struct Case {
        std::string_view text;
        NativeFailure::Kind kind;
        std::string detail;
        std::uint64_t offset;
    };
    const Case cases[] = {
        {"<r><a></b></r>", NativeFailure::Kind::Malformed, "expected </a>, found </b>", 6},
        {"<q/>", NativeFailure::Kind::RootNotFound, "r", 0},
        {"<r><a>", NativeFailure::Kind::NeverClosed, "a", 0},
        {"<r a='1' a='2'/>", NativeFailure::Kind::Malformed, "", 9},
        {"<r>&bogus;</r>", NativeFailure::Kind::UnknownEntity, "bogus", 3},
    };
    for (const Case& c : cases) {
        auto parsed = parse(c.text, "r");
        ASSERT_FALSE(parsed.document.has_value()) << c.text;
        const NativeFailure& error = parsed.document.error();
        EXPECT_EQ(error.kind, c.kind) << c.text;
        if (!c.detail.empty()) {
            EXPECT_EQ(error.text, c.detail) << c.text;
        }
        EXPECT_EQ(error.offset, c.offset) << c.text;
    }
}

TEST(StartTags, AttributesKeepDocumentOrderAndDecodedValues) {
    auto parsed = parse("<r z='1' a=\"x &amp; y\"\n  m = 'tab\there' />", "r");
    ASSERT_TRUE(parsed.document.has_value());
    std::vector<std::pair<std::string, std::string>> attributes;
    parsed.document->pool.visit_backwards([&](ParsedElement& element) {
        for (const auto& entry : element.attrs) {
            attributes.emplace_back(*entry.key.resolve(), *entry.value.resolve());
        }
        return true;
    });
    EXPECT_EQ(attributes, (std::vector<std::pair<std::string, std::string>>{
                              {"z", "1"}, {"a", "x & y"}, {"m", "tab here"}}));
}

bool always_stop(void*) { return true; }

// Both index builders, and the scanner after them, stop when asked: a
// document with many quoted values goes to the mask builder.
TEST(Scanner, StopsWhenAsked) {
    for (std::string_view element : {"<a>t</a>", "<a k=\"v\" l=\"w\"/>"}) {
        std::string text = "<r>";
        while (text.size() < (std::size_t{8} << 20)) text += element;
        text += "</r>";
        platform::StopQuestionScope scope(platform::StopQuestion{&always_stop, nullptr, 0});
        auto parsed = parse(text, "r");
        ASSERT_FALSE(parsed.document.has_value()) << element;
        EXPECT_EQ(parsed.document.error().kind, NativeFailure::Kind::Stopped) << element;
    }
}

}  // namespace
}  // namespace quorvane::read
