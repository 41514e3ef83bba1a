#pragma once
// The controls of a V4L2 camera (brightness, contrast, zoom, pan, tilt, ...),
// read and set through its device file. Cameras that are not V4L2 devices
// have none.

#include <cstdint>
#include <string>
#include <vector>

struct CameraControl {
    uint32_t id = 0;
    std::string name;
    enum Kind { Integer, Boolean, Menu, Button } kind = Integer;
    int32_t min = 0, max = 0, step = 1, defaultValue = 0, value = 0;
    bool inactive = false; // driven by an automatic mode of the camera
    bool readOnly = false;
    bool cameraClass = false; // zoom, pan, tilt, focus, exposure (else image controls)
    std::vector<std::pair<int32_t, std::string>> menu;
};

// All controls of the device; empty when the file is not a V4L2 device.
std::vector<CameraControl> ListCameraControls(const std::string& devicePath);
bool SetCameraControl(const std::string& devicePath, uint32_t id, int32_t value);

// Zoom, pan and tilt as the status line shows them.
struct ZoomPanTilt {
    int zoom = 0, pan = 0, tilt = 0;
    bool zoomAuto = false, panAuto = false, tiltAuto = false;
};
ZoomPanTilt ReadZoomPanTilt(const std::vector<CameraControl>& controls);
// "Video     Zoom %d%%    Pan %d    Tilt %d", or with "%s" and "- auto" for
// each value the camera sets itself.
std::string CameraStatusLine(const ZoomPanTilt& z);
