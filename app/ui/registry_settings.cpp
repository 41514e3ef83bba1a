#include "app/ui/registry_settings.h"

#include <QSettings>

#include <limits>

namespace {

bool ReadInt32(const QSettings& s, const QString& key, int32_t& out) {
    if (!s.contains(key)) return false;
    bool ok = false;
    const qlonglong v = s.value(key).toString().trimmed().toLongLong(&ok);
    if (!ok || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    out = int32_t(v);
    return true;
}

} // namespace

void DeviceChoices::Read(QSettings& s) {
    s.beginGroup("Settings");
    int32_t x = 0, y = 0;
    if (ReadInt32(s, "WEB Camera Size X", x) && ReadInt32(s, "WEB Camera Size Y", y)) {
        webCameraSizeX = x;
        webCameraSizeY = y;
    }
    if (s.contains("WEB Camera Frequency")) {
        bool ok = false;
        const qulonglong f = s.value("WEB Camera Frequency").toString().trimmed().toULongLong(&ok);
        if (ok) webCameraFrequency = f;
    }
    s.endGroup();
    // Device names are only read when they were ever written.
    if (s.childGroups().contains("TwainSources")) {
        s.beginGroup("TwainSources");
        scannerSource = s.value("Scanner Twain Src").toString();
        cameraSource = s.value("Camera DShow Src").toString();
        s.endGroup();
    }
}

void DeviceChoices::Write(QSettings& s) const {
    s.beginGroup("Settings");
    s.setValue("WEB Camera Size X", int(webCameraSizeX));
    s.setValue("WEB Camera Size Y", int(webCameraSizeY));
    s.setValue("WEB Camera Frequency", QString::number(qulonglong(webCameraFrequency)));
    s.endGroup();
    s.beginGroup("TwainSources");
    s.setValue("Scanner Twain Src", scannerSource);
    s.setValue("Camera DShow Src", cameraSource);
    s.endGroup();
    s.sync();
}
