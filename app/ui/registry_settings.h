#pragma once
// The device choices kept in the user's settings (not in configuration files):
// web camera frame size and rate, the chosen scanner and camera.

#include <QString>

#include <cstdint>

class QSettings;

struct DeviceChoices {
    int32_t webCameraSizeX = 320;
    int32_t webCameraSizeY = 240;
    uint64_t webCameraFrequency = ~uint64_t(0); // all bits set: nothing chosen
    QString scannerSource;                      // "Scanner Twain Src"
    QString cameraSource;                       // "Camera DShow Src"

    // Reads the values that are there with the right kind; the sizes only when
    // both are valid 32-bit numbers, the frequency only as a 64-bit number.
    void Read(QSettings& settings);
    void Write(QSettings& settings) const;
};
