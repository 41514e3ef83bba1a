#include "devices/v4l2_controls.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct Fd {
    int fd;
    explicit Fd(const std::string& path)
        : fd(path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

std::vector<CameraControl> ListCameraControls(const std::string& devicePath) {
    std::vector<CameraControl> out;
    Fd f(devicePath);
    if (f.fd < 0) return out;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Ioctl(f.fd, VIDIOC_QUERYCTRL, &q) == 0) {
        const uint32_t id = q.id;
        if (!(q.flags & V4L2_CTRL_FLAG_DISABLED) &&
            (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN ||
             q.type == V4L2_CTRL_TYPE_MENU || q.type == V4L2_CTRL_TYPE_BUTTON)) {
            CameraControl c;
            c.id = id;
            c.name.assign(reinterpret_cast<const char*>(q.name),
                          strnlen(reinterpret_cast<const char*>(q.name), sizeof q.name));
            c.kind = q.type == V4L2_CTRL_TYPE_BOOLEAN  ? CameraControl::Boolean
                     : q.type == V4L2_CTRL_TYPE_MENU   ? CameraControl::Menu
                     : q.type == V4L2_CTRL_TYPE_BUTTON ? CameraControl::Button
                                                       : CameraControl::Integer;
            c.min = q.minimum;
            c.max = q.maximum;
            c.step = q.step > 0 ? q.step : 1;
            c.defaultValue = q.default_value;
            c.inactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
            c.readOnly = (q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
            c.cameraClass = V4L2_CTRL_ID2CLASS(id) == V4L2_CTRL_CLASS_CAMERA;
            if (c.kind == CameraControl::Menu) {
                for (int32_t i = q.minimum; i <= q.maximum && i - q.minimum < 256; ++i) {
                    v4l2_querymenu m{};
                    m.id = id;
                    m.index = uint32_t(i);
                    if (Ioctl(f.fd, VIDIOC_QUERYMENU, &m) == 0)
                        c.menu.emplace_back(i, reinterpret_cast<const char*>(m.name));
                }
            }
            if (c.kind != CameraControl::Button) {
                v4l2_control v{};
                v.id = id;
                if (Ioctl(f.fd, VIDIOC_G_CTRL, &v) == 0) c.value = v.value;
            }
            out.push_back(std::move(c));
        }
        q = v4l2_queryctrl{};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return out;
}

bool SetCameraControl(const std::string& devicePath, uint32_t id, int32_t value) {
    Fd f(devicePath);
    if (f.fd < 0) return false;
    v4l2_control v{};
    v.id = id;
    v.value = value;
    return Ioctl(f.fd, VIDIOC_S_CTRL, &v) == 0;
}

ZoomPanTilt ReadZoomPanTilt(const std::vector<CameraControl>& controls) {
    ZoomPanTilt z;
    for (const CameraControl& c : controls) {
        if (c.id == V4L2_CID_ZOOM_ABSOLUTE) {
            z.zoom = c.value;
            z.zoomAuto = c.inactive;
        } else if (c.id == V4L2_CID_PAN_ABSOLUTE) {
            z.pan = c.value;
            z.panAuto = c.inactive;
        } else if (c.id == V4L2_CID_TILT_ABSOLUTE) {
            z.tilt = c.value;
            z.tiltAuto = c.inactive;
        }
    }
    return z;
}

std::string CameraStatusLine(const ZoomPanTilt& z) {
    char text[160];
    if (!z.zoomAuto && !z.panAuto && !z.tiltAuto) {
        std::snprintf(text, sizeof text, "Video     Zoom %d%%    Pan %d    Tilt %d", z.zoom, z.pan,
                      z.tilt);
        return text;
    }
    auto value = [](int v, bool automatic, bool percent) {
        return automatic ? std::string("- auto") : std::to_string(v) + (percent ? "%" : "");
    };
    std::snprintf(text, sizeof text, "Video     Zoom %s    Pan %s    Tilt %s",
                  value(z.zoom, z.zoomAuto, true).c_str(), value(z.pan, z.panAuto, false).c_str(),
                  value(z.tilt, z.tiltAuto, false).c_str());
    return text;
}
