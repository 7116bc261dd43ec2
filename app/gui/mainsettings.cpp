#include "app/gui/mainsettings.h"

#include "settings/keys.h"

namespace kelvane {

MainSettings MainSettings::Read(const SettingsStore& user) {
    MainSettings s;
    s.startInTray = keys::Read(user, keys::SysTray);
    s.automatic = keys::Read(user, keys::Automatic);
    s.minutes = keys::Read(user, keys::Minutes);
    s.defaultMailbox = keys::Read(user, keys::Which);
    s.confirm = keys::Read(user, keys::Ask);
    s.launch = keys::Read(user, keys::Launch);
    s.exitAfterCheck = keys::Read(user, keys::Exit);
    s.kill = keys::Read(user, keys::Kill);
    s.alarm = keys::Read(user, keys::Alarm);
    s.repeat = keys::Read(user, keys::Repeat);
    s.mailer = keys::Read(user, keys::Mailer);
    s.alarmFile = keys::Read(user, keys::AlarmFile).substr(0, 200);
    return s;
}

}  // namespace kelvane
