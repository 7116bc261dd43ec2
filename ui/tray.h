#pragma once

// The notification-area icon behind a small interface (there is no tray
// offscreen, so window tests use a double), and the wait for the desktop's
// tray host at login.

#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QObject;

namespace kelvane::ui {

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;
    // Whether the desktop shows tray icons at all.
    virtual bool Available() const = 0;
    virtual void Show() = 0;
    virtual void SetHint(const QString& hint) = 0;
    // Animated cycles our two pictures; otherwise the static picture.
    virtual void SetAnimated(bool animated) = 0;
    // The hammer picture, after a Cancel, until the next state change.
    virtual void ShowHammer() = 0;
    // The menu opens on a click only while enabled (not during a header
    // pass).
    virtual void SetMenu(QMenu* menu) = 0;
    virtual void SetMenuEnabled(bool enabled) = 0;
    // A click on the icon itself (not the menu).
    std::function<void()> OnActivated;
};

std::unique_ptr<TrayIcon> MakeTrayIcon();

// Calls ready once the session bus has a StatusNotifierWatcher with a
// registered host or an XEmbed tray owns the screen's tray selection, or at
// once without a session bus, or after timeoutMs:
// the toolkit decides once per process whether a tray exists, and at login
// the panel may come up after the program. The event loop runs meanwhile.
void WaitForTrayHost(QObject* context, int timeoutMs, std::function<void()> ready);

}  // namespace kelvane::ui
