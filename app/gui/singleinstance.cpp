#include "app/gui/singleinstance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace kelvane {

namespace {

constexpr char kShowRequest[] = "show\n";

// A folder of the current user's that nobody else can write to, or an empty
// text when the path is taken by someone else.
QString PrivateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    ::mkdir(native.constData(), 0700);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0077) != 0)
        return {};
    return path;
}

}  // namespace

QString SingleInstance::DefaultRuntimeDir() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/')) return QFile::decodeName(runtime);
    // The temporary folder is shared: the user gets a folder of its own there.
    return PrivateFolder(QDir(QDir::tempPath()).filePath(QString("kelvane-%1").arg(::getuid())));
}

SingleInstance::SingleInstance(const QString& runtimeDir) {
    if (runtimeDir.isEmpty()) return;
    const QDir dir(runtimeDir);
    socketPath_ = dir.filePath("kelvane.socket");
    lock_ = std::make_unique<QLockFile>(dir.filePath("kelvane.lock"));
    // A copy that crashed leaves its lock behind; its process id tells. A
    // running copy's lock never goes stale by age.
    lock_->setStaleLockTime(0);
}

bool SingleInstance::Acquire() {
    // Without a private runtime folder there is no safe meeting place; the
    // program then runs without the guard rather than not at all.
    if (!lock_) return true;
    return lock_->tryLock(0);
}

bool SingleInstance::AskFirstToShow(int timeoutMs) {
    if (socketPath_.isEmpty()) return false;
    // The first copy may still be starting and not yet listening.
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
            socket.write(kShowRequest);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
}

bool SingleInstance::Listen(std::function<void()> onShow) {
    if (socketPath_.isEmpty()) return false;
    onShow_ = std::move(onShow);
    // Only the user may connect; a socket left by a crashed copy is ours to
    // replace, since we hold the lock.
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath_);
    if (!server_.listen(socketPath_)) return false;
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine(64) == kShowRequest && onShow_) onShow_();
                }
                // Anything else is not a copy of ours; it gets nothing.
                if (socket->bytesAvailable() > 64) socket->abort();
            });
        }
    });
    return true;
}

}  // namespace kelvane
