#pragma once
// The update check of every start: libvarbeck fetches the information file
// from the update host and, when it names a newer version, asks here, on the
// user-interface thread, whether to open the download address.

#include <QString>

class QSettings;

// The version this program announces to the check.
inline constexpr float kUpdateCheckVersion = 5.9f;

// The information file on a host: "http://" + host + "/updates/pellorin.info".
QString UpdateAddress(const QString& host);

// Registers the handlers through which checks ask the user (a question box on
// the user-interface thread) and open the download address (the desktop's
// default handler). Needs the application object; safe to call again.
void InstallUpdateHandlers();

// Starts the check against the host of the "Settings/UpdateHost" value. An
// empty or missing host (the default) checks nothing. Returns whether a check
// started; it runs on its own and reports nothing back.
bool StartUpdateCheck(QSettings& settings);
