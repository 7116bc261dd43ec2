#include "mail/msmsg.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/fileio.h"
#include "base/text.h"
#include "mail/agsocket.h"
#include "mail/linestream.h"

namespace kelvane {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The first token of a Content-Type value, lower-cased.
std::string MediaType(std::string_view value) {
    const std::string_view t = TrimView(value);
    return Lower(t.substr(0, t.find_first_of(" ;\t")));
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

// "begin", octal mode digits, then a blank or nothing.
bool IsUUBegin(std::string_view line) {
    if (!line.starts_with("begin ")) return false;
    std::size_t i = 6;
    const std::size_t first = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7')
        ++i;
    if (i == first || i - first > 4) return false;
    return i == line.size() || line[i] == ' ';
}

std::string UUName(std::string_view line) {
    std::size_t i = 6;
    while (i < line.size() && line[i] != ' ')
        ++i;
    return Trim(line.substr(i));
}

bool IsUUEnd(std::string_view line) {
    return line == "`" || AsciiUpper(Trim(line)) == "END";
}

class Reader {
  public:
    explicit Reader(std::string_view text) : stream_(std::string(text)) {}

    // False at the end of the text.
    bool Next(std::string& line) {
        line = stream_.ReadLine();
        if (stream_.Eof() && line == TLineStream::kEndOfLines) {
            line.clear();
            return false;
        }
        return true;
    }
    void Rewind() { stream_.Reset(); }

    // Lines up to (not including) the first empty line.
    TmsHeaders ReadHeaders() {
        TmsHeaders headers;
        std::string line;
        while (Next(line) && !line.empty())
            headers.Add(std::move(line));
        return headers;
    }

  private:
    TLineStream stream_;
};

std::string DecodePart(const TmsHeaders& headers, const std::vector<std::string>& lines) {
    const std::string cte = Lower(Trim(GetHeaderValue(headers, "Content-Transfer-Encoding")));
    if (cte == "base64") {
        std::string all;
        for (const std::string& line : lines)
            all += line;
        return DecodeBase64(all);
    }
    if (cte == "quoted-printable") return JoinLines(DecodeQuotedPrintable(lines));
    return JoinLines(lines);
}

std::string AttachmentName(const TmsHeaders& headers, std::size_t count) {
    std::string name = HeaderParameter(GetHeaderValue(headers, "Content-Type"), "name");
    if (name.empty())
        name = HeaderParameter(GetHeaderValue(headers, "Content-Disposition"), "filename");
    name = Trim(DecodeEncodedWords(name));
    if (name.empty()) name = "att." + std::to_string(count);
    return name;
}

class Parser {
  public:
    Parser(TmsMessage& msg, std::string_view text) : msg_(msg), in_(text) {}

    void Run() {
        TmsHeaders headers = in_.ReadHeaders();
        ReadFields(headers);
        if (Trim(GetHeaderValue(headers, "MIME-VERSION")) != "1.0") return ReadPlain();

        const std::string rawType = GetHeaderValue(headers, "Content-type");
        const std::string type = Lower(rawType);
        if (Contains(type, "multipart/alternative") || Contains(type, "multipart"))
            return ReadMultipart(HeaderParameter(rawType, "Boundary"));
        if ((!type.empty() && !Contains(type, "text/")) ||
            !HeaderParameter(rawType, "name").empty())
            return ReadSingleAttachment(headers);
        ReadTextBody(headers);
    }

  private:
    void ReadFields(const TmsHeaders& headers) {
        const std::string from = GetHeaderValue(headers, "FROM");
        if (!from.empty()) ParseMailAddress(from, msg_.Sender);
        GetHeaderAddresses(headers, "To:", msg_.Recipients);
        GetHeaderAddresses(headers, "CC:", msg_.CC);
        const std::string subject = GetHeaderValue(headers, "Subject");
        if (!subject.empty()) msg_.Subject = subject.substr(0, kMaxHeaderValue);
        const std::string priority = Trim(GetHeaderValue(headers, "X-Priority"));
        msg_.Priority = priority == "1"   ? TmsPriority::ptHigh
                        : priority == "5" ? TmsPriority::ptLow
                                          : TmsPriority::ptNormal;
        msg_.ReturnReceipt = !GetHeaderValue(headers, "Return-receipt-to").empty();
        msg_.Headers = headers;
    }

    // Text lines up to the first uuencoded block, then the blocks.
    void ReadPlain() {
        std::string line;
        while (in_.Next(line)) {
            if (IsUUBegin(line)) return ReadUUBlocks(line);
            msg_.Body.push_back(std::move(line));
        }
    }

    void ReadUUBlocks(std::string begin) {
        msg_.Encoding = TmsEncoding::meUU;
        std::string line;
        for (;;) {
            TmsAttachment att;
            att.FileName = UUName(begin);
            att.ContentType = "application/octet-stream";
            while (in_.Next(line) && !IsUUEnd(line))
                att.Data += DecodeUULine(line);
            if (att.FileName.empty())
                att.FileName = "att." + std::to_string(msg_.Attachments.size() + 1);
            msg_.Attachments.push_back(std::move(att));
            do {
                if (!in_.Next(line)) return;
            } while (!IsUUBegin(line));
            begin = line;
        }
    }

    void ReadTextBody(TmsHeaders headers) {
        const std::string media = MediaType(GetHeaderValue(headers, "Content-Type"));
        if (media == "text/html" || media == "text/rtf") msg_.ContentType = media;
        const std::string cte = Lower(Trim(GetHeaderValue(headers, "Content-Transfer-Encoding")));
        std::vector<std::string> lines;
        std::string line;
        if (cte == "base64") {
            std::string all;
            while (in_.Next(line))
                all += line;
            TmsHeaders split;
            split.LoadFromText(DecodeBase64(all));
            msg_.Body = split.Lines();
            return;
        }
        while (in_.Next(line)) {
            if (IsUUBegin(line)) return ReReadAsPlain(std::move(headers));
            lines.push_back(std::move(line));
        }
        if (cte == "quoted-printable") {
            msg_.CharSet = TmsCharSet::csISO8859;
            msg_.Body = DecodeQuotedPrintable(lines);
        } else {
            msg_.Body = std::move(lines);
        }
    }

    // A MIME text body that carries uuencoded blocks is really an old-style
    // message with a stray MIME header.
    void ReReadAsPlain(TmsHeaders headers) {
        for (const char* name : {"MIME-VERSION", "CONTENT-TYPE", "CONTENT-TRANSFER-ENCODING"})
            RemoveHeader(headers, name);
        msg_.Headers = std::move(headers);
        msg_.Body.clear();
        msg_.CharSet = TmsCharSet::csUSASCII;
        in_.Rewind();
        in_.ReadHeaders();
        ReadPlain();
    }

    void ReadSingleAttachment(const TmsHeaders& headers) {
        std::vector<std::string> lines;
        std::string line;
        while (in_.Next(line))
            lines.push_back(std::move(line));
        AddAttachment(headers, lines);
    }

    void AddAttachment(const TmsHeaders& headers, const std::vector<std::string>& lines) {
        TmsAttachment att;
        att.ContentType = MediaType(GetHeaderValue(headers, "Content-Type"));
        if (att.ContentType.empty()) att.ContentType = "text/plain";
        att.FileName = AttachmentName(headers, msg_.Attachments.size() + 1);
        att.Data = DecodePart(headers, lines);
        msg_.Attachments.push_back(std::move(att));
    }

    // Skips to the line equal to boundary; false at the end of the text.
    bool SkipTo(const std::string& boundary) {
        std::string line;
        while (in_.Next(line))
            if (line == boundary) return true;
        return false;
    }

    void ReadMultipart(const std::string& parameter) {
        std::string boundary = "--" + parameter;
        if (!SkipTo(boundary)) throw MessageError(kErrNoBoundary, kTextNoBoundary);
        stack_.push_back(boundary);

        TmsHeaders part = in_.ReadHeaders();
        const std::string partType = GetHeaderValue(part, "Content-Type");
        if (Contains(Lower(partType), "multipart/alternative")) {
            boundary = "--" + HeaderParameter(partType, "boundary");
            if (!SkipTo(boundary)) throw MessageError(kErrNoBoundary, kTextNoBoundary);
            stack_.push_back(boundary);
            part = in_.ReadHeaders();
        }

        const std::string cte = Lower(Trim(GetHeaderValue(part, "Content-Transfer-Encoding")));
        if (cte == "base64") {
            part.Add("Content-Transfer-Encoding: Base64");
            return ReadAttachments(std::move(part));
        }

        msg_.Body.clear();
        std::vector<std::string> lines;
        std::string line;
        const std::string closing = boundary + "--";
        bool ended = false;
        while (in_.Next(line)) {
            if (line == boundary || line == closing) {
                ended = true;
                break;
            }
            lines.push_back(std::move(line));
        }
        if (!ended) throw MessageError(kErrNoBoundary, kTextNoBoundary);
        if (lines.empty()) lines.emplace_back();
        if (cte == "quoted-printable") {
            msg_.CharSet = TmsCharSet::csISO8859;
            msg_.Body = DecodeQuotedPrintable(lines);
        } else {
            msg_.Body = std::move(lines);
        }
        if (line == closing) {
            msg_.ContentType = GetHeaderValue(part, "Content-Type");
            return;
        }
        ReadAttachments(in_.ReadHeaders());
    }

    enum class Mark { None, Open, Close };

    // Which boundary of the stack the line is, innermost first.
    Mark Classify(const std::string& line, std::size_t& level) const {
        for (std::size_t i = stack_.size(); i-- > 0;) {
            const std::string& b = stack_[i];
            if (line == b) {
                level = i;
                return Mark::Open;
            }
            if (line.size() == b.size() + 2 && line.starts_with(b) && line.ends_with("--")) {
                level = i;
                return Mark::Close;
            }
        }
        return Mark::None;
    }

    // Every part from here on becomes an attachment; nested multiparts are
    // flattened. A missing closing boundary is tolerated: only the body matters.
    void ReadAttachments(TmsHeaders part) {
        std::string line;
        for (;;) {
            const std::string type = GetHeaderValue(part, "Content-Type");
            const std::string inner = HeaderParameter(type, "boundary");
            // Deeper nesting is read as one opaque part: every line is checked
            // against each open boundary, so the depth must stay small.
            if (Contains(Lower(type), "multipart") && !inner.empty() && stack_.size() < kMaxDepth) {
                stack_.push_back("--" + inner);
                if (!SkipToNextPart()) return;
                part = in_.ReadHeaders();
                continue;
            }
            std::vector<std::string> lines;
            Mark mark = Mark::None;
            std::size_t level = 0;
            while (in_.Next(line)) {
                mark = Classify(line, level);
                if (mark != Mark::None) break;
                lines.push_back(std::move(line));
            }
            if (!part.Empty() || !lines.empty()) AddAttachment(part, lines);
            if (mark == Mark::None) return;
            if (mark == Mark::Open) {
                stack_.resize(level + 1);
            } else {
                stack_.resize(level);
                if (!SkipToNextPart()) return;
            }
            part = in_.ReadHeaders();
        }
    }

    // After a closing boundary: on to the next opening one of an outer level.
    bool SkipToNextPart() {
        std::string line;
        std::size_t level = 0;
        while (!stack_.empty() && in_.Next(line)) {
            const Mark mark = Classify(line, level);
            if (mark == Mark::Open) {
                stack_.resize(level + 1);
                return true;
            }
            if (mark == Mark::Close) stack_.resize(level);
        }
        return false;
    }

    static constexpr std::size_t kMaxDepth = 16;

    TmsMessage& msg_;
    Reader in_;
    std::vector<std::string> stack_;  // the boundaries open, outermost first
};

}  // namespace

std::string HeaderParameter(std::string_view value, std::string_view name) {
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t k = 0; k <= value.size(); ++k) {
        if (k < value.size() && value[k] == '"') quoted = !quoted;
        if (k < value.size() && (value[k] != ';' || quoted)) continue;
        const std::string_view piece = value.substr(start, k - start);
        start = k + 1;
        const std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        if (AsciiIEquals(TrimView(piece.substr(0, eq)), name))
            return StripQuotes(piece.substr(eq + 1));
    }
    return {};
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            break;
        else
            continue;
        bits = (bits << 6) | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::vector<std::string> DecodeQuotedPrintable(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::string current;
    bool open = false;
    for (const std::string& raw : lines) {
        std::string_view line = raw;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        bool soft = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') {
                current += line[i];
                continue;
            }
            if (i + 1 == line.size()) {
                soft = true;
                break;
            }
            const int hi = HexValue(line[i + 1]);
            const int lo = i + 2 < line.size() ? HexValue(line[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                current += '=';  // not an escape: keep it as written
                continue;
            }
            current += char(hi * 16 + lo);
            i += 2;
        }
        open = soft;
        if (!soft) out.push_back(std::move(current)), current.clear();
    }
    if (open) out.push_back(std::move(current));
    return out;
}

std::string DecodeUULine(std::string_view line) {
    std::string out;
    if (line.empty()) return out;
    const auto value = [](char c) { return (unsigned(static_cast<unsigned char>(c)) - 32) & 63; };
    const std::size_t length = value(line[0]);
    for (std::size_t i = 1; i < line.size() && out.size() < length; i += 4) {
        unsigned group = 0;
        for (std::size_t k = 0; k < 4; ++k)
            group = (group << 6) | (i + k < line.size() ? value(line[i + k]) : 0);
        for (int shift = 16; shift >= 0 && out.size() < length; shift -= 8)
            out += char((group >> shift) & 0xFF);
    }
    return out;
}

void TmsMessage::Clear() {
    Body.clear();
    Attachments.clear();
    Sender = {};
    Headers.Clear();
    Recipients.clear();
    CC.clear();
    BCC.clear();
    Subject.clear();
    Encoding = TmsEncoding::meMIME;
    CharSet = TmsCharSet::csUSASCII;
}

void TmsMessage::LoadFromFile(const std::string& path) {
    Clear();
    FileContent file = ReadWholeFile(path);
    if (file.status != ReadStatus::Ok) {
        const std::string why =
            file.status == ReadStatus::Missing ? std::strerror(ENOENT) : file.error;
        throw KelvaneError("Cannot open file \"" + path + "\". " + why);
    }
    Parse(file.data);
}

void TmsMessage::LoadFromText(std::string_view text) {
    Clear();
    Parse(text);
}

void TmsMessage::Parse(std::string_view text) {
    // A type left from the message shown before must not colour this one.
    ContentType = "text/plain";
    try {
        Parser(*this, text).Run();
    } catch (const MessageError& e) {
        Body = {"The following error has been occured while processing the message:", e.what(),
                "The original message will be stored as an attachment"};
        Attachments.clear();
        Attachments.push_back({"original.eml", "message/rfc822", std::string(text)});
    }
}

}  // namespace kelvane
