// Tag reader: which texts count as markup, and which tags are listed with which full texts.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "TextTestUtil.h"
#include "formats/text/HTMLReader.h"

namespace {

struct TagCase {
    const char* what;
    std::string text;
    bool markup;
    std::vector<std::string> names;
    std::vector<std::string> fullTags;
};

void PrintTo(const TagCase& c, std::ostream* os) { *os << c.what; }

class TagReaderTable : public testing::TestWithParam<TagCase> {};

TEST_P(TagReaderTable, AnswerAndTags) {
    const TagCase& c = GetParam();
    HTMLReader reader;
    EXPECT_EQ(reader.readFromString(c.text), c.markup);
    EXPECT_EQ(reader.getListTag(), c.names);
    EXPECT_EQ(reader.getListFullTag(), c.fullTags);

    // Reading the same bytes from a source walks the same way.
    auto src = texttest::mem(c.text);
    HTMLReader fromSource;
    EXPECT_EQ(fromSource.readFile(src), c.markup);
    EXPECT_EQ(fromSource.getListTag(), c.names);
}

using S = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Texts, TagReaderTable,
    testing::Values(
        TagCase{"empty", "", false, {}, {}},
        TagCase{"rtf with tags", "{\\rtf1 <b>x</b>", false, {}, {}},
        TagCase{"bom and blank lines", "\xEF\xBB\xBF\r\n\n  <html><body></body></html>", true,
                S{"html", "body", "body", "html"}, S{"html", "body", "/body", "/html"}},
        TagCase{"utf-16 bom", std::string("\xFF\xFE<\0h\0>\0", 8), false, {}, {}},
        TagCase{"letter first", "x<html>", false, {}, {}},
        TagCase{"nul first", std::string("\0<html>", 7), false, {}, {}},
        TagCase{"quoted '>' ends the tag", "<a href=\"x>y\">t</a>", true, S{"a", "a"}, S{"a href=\"x", "/a"}},
        TagCase{"self-closing", "<br/><p>", true, S{"br", "p"}, S{"br/", "p"}},
        TagCase{"closing with second slash", "<x></x/><y>", true, S{"x", "y"}, S{"x", "y"}},
        TagCase{"closing with blank name", "<x></ x><y>", true, S{"x", "y"}, S{"x", "y"}},
        TagCase{"xml declaration", "<?xml version=\"1.0\"?><r/>", true, S{"?xml", "r"},
                S{"?xml version=\"1.0\"?", "r/"}},
        TagCase{"short bare instruction", "<a><?>", true, S{"a"}, S{"a"}},
        TagCase{"long bare instruction", "<a><? x ?><b>", false, S{"a"}, S{"a"}},
        TagCase{"php", "<html><?php echo 1; ?><p>", false, S{"html"}, S{"html"}},
        TagCase{"office instruction", "<?mso-application progid=\"Word.Document\"?><a>", false, {}, {}},
        TagCase{"doctype", "<!DOCTYPE html><html>", true, S{"!DOCTYPE", "html"}, S{"!DOCTYPE html", "html"}},
        TagCase{"cdata content is scanned", "<r><![CDATA[<b>x</b>]]></r>", true, S{"r", "b", "b", "r"},
                S{"r", "b", "/b", "/r"}},
        TagCase{"non-ascii in quotes", "<a title=\"\xC3\xA9\">x</a>", true, S{"a", "a"},
                S{"a title=\"\xC3\xA9\"", "/a"}},
        TagCase{"non-ascii outside quotes", "<p><a title=\xC3\xA9>x</a>", true, S{"p", "a"}, S{"p", "/a"}},
        TagCase{"non-ascii first tag", "<a title=\xC3\xA9>x</a>", false, {}, {}},
        TagCase{"script hides comparisons", "<script>if (a<b) x();</script><p>", true,
                S{"script", "script", "p"}, S{"script", "/script", "p"}},
        TagCase{"upper-case script", "<SCRIPT>a<b</SCRIPT><P>", true, S{"SCRIPT", "SCRIPT", "P"},
                S{"SCRIPT", "/SCRIPT", "P"}},
        TagCase{"angle-bracketed link", "<a><http://example.com/></a>", true, S{"a", "a"}, S{"a", "/a"}},
        TagCase{"comment hides tags", "<a><!-- <b> --><c>", true, S{"a", "c"}, S{"a", "c"}},
        TagCase{"shortest comment", "<a><!--><b>", true, S{"a", "b"}, S{"a", "b"}},
        TagCase{"unclosed comment", "<a><!-- <b>", true, S{"a"}, S{"a"}},
        TagCase{"unterminated tag", "<a><b", true, S{"a"}, S{"a"}},
        TagCase{"unterminated first tag", "<a", false, {}, {}},
        TagCase{"tag at the very end", "<a>x<", true, S{"a"}, S{"a"}}));

TEST(TagReader, StringCopyStopsAtNul) {
    HTMLReader reader;
    EXPECT_TRUE(reader.readFromString(std::string("<a>\0<b>", 7)));
    EXPECT_EQ(reader.getListTag(), S{"a"});
}

TEST(TagReader, NameParsing) {
    bool opening = false, closing = false, inScript = false;
    HTMLTag tag;
    ASSERT_TRUE(tag.parseFromStr("</div >", opening, closing, inScript, true));
    EXPECT_EQ(tag.getTagName(), "div");
    EXPECT_TRUE(closing);
    EXPECT_FALSE(opening);

    const char* text = "<x:y-z.w=1>";
    ASSERT_TRUE(tag.parseFromStr(text, opening, closing, inScript, true));
    EXPECT_EQ(tag.getTagName(), "x:y-z.w");
    EXPECT_EQ(tag.getTagEndPos(), text + 8);

    for (const char* refused : {"<>", "< a>", "<a\"", "<\xC3\xA9>", "x<a>", "<", "<1a>"}) {
        EXPECT_FALSE(tag.parseFromStr(refused, opening, closing, inScript, true)) << refused;
    }
    inScript = true;
    EXPECT_FALSE(tag.parseFromStr("<b>", opening, closing, inScript, true));
    EXPECT_TRUE(tag.parseFromStr("</b>", opening, closing, inScript, true));
    EXPECT_FALSE(tag.parseFromStr("<SCRIPT>", opening, closing, inScript, true));
}

TEST(TagReader, SearchInBinary) {
    const char data[] = {'a', 'a', 'b', '\0', 'x', 'y'};
    EXPECT_EQ(HTMLTag::searchInBinary(data, 6, "ab", 2), 1UL);
    EXPECT_EQ(HTMLTag::searchInBinary(data, 6, "xy", 2), 4UL);  // ends on the last byte
    EXPECT_EQ(HTMLTag::searchInBinary(data, 6, "yz", 2), ~0UL);
    EXPECT_EQ(HTMLTag::searchInBinary(data, 1, "ab", 2), ~0UL);
    EXPECT_EQ(HTMLTag::searchInBinary(data, 6, "q", 0), 0UL);
    // Against a naive search, over texts and patterns of a tiny alphabet (many partial
    // matches, repeats, matches at both ends).
    std::mt19937 rng(5);
    for (int round = 0; round < 2000; ++round) {
        std::string text(rng() % 40, 'a'), pattern(1 + rng() % 4, 'a');
        for (char& c : text) c = "ab-\0"[rng() % 4];
        for (char& c : pattern) c = "ab-"[rng() % 3];
        unsigned long naive = ~0UL;
        for (size_t i = 0; i + pattern.size() <= text.size() && naive == ~0UL; ++i)
            if (text.compare(i, pattern.size(), pattern) == 0) naive = i;
        ASSERT_EQ(HTMLTag::searchInBinary(text.data(), text.size(), pattern.data(), pattern.size()), naive)
            << text << " / " << pattern;
    }
}

// Many '<' before one distant '>' with a refusing byte: the walk must stay linear, and the
// quote parity seen from each '<' must still decide. 2^19 tags of "<a \"" put the byte 0x80
// outside quotes for the first tag (an even count of quotes lies between) and inside for the
// second, which is then accepted and swallows the rest.
TEST(TagReader, ManyOpenTagsBeforeOneEnd) {
    const size_t n = size_t(1) << 19;
    std::string text = "<r>";
    text.reserve(4 * n + 8);
    for (size_t i = 0; i < n; ++i) text += "<a \"";
    text += "\x80>";
    HTMLReader reader;
    ASSERT_TRUE(reader.readFromString(text));
    ASSERT_EQ(reader.getListTag(), S({"r", "a"}));
    EXPECT_EQ(reader.getListFullTag()[1], text.substr(8, text.size() - 9));

    // Without quotes every tag is refused.
    std::string plain = "<r>";
    for (size_t i = 0; i < n; ++i) plain += "<a ";
    plain += "\x80>";
    HTMLReader second;
    ASSERT_TRUE(second.readFromString(plain));
    EXPECT_EQ(second.getListTag(), S{"r"});
}

// A file is read window by window. Over generated texts of tags, comments, instructions,
// quotes, bytes of 0x80 and above, long names and tags, with windows down to one byte, the
// walk answers and lists what the walk of the same text held whole answers and lists.
void expectWindowedWalkMatches(const std::string& text, size_t window, const std::string& what) {
    HTMLReader whole;
    const bool markup = whole.readFromString(text);
    auto src = texttest::mem(text);
    HTMLReader reader(window);
    ASSERT_EQ(reader.readFile(src), markup) << what << ", window " << window;
    ASSERT_EQ(reader.getListTag(), whole.getListTag()) << what << ", window " << window;
    ASSERT_EQ(reader.getListFullTag(), whole.getListFullTag()) << what << ", window " << window;
}

TEST(TagReader, WindowedFileWalkMatchesTheWholeText) {
    const std::string pieces[] = {"<a>", "</a>", "<b x=\"1>2\">", "<b t=\"\x80\">", "<b \x80>", "<!-- c -->", "<!--",
                                  "-->", "<!-->", "<?xml v?>", "<? ?>", "<?", "?>", "<", ">", "\"", "\x80", " ",
                                  "text", "<script>", "</script>", "<![CDATA[", "<http://x/>", "<a/>", "</ a>",
                                  "<a \"", std::string(300, 'x'), "<" + std::string(300, 'n') + ">",
                                  "<a \"" + std::string(700, 'q')};
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        std::string text = "<r>";
        for (int n = 1 + static_cast<int>(rng() % 40); n > 0; --n) text += pieces[rng() % std::size(pieces)];
        for (size_t window : {size_t(1), size_t(5), size_t(64), size_t(300), size_t(4096)})
            expectWindowedWalkMatches(text, window, "round " + std::to_string(round));
    }
    // Comment and instruction ends, quoted values and names across a window's end at every
    // offset; many '<' with quotes before one distant end, across many windows.
    for (size_t k = 0; k < 700; ++k) {
        const std::string x(k, 'x');
        for (const std::string& text :
             {"<r><!--" + x + "--><b>", "<r><?" + x + "?><b>", "<r><a t=\"" + x + "\x80\"><b>", "<r><" + x + "n><b>"})
            expectWindowedWalkMatches(text, 300, "offset " + std::to_string(k));
    }
    // Many tags before one distant end, refused for a byte of 0x80 outside quotes: when a '<'
    // near the window's edge moves it on, the quote parity of the bytes left behind still counts
    // (a quote and a byte of 0x80 between two tags make the next one accepted).
    std::string tail;
    for (int i = 0; i < 3000; ++i) tail += "<b>";
    for (int n = 3760; n < 3800; ++n) {
        std::string text = "<r>";
        for (int i = 0; i < n; ++i) text += "<a \"\"";
        text += "\x80\"";
        for (int i = 0; i < 20; ++i) text += "<a \"\"";
        expectWindowedWalkMatches(text + "\x80>" + tail, 300, "quotes " + std::to_string(n));
    }

    // A file that stops giving bytes after the first window is not markup, and lists nothing.
    std::string page = "<html>";
    while (page.size() < 5000) page += "<p>";
    texttest::FailingSource failing(page, 1 << 20);
    HTMLReader reader(64);
    EXPECT_FALSE(reader.readFile(failing));
    EXPECT_TRUE(reader.getListTag().empty());
}

TEST(TagReader, FilesThatAreNotMarkupAreNotReadWhole) {
    texttest::TempDir dir;
    // A sparse 512 MiB file of zeros: refused at its first byte.
    std::string zeros = dir.path() + "/zeros.bin";
    {
        int fd = ::open(zeros.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 512LL << 20), 0);
        ::close(fd);
    }
    HTMLReader reader;
    EXPECT_FALSE(reader.readFile(zeros));
    // Missing files, directories and FIFOs are not markup and never block.
    EXPECT_FALSE(HTMLReader().readFile(dir.path() + "/missing"));
    EXPECT_FALSE(HTMLReader().readFile(dir.path()));
    std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(HTMLReader().readFile(fifo));
}

TEST(TagReader, LargeMarkupIsWalkedUpToTheCap) {
    // One tag, then 40 MiB of text with no other tag and no line break.
    std::string text = "<html>" + std::string(40u << 20, 'a') + "<p>";
    texttest::TempDir dir;
    HTMLReader reader;
    EXPECT_TRUE(reader.readFile(dir.write("big.html", text)));
    EXPECT_EQ(reader.getListTag(), S{"html"});  // "<p>" lies beyond the cap
}

TEST(TagReader, ReadErrorIsNotMarkup) {
    texttest::FailingSource src("<html><body>", 1 << 20);
    HTMLReader reader;
    EXPECT_FALSE(reader.readFile(src));
}

}  // namespace
