#pragma once

// A message the POP3 client saved to a file, read back so that its body can
// be shown: header fields, the text body (plain, quoted-printable, Base64,
// HTML or RTF), uuencoded blocks and MIME parts. A message the reader cannot
// make sense of still loads: its body says why and the whole file becomes an
// attachment.

#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "mail/headers.h"

namespace kelvane {

constexpr int kErrRetrieveHeaders = 57107;
constexpr int kErrMissingContentType = 57108;
constexpr int kErrNoClosingBoundary = 57109;
constexpr int kErrNoBoundary = 57110;
constexpr int kErrDecodeAttachment = 57111;

inline constexpr std::string_view kTextRetrieveHeaders = "Unable to retrieve headers";
inline constexpr std::string_view kTextMissingContentType = "Missing required field: Content-Type";
inline constexpr std::string_view kTextNoClosingBoundary = "Cannot find closing boundary";
inline constexpr std::string_view kTextNoBoundary = "Cannot find boundary";
inline constexpr std::string_view kTextDecodeAttachment = "Error decoding the attachment";

// A structural fault of the message text; LoadFromFile turns it into the
// error body instead of failing.
class MessageError : public KelvaneError {
  public:
    MessageError(int code, std::string_view text) : KelvaneError(std::string(text)), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

enum class TmsEncoding { meMIME, meUU };
enum class TmsCharSet { csUSASCII, csISO8859 };
enum class TmsPriority { ptLow, ptNormal, ptHigh };

struct TmsAttachment {
    std::string FileName;
    std::string ContentType;
    std::string Data;  // decoded bytes
};

class TmsCustomMessage {
  public:
    virtual ~TmsCustomMessage() = default;

    std::vector<TmsAttachment> Attachments;
    std::string ContentType = "text/plain";
    TmsEncoding Encoding = TmsEncoding::meMIME;
    TmsMailAddress Sender;
    std::string Subject;  // at most 255 bytes
    TmsCharSet CharSet = TmsCharSet::csUSASCII;
    TmsHeaders Headers;
    std::vector<std::string> Body;
};

class TmsMessage : public TmsCustomMessage {
  public:
    // Clear, then read and decode the file. Throws KelvaneError when the file
    // cannot be read and AddressParseError for an unreadable sender.
    void LoadFromFile(const std::string& path);
    // The same on text held in memory.
    void LoadFromText(std::string_view text);
    void Clear();

    std::vector<std::string> Recipients;
    std::vector<std::string> CC;
    std::vector<std::string> BCC;
    bool ReturnReceipt = false;
    TmsPriority Priority = TmsPriority::ptNormal;

  private:
    void Parse(std::string_view text);
};

// The value of parameter name (case-insensitive) of a structured field value
// such as 'multipart/mixed; boundary="x"', unquoted; empty when absent.
std::string HeaderParameter(std::string_view value, std::string_view name);

// Lenient decoders: bytes outside the alphabet are skipped, never fatal.
std::string DecodeBase64(std::string_view text);
// Decodes the lines; a line ending in "=" continues on the next one.
std::vector<std::string> DecodeQuotedPrintable(const std::vector<std::string>& lines);
// One uuencoded line; the length byte is trusted only as far as the line goes.
std::string DecodeUULine(std::string_view line);

}  // namespace kelvane
