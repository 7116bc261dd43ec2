#include "mail/msmsg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testdir.h"

namespace kelvane {
namespace {

using Lines = std::vector<std::string>;

Lines ErrorBody(const std::string& text) {
    return {"The following error has been occured while processing the message:", text,
            "The original message will be stored as an attachment"};
}

// Each message goes through a real file, as the POP3 client saves them.
TmsMessage Load(const std::string& text) {
    test::TempDir dir;
    const std::string path = dir.file("msg.eml");
    test::WriteFile(path, text);
    TmsMessage msg;
    msg.LoadFromFile(path);
    return msg;
}

TEST(MsMsgFields, HeaderFieldsFillTheProperties) {
    const TmsMessage msg = Load(
        "From: \"Ann Lee\" <ann@example.com>\r\n"
        "To: bob@example.com, \"Smith, Carl\" <carl@example.com>\r\n"
        "Cc: dan@example.com\r\n"
        "Subject: =?ISO-8859-1?Q?Caf=E9?=\r\n"
        "X-Priority: 1\r\n"
        "Return-receipt-to: ann@example.com\r\n"
        "\r\n"
        "hi\r\n.\r\n");
    EXPECT_EQ(msg.Sender.Name, "Ann Lee");
    EXPECT_EQ(msg.Sender.Address, "ann@example.com");
    EXPECT_EQ(msg.Recipients, (Lines{"bob@example.com", "\"Smith, Carl\" <carl@example.com>"}));
    EXPECT_EQ(msg.CC, Lines{"dan@example.com"});
    EXPECT_EQ(msg.Subject, "Caf\xE9");
    EXPECT_EQ(msg.Priority, TmsPriority::ptHigh);
    EXPECT_TRUE(msg.ReturnReceipt);
    EXPECT_EQ(msg.Headers.Count(), 6u);
    EXPECT_EQ(msg.Body, (Lines{"hi", "."}));
}

TEST(MsMsgFields, PriorityValues) {
    const struct {
        const char* header;
        TmsPriority want;
    } cases[] = {
        {"X-Priority: 1\r\n", TmsPriority::ptHigh},
        {"X-Priority: 5\r\n", TmsPriority::ptLow},
        {"X-Priority: 3\r\n", TmsPriority::ptNormal},
        {"X-Priority: 1 (Highest)\r\n", TmsPriority::ptNormal},
        {"", TmsPriority::ptNormal},
    };
    for (const auto& c : cases) {
        const TmsMessage msg = Load(std::string("Subject: s\r\n") + c.header + "\r\nx\r\n");
        EXPECT_EQ(msg.Priority, c.want) << c.header;
        EXPECT_FALSE(msg.ReturnReceipt);
    }
}

TEST(MsMsgFields, UnclosedSenderFailsTheLoad) {
    EXPECT_THROW(Load("From: Ann <ann@example.com\r\n\r\nx\r\n"), AddressParseError);
}

TEST(MsMsgFields, MissingFileFails) {
    test::TempDir dir;
    TmsMessage msg;
    EXPECT_THROW(msg.LoadFromFile(dir.file("none.eml")), KelvaneError);
}

// Body and content type of messages that have a text body.
TEST(MsMsgBody, TextBodies) {
    const struct {
        const char* name;
        std::string text;
        Lines body;
        std::string type;
        TmsCharSet charset;
    } cases[] = {
        {"plain",
         "Subject: a\r\n\r\nline 1\r\n\r\nline 3\r\n.\r\n",
         {"line 1", "", "line 3", "."},
         "text/plain",
         TmsCharSet::csUSASCII},
        {"mime other version keeps qp text",
         "Mime-Version: 2.0\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db\r\n",
         {"a=3Db"},
         "text/plain",
         TmsCharSet::csUSASCII},
        {"quoted-printable",
         "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
         "Caf=E9 au =\r\nlait=\r\n\r\nx=ZZ=4\r\n",
         {"Caf\xE9 au lait", "x=ZZ=4"},
         "text/plain",
         TmsCharSet::csISO8859},
        {"base64 lines",
         "MIME-Version: 1.0\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "b25lDQp0\r\nd28=\r\n",
         {"one", "two"},
         "text/plain",
         TmsCharSet::csUSASCII},
        {"html",
         "MIME-Version: 1.0\r\nContent-Type: TEXT/HTML; charset=us-ascii\r\n\r\n<b>x</b>\r\n",
         {"<b>x</b>"},
         "text/html",
         TmsCharSet::csUSASCII},
        {"rtf",
         "MIME-Version: 1.0\r\nContent-Type: text/rtf\r\n\r\n{\\rtf1}\r\n",
         {"{\\rtf1}"},
         "text/rtf",
         TmsCharSet::csUSASCII},
        {"no body", "Subject: a\r\n", {}, "text/plain", TmsCharSet::csUSASCII},
        {"lone LF and CR", "Subject: a\n\nx\ry\n", {"x", "y"}, "text/plain", TmsCharSet::csUSASCII},
        {"last line without end",
         "Subject: a\r\n\r\nfirst\r\nlast",
         {"first", "last"},
         "text/plain",
         TmsCharSet::csUSASCII},
    };
    for (const auto& c : cases) {
        const TmsMessage msg = Load(c.text);
        EXPECT_EQ(msg.Body, c.body) << c.name;
        EXPECT_EQ(msg.ContentType, c.type) << c.name;
        EXPECT_EQ(msg.CharSet, c.charset) << c.name;
        EXPECT_TRUE(msg.Attachments.empty()) << c.name;
        EXPECT_EQ(msg.Encoding, TmsEncoding::meMIME) << c.name;
    }
}

// "hello" uuencoded.
const std::string kUUHello = "%:&5L;&\\\r\n`\r\n";

TEST(MsMsgUU, BlocksBecomeAttachments) {
    const TmsMessage msg =
        Load("Subject: files\r\n\r\nbefore\r\nbegin 644 hi.txt\r\n" + kUUHello +
             "end\r\nbetween\r\nbegin 600\r\n" + kUUHello + "END\r\nafter\r\n.\r\n");
    EXPECT_EQ(msg.Body, Lines{"before"});
    EXPECT_EQ(msg.Encoding, TmsEncoding::meUU);
    ASSERT_EQ(msg.Attachments.size(), 2u);
    EXPECT_EQ(msg.Attachments[0].FileName, "hi.txt");
    EXPECT_EQ(msg.Attachments[0].Data, "hello");
    EXPECT_EQ(msg.Attachments[1].FileName, "att.2");
    EXPECT_EQ(msg.Attachments[1].Data, "hello");
}

TEST(MsMsgUU, MimeTextWithBlockIsReadAsPlain) {
    const TmsMessage msg = Load(
        "MIME-Version: 1.0\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: "
        "quoted-printable\r\nSubject: s\r\n\r\na=3Db\r\nbegin 644 f.bin\r\n" +
        kUUHello + "end\r\n");
    EXPECT_EQ(msg.Body, Lines{"a=3Db"});
    EXPECT_EQ(msg.CharSet, TmsCharSet::csUSASCII);
    EXPECT_EQ(msg.Headers.Lines(), Lines{"Subject: s"});
    ASSERT_EQ(msg.Attachments.size(), 1u);
    EXPECT_EQ(msg.Attachments[0].Data, "hello");
}

TEST(MsMsgUU, OverlongLengthByteStaysInsideTheLine) {
    EXPECT_EQ(DecodeUULine("M"), "");
    EXPECT_EQ(DecodeUULine("M````"), std::string(3, '\0'));
    EXPECT_EQ(DecodeUULine("#86)C"), "abc");
    EXPECT_EQ(DecodeUULine(""), "");
}

const std::string kMime = "MIME-Version: 1.0\r\n";

TEST(MsMsgMultipart, FirstPartIsTheBodyAndTheRestAttachments) {
    const TmsMessage msg = Load(kMime +
                                "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                                "preamble\r\n--b1\r\n"
                                "Content-Type: text/plain\r\n"
                                "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                                "caf=E9\r\n--b1\r\n"
                                "Content-Type: application/pdf; name=\"a.pdf\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\n"
                                "aGVs\r\nbG8=\r\n--b1--\r\nepilogue\r\n.\r\n");
    EXPECT_EQ(msg.Body, Lines{"caf\xE9"});
    EXPECT_EQ(msg.CharSet, TmsCharSet::csISO8859);
    EXPECT_EQ(msg.ContentType, "text/plain");
    ASSERT_EQ(msg.Attachments.size(), 1u);
    EXPECT_EQ(msg.Attachments[0].FileName, "a.pdf");
    EXPECT_EQ(msg.Attachments[0].ContentType, "application/pdf");
    EXPECT_EQ(msg.Attachments[0].Data, "hello");
}

TEST(MsMsgMultipart, NestedAlternativeGivesItsFirstSubPart) {
    const TmsMessage msg = Load(kMime +
                                "Content-Type: multipart/mixed; boundary=out\r\n\r\n"
                                "--out\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n"
                                "--in\r\nContent-Type: text/plain\r\n\r\nplain text\r\n"
                                "--in\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--in--\r\n"
                                "--out\r\nContent-Type: image/gif\r\n\r\nGIF\r\n--out--\r\n");
    EXPECT_EQ(msg.Body, Lines{"plain text"});
    ASSERT_EQ(msg.Attachments.size(), 2u);
    EXPECT_EQ(msg.Attachments[0].ContentType, "text/html");
    EXPECT_EQ(msg.Attachments[0].Data, "<p>html</p>\r\n");
    EXPECT_EQ(msg.Attachments[1].ContentType, "image/gif");
    EXPECT_EQ(msg.Attachments[1].FileName, "att.2");
}

TEST(MsMsgMultipart, OnlyPartTakesItsTypeAndEmptyPartGivesOneLine) {
    const TmsMessage msg = Load(kMime +
                                "Content-Type: multipart/alternative; boundary=z\r\n\r\n"
                                "--z\r\nContent-Type: text/html\r\n\r\n--z--\r\n");
    EXPECT_EQ(msg.Body, Lines{""});
    EXPECT_EQ(msg.ContentType, "text/html");
    EXPECT_TRUE(msg.Attachments.empty());
}

TEST(MsMsgMultipart, Base64FirstPartBecomesAnAttachment) {
    const TmsMessage msg = Load(kMime +
                                "Content-Type: multipart/mixed; boundary=q\r\n\r\n"
                                "--q\r\nContent-Type: text/plain\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\naGk=\r\n--q--\r\n");
    EXPECT_TRUE(msg.Body.empty());
    ASSERT_EQ(msg.Attachments.size(), 1u);
    EXPECT_EQ(msg.Attachments[0].Data, "hi");
}

TEST(MsMsgMultipart, WholeBodyAttachments) {
    const struct {
        const char* name;
        std::string type;
        std::string fileName;
    } cases[] = {
        {"non-text type", "application/zip", "att.1"},
        {"text with a name", "text/plain; name=\"n.txt\"", "n.txt"},
    };
    for (const auto& c : cases) {
        const TmsMessage msg = Load(kMime + "Content-Type: " + c.type + "\r\n\r\nPK\r\n");
        EXPECT_TRUE(msg.Body.empty()) << c.name;
        ASSERT_EQ(msg.Attachments.size(), 1u) << c.name;
        EXPECT_EQ(msg.Attachments[0].FileName, c.fileName) << c.name;
        EXPECT_EQ(msg.Attachments[0].Data, "PK\r\n") << c.name;
    }
}

TEST(MsMsgMultipart, BrokenStructureGivesTheErrorBody) {
    const std::string cases[] = {
        kMime + "Content-Type: multipart/mixed; boundary=b\r\n\r\nno boundary at all\r\n.\r\n",
        kMime + "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nnever ends\r\n",
        kMime +
            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
            "Content-Type: multipart/alternative; boundary=c\r\n\r\n--b--\r\n",
    };
    for (const std::string& text : cases) {
        const TmsMessage msg = Load(text);
        EXPECT_EQ(msg.Body, ErrorBody("Cannot find boundary")) << text;
        ASSERT_EQ(msg.Attachments.size(), 1u) << text;
        EXPECT_EQ(msg.Attachments[0].FileName, "original.eml");
        EXPECT_EQ(msg.Attachments[0].ContentType, "message/rfc822");
        EXPECT_EQ(msg.Attachments[0].Data, text);
    }
}

TEST(MsMsgMultipart, LaterNestedPartsAreFlattened) {
    const TmsMessage msg = Load(kMime +
                                "Content-Type: multipart/mixed; boundary=a\r\n\r\n"
                                "--a\r\n\r\nbody\r\n"
                                "--a\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
                                "--r\r\nContent-Type: image/png\r\n\r\nP1\r\n"
                                "--r\r\nContent-Type: image/jpeg\r\n\r\nJ2\r\n--r--\r\n"
                                "--a\r\nContent-Type: text/csv\r\n\r\nC3\r\n");
    EXPECT_EQ(msg.Body, Lines{"body"});
    ASSERT_EQ(msg.Attachments.size(), 3u);
    const char* types[] = {"image/png", "image/jpeg", "text/csv"};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(msg.Attachments[i].ContentType, types[i]);
    // The unclosed last part still counts.
    EXPECT_EQ(msg.Attachments[2].Data, "C3\r\n");
}

TEST(MsMsgMultipart, DeepNestingStaysBounded) {
    std::string text = kMime + "Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n\r\nb\r\n";
    // Each part opens a multipart of its own, with a new boundary.
    std::string open = "--x";
    for (int i = 0; i < 5000; ++i) {
        // Appended, not "x" + ...: GCC 12 warns wrongly on that at -O3 (-Wrestrict).
        const std::string name = std::string("x").append(std::to_string(i));
        text += open + "\r\nContent-Type: multipart/mixed; boundary=" + name + "\r\n\r\n";
        open = "--" + name;
    }
    TmsMessage msg;
    msg.LoadFromText(text);
    EXPECT_EQ(msg.Body, Lines{"b"});
    EXPECT_LE(msg.Attachments.size(), 1u);
}

TEST(MsMsgLoad, ReloadStartsFromScratch) {
    TmsMessage msg;
    msg.LoadFromText(kMime +
                     "Content-Type: text/html\r\nTo: a@b\r\nSubject: one\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\nx\r\n");
    msg.LoadFromText("From: c@d\r\n\r\ny\r\n");
    EXPECT_EQ(msg.Body, Lines{"y"});
    EXPECT_EQ(msg.Subject, "");
    EXPECT_TRUE(msg.Recipients.empty());
    EXPECT_EQ(msg.ContentType, "text/plain");
    EXPECT_EQ(msg.CharSet, TmsCharSet::csUSASCII);
    EXPECT_EQ(msg.Sender.Address, "c@d");
}

TEST(MsMsgParam, HeaderParameter) {
    const struct {
        const char* value;
        const char* name;
        const char* want;
    } cases[] = {
        {"multipart/mixed; boundary=\"a;b\"", "Boundary", "a;b"},
        {"multipart/mixed;BOUNDARY=xyz ; charset=x", "boundary", "xyz"},
        {"text/plain; xname=1; name=2", "name", "2"},
        {"text/plain; name", "name", ""},
        {"text/plain; name=\"unclosed", "name", "unclosed"},
        {"", "name", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HeaderParameter(c.value, c.name), c.want) << c.value;
}

TEST(MsMsgDecode, Base64SkipsNoise) {
    EXPECT_EQ(DecodeBase64("aG\r\nVs*bG8="), "hello");
    EXPECT_EQ(DecodeBase64("=aGk="), "");
    EXPECT_EQ(DecodeBase64("a"), "");
}

}  // namespace
}  // namespace kelvane
