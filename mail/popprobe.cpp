#include "mail/popprobe.h"

#include <string>

#include "mail/agsocket.h"

namespace kelvane {

namespace {

bool Positive(const std::string& line) {
    return !line.empty() && line[0] == '+';
}

}  // namespace

CertificateInfo ProbeCertificate(const PopSettings& account, const std::function<void()>& pump) {
    if (account.security == ConnectionSecurity::None)
        throw KelvaneError("A plain connection has no certificate to show");
    TmsMailBase socket("pop3", 110);
    socket.SetTlsService("pop3s", 995);
    socket.SetServer(account.host);
    socket.SetSecurity(account.security);
    socket.SetTimeOut(account.timeOut);
    socket.SetProbing(true);
    if (pump) socket.SetEventPump(pump);

    socket.Open();
    socket.Connect();
    std::string line;
    socket.ReadReply(line);
    if (!Positive(line)) throw KelvaneError(line);
    if (account.security == ConnectionSecurity::StartTls) {
        socket.SendLine("STLS");
        socket.ReadReply(line);
        if (!Positive(line)) throw KelvaneError(line);
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
