#include "mail/popprobe.h"

#include <string>
#include <string_view>

#include "mail/agsocket.h"

namespace kelvane {

namespace {

// Replies read as POP3 reads them, so that an empty line (0) is told from
// a connection closed before a whole line (-1).
class ProbeSocket : public TmsMailBase {
  public:
    ProbeSocket() : TmsMailBase("pop3", 110) {}
    int ReplyCode(std::string_view line) const override {
        if (line.empty()) return 0;
        return line[0] == '+' ? 1 : line[0] == '-' ? -1 : 0;
    }
};

// The reply as the error's text: empty when the server closed first.
void CheckPositive(int code, const std::string& line) {
    if (code == 1) return;
    if (code == 0 && line.empty()) throw KelvaneError(std::string(kTextEmptyReply));
    throw KelvaneError(line);
}

}  // namespace

CertificateInfo ProbeCertificate(const PopSettings& account, const std::function<void()>& pump) {
    if (account.security == ConnectionSecurity::None)
        throw KelvaneError("A plain connection has no certificate to show");
    ProbeSocket socket;
    socket.SetTlsService("pop3s", 995);
    socket.SetServer(account.host);
    socket.SetSecurity(account.security);
    socket.SetTimeOut(account.timeOut);
    socket.SetProbing(true);
    if (pump) socket.SetEventPump(pump);

    socket.Open();
    socket.Connect();
    std::string line;
    CheckPositive(socket.ReadReply(line), line);
    if (account.security == ConnectionSecurity::StartTls) {
        socket.SendLine("STLS");
        CheckPositive(socket.ReadReply(line), line);
        socket.StartTls();
    }
    const CertificateInfo info = *socket.PeerCertificate();
    try {
        socket.SendLine("QUIT");
        socket.ReadReply(line);
    } catch (const KelvaneError&) {
        // The certificate is what was asked for; a rude goodbye does not matter.
    }
    socket.Close();
    return info;
}

}  // namespace kelvane
