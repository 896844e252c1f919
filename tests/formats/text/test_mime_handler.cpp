// Mail header reader and the mail / saved-page decision.

#include <gtest/gtest.h>

#include "engine/CommonUtils.h"
#include "formats/text/MIMEHandler.h"
#include "formats/text/TextBasedFTAUtils.h"
#include "TextTestUtil.h"

namespace {

struct MailCase {
    const char* what;
    std::string text;
    bool parses;
    int code;  // of the mail check: 0, 15 (EML) or 16 (MHT)
};

void PrintTo(const MailCase& c, std::ostream* os) { *os << c.what; }

class MailTable : public testing::TestWithParam<MailCase> {};

TEST_P(MailTable, Answer) {
    const MailCase& c = GetParam();
    auto src = texttest::mem(c.text);
    MIMEHandler handler;
    EXPECT_EQ(handler.parseMIMEHeader(src), c.parses);
    EXPECT_EQ(static_cast<int>(TextBasedFTAUtils::checkTextMIMEComponent(src)), c.code);
}

const std::string kHead = "From: a@example.org\nTo: b@example.org\nSubject: s\n";
const std::string kMultipart = kHead + "Content-Type: multipart/mixed; boundary=\"xyz\"\n\n";
const std::string kPart = "--xyz\nContent-Type: text/plain\n\nhi\n--xyz--\n";

std::string lines(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "filler\n";
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Header, MailTable,
    testing::Values(
        MailCase{"single part", kHead + "Date: Mon, 1 Jan 2024 10:00:00 +0000\n\nbody\n", true, 15},
        MailCase{"header only, blank line last", "From: a\nTo: b\n\n", false, 0},
        MailCase{"header only", "From: a\nTo: b\n", false, 0},
        MailCase{"header only, no final line feed", "From: a\nTo: b", false, 0},
        MailCase{"three of five known", kHead + "Foo: 1\nBar: 2\n\nx\n", true, 15},
        MailCase{"two of five known", "From: a\nTo: b\nFoo: 1\nBar: 2\nBaz: 3\n\nx\n", true, 0},
        MailCase{"x-mailer counts", "X-Mailer: m\nFoo: 1\nSubject: s\n\nx\n", true, 15},
        MailCase{"byte order mark and seven letters", "\xEF\xBB\xBF" "From: a\nTo: b\n\nx\n", false, 0},
        MailCase{"no colon in the first line", "Hello world\nFrom: a\n\nx\n", false, 0},
        MailCase{"marker line", "!NOT EML FILE!\nFrom: a\n\nx\n", false, 0},
        MailCase{"36-character name", "From: a\nAbcdefghijAbcdefghijAbcdefghijAbcdef: 1\n\nx\n", false, 0},
        MailCase{"long name with X-", "From: a\nTo: b\nAbcdefghijAbcdefghijX-cdefghijAbcdefghij: 1\n\nx\n", true, 15},
        MailCase{"binary field name", "From: a\n\x01\x02\x03\x04: 1\n\nx\n", false, 0},
        MailCase{"multipart", kMultipart + "preamble\n" + kPart, true, 15},
        MailCase{"delimiter on the 10th line", kMultipart + lines(9) + kPart, true, 15},
        MailCase{"delimiter on the 11th line", kMultipart + lines(10) + kPart, true, 0},
        MailCase{"delimiter on the last line", kMultipart + "--xyz\n", true, 0},
        MailCase{"delimiter with trailing blanks", kMultipart + "--xyz  \nContent-Type: text/plain\n\nhi\n", true, 0},
        MailCase{"delimiter with crlf", kMultipart + "--xyz\r\nContent-Type: text/plain\r\n\r\nhi\r\n", true, 15},
        MailCase{"first part without header", kMultipart + "--xyz\n\nhi\n", true, 0},
        MailCase{"multipart without boundary", kHead + "Content-Type: multipart/mixed\n\n--xyz\nA: b\n\n", true, 0},
        MailCase{"saved page", kHead + "Content-Type: multipart/related; boundary=\"xyz\"\n\n" + kPart, true, 16},
        MailCase{"html without from and to", "Subject: s\nContent-Type: text/html\nMIME-Version: 1.0\n\n<html>\n",
                 true, 16},
        MailCase{"html saved by a browser", "From: \"Saved by Browser\"\nSubject: s\nContent-Type: text/html\n\nx\n",
                 true, 16},
        MailCase{"html from someone", "From: a@example.org\nSubject: s\nContent-Type: text/html\n\nx\n", true, 15},
        MailCase{"html between people", kHead + "Content-Type: text/html\n\nx\n", true, 15}));

TEST(MailHeader, FieldsAndParameters) {
    const std::string text =
        "Content-Type: multipart/related;\n\tboundary=\"----=_b1\"; type=\"text/html\"\n"
        "Subject:\n"
        "Comments:   \n"
        "ftp://host/file\n"
        "https://host/page\n"
        "X-Note: a (b; c) d; e=f\n"
        "Content-Disposition: inline; filename=\"a;b.txt\"; size\n"
        "\nbody\n";
    auto src = texttest::mem(text);
    MIMEHandler handler;
    ASSERT_TRUE(handler.parseMIMEHeader(src));
    const auto& f = handler.getFields();
    ASSERT_EQ(f.size(), 5u);

    EXPECT_EQ(f[0].name, "content-type");
    EXPECT_EQ(f[0].value, "multipart/related");
    ASSERT_EQ(f[0].parameters.size(), 2u);
    EXPECT_EQ(f[0].parameters[0].name, "boundary");
    EXPECT_EQ(f[0].parameters[0].value, "\"----=_b1\"");
    std::string boundary;
    EXPECT_TRUE(MIMEHandler::getSectionSeparator(f[0], boundary));
    EXPECT_EQ(boundary, "----=_b1");

    EXPECT_EQ(f[1].name, "comments");  // an empty Subject is dropped, blanks are a value
    EXPECT_EQ(f[1].value, "   ");
    EXPECT_EQ(f[2].name, "https");  // "ftp" is dropped
    EXPECT_EQ(f[2].value, "//host/page");
    EXPECT_EQ(f[3].value, "a (b; c) d");
    EXPECT_EQ(f[4].value, "inline");
    ASSERT_EQ(f[4].parameters.size(), 1u);
    EXPECT_EQ(f[4].parameters[0].value, "\"a;b.txt\"");
}

TEST(MailHeader, LineLevelRules) {
    MIMEHandler::Attribute a{"content-type", ";x=1;y=2", {}};
    MIMEHandler::attributeParserFunc(a);  // a semicolon at position 0 never separates
    EXPECT_EQ(a.value, ";x=1");
    ASSERT_EQ(a.parameters.size(), 1u);
    EXPECT_EQ(a.parameters[0].name, "y");

    std::string q = "x\"a\"b\"c";
    MIMEHandler::fileNameParserFunc(q);
    EXPECT_EQ(q, "a\"b");
    std::string one = "\"a";
    MIMEHandler::fileNameParserFunc(one);
    EXPECT_EQ(one, "\"a");

    auto r = MIMEHandler::getRestrictRange("(a\"b)\"c\"");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], MIMEHandler::Range(0, 4));
    EXPECT_EQ(r[1], MIMEHandler::Range(2, 5));
}

TEST(MailHeader, LimitsOfTheHeaderBlock) {
    // 19,999 header lines without a blank line: the reader stops there.
    std::string many;
    for (int i = 0; i < 20005; ++i) many += "F: v\n";
    auto manySrc = texttest::mem(many);
    MIMEHandler manyHandler;
    ASSERT_TRUE(manyHandler.parseMIMEHeader(manySrc));
    EXPECT_EQ(manyHandler.getHeaderEnd(), 19999u * 5);
    EXPECT_EQ(manyHandler.getFields().size(), 19999u);

    // A header line far beyond what mail allows, or a block of megabytes, is no header.
    auto longLine = texttest::mem("From: " + std::string(1u << 20, 'a') + "\n\nx\n");
    EXPECT_FALSE(MIMEHandler().parseMIMEHeader(longLine));
    std::string folded = "Subject: x\n";
    for (int i = 0; i < 6000; ++i) folded += " " + std::string(1000, 'y') + "\n";
    auto foldedSrc = texttest::mem(folded + "\nx\n");
    EXPECT_FALSE(MIMEHandler().parseMIMEHeader(foldedSrc));

    EXPECT_FALSE(MIMEHandler().parseMIMEHeader("/nonexistent/mail.eml"));
    texttest::FailingSource failing(kHead, 1 << 20);
    EXPECT_FALSE(MIMEHandler().parseMIMEHeader(failing));
}

// Messages as a mail library writes them: a message with an attachment, and a page saved as
// multipart/related with CRLF line ends.
TEST(MailHeader, MessagesWrittenByAMailLibrary) {
    texttest::TempDir dir;
    const std::string script = R"PY(
import sys
from email.message import EmailMessage
from email import policy
m = EmailMessage()
m['From'] = 'Ann <ann@example.org>'
m['To'] = 'Bob <bob@example.org>'
m['Subject'] = 'Report'
m['Date'] = 'Mon, 01 Jan 2024 10:00:00 +0000'
m['Message-ID'] = '<1@example.org>'
m.set_content('Hello Bob,\nthe report is attached.\n')
m.add_attachment(b'\x00\x01binary' * 100, maintype='application', subtype='octet-stream', filename='r.bin')
open(sys.argv[1], 'wb').write(m.as_bytes())
p = EmailMessage(policy=policy.SMTP)
p['From'] = '<Saved by Browser>'
p['Snapshot-Content-Location'] = 'https://example.org/'
p['Subject'] = 'Example page'
p['MIME-Version'] = '1.0'
p.set_content('<html><body><img src="cid:i1"></body></html>', subtype='html')
p.add_related(b'\x89PNG\r\n\x1a\n', maintype='image', subtype='png', cid='<i1>')
open(sys.argv[2], 'wb').write(p.as_bytes())
)PY";
    const std::string eml = dir.path() + "/report.eml";
    const std::string mht = dir.path() + "/page.mht";
    std::vector<char> out;
    int status = -1;
    if (!CommonUtils::executeCommandAndGetOutputChar({"python3", "-c", script, eml, mht}, out, 1 << 16, &status) ||
        status != 0)
        GTEST_SKIP() << "python3 could not write the messages: " << std::string(out.begin(), out.end());
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(eml), TEXT_EML);
    EXPECT_EQ(TextBasedFTAUtils::isTextBased(mht), TEXT_MHT);
}

}  // namespace
