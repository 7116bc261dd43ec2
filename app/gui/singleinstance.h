#pragma once

// One running copy per user: a lock file and a local socket in the user's
// runtime folder. A second copy asks the first to show itself and ends.

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

namespace kelvane {

class SingleInstance {
  public:
    // runtimeDir: $XDG_RUNTIME_DIR, or a private folder of the user's in the
    // temporary folder when it is unset.
    explicit SingleInstance(const QString& runtimeDir = DefaultRuntimeDir());

    static QString DefaultRuntimeDir();

    // True when this is the first copy (it then holds the lock).
    bool Acquire();
    // The second copy: asks the first to restore or raise its window. False
    // when the first could not be reached.
    bool AskFirstToShow(int timeoutMs = 3000);
    // The first copy: onShow runs whenever a second copy starts.
    bool Listen(std::function<void()> onShow);

    const QString& SocketPath() const { return socketPath_; }

  private:
    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    std::function<void()> onShow_;
};

}  // namespace kelvane
