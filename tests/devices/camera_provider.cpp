#include "tests/devices/camera_provider.h"

#include "devices/camera_capture.h"

#include <gst/gst.h>

#include <cstring>
#include <mutex>

extern "C" {

typedef struct {
    GstDevice parent;
    const char* pattern;
} PellorinTestCamDevice;
typedef struct {
    GstDeviceClass parent_class;
} PellorinTestCamDeviceClass;

G_DEFINE_TYPE(PellorinTestCamDevice, pellorin_test_cam_device, GST_TYPE_DEVICE)

static GstElement* pellorin_test_cam_create_element(GstDevice* device, const gchar* name) {
    const char* pattern = reinterpret_cast<PellorinTestCamDevice*>(device)->pattern;
    if (std::strcmp(pattern, "broken") == 0) return nullptr;
    if (std::strcmp(pattern, "unplugged") == 0) {
        GstElement* e = gst_element_factory_make("v4l2src", name);
        if (e) g_object_set(e, "device", "/dev/pellorin-no-such-camera", nullptr);
        return e;
    }
    GstElement* e = gst_element_factory_make("videotestsrc", name);
    if (!e) return nullptr;
    g_object_set(e, "is-live", TRUE, nullptr);
    gst_util_set_object_arg(G_OBJECT(e), "pattern", pattern);
    return e;
}

static void pellorin_test_cam_device_class_init(PellorinTestCamDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = pellorin_test_cam_create_element;
}

static void pellorin_test_cam_device_init(PellorinTestCamDevice* self) {
    self->pattern = "ball";
}

typedef struct {
    GstDeviceProvider parent;
} PellorinTestCamProvider;
typedef struct {
    GstDeviceProviderClass parent_class;
} PellorinTestCamProviderClass;

G_DEFINE_TYPE(PellorinTestCamProvider, pellorin_test_cam_provider, GST_TYPE_DEVICE_PROVIDER)

static GstDevice* MakeDevice(const char* name, const char* pattern) {
    GstCaps* caps = gst_caps_new_empty_simple("video/x-raw");
    auto* d = static_cast<PellorinTestCamDevice*>(
        g_object_new(pellorin_test_cam_device_get_type(), "display-name", name, "device-class",
                     "Video/Source", "caps", caps, nullptr));
    gst_caps_unref(caps);
    d->pattern = pattern;
    return GST_DEVICE(d);
}

static GList* pellorin_test_cam_probe(GstDeviceProvider*) {
    GList* list = nullptr;
    list = g_list_append(list, MakeDevice(kTestCamera, "ball"));
    list = g_list_append(list, MakeDevice(kTestCameraRed, "red"));
    list = g_list_append(list, MakeDevice(kTestCameraBlink, "blink"));
    list = g_list_append(list, MakeDevice(kTestCameraBroken, "broken"));
    list = g_list_append(list, MakeDevice(kTestCameraUnplugged, "unplugged"));
    return list;
}

static void pellorin_test_cam_provider_class_init(PellorinTestCamProviderClass* klass) {
    GstDeviceProviderClass* dpc = GST_DEVICE_PROVIDER_CLASS(klass);
    dpc->probe = pellorin_test_cam_probe;
    gst_device_provider_class_set_static_metadata(dpc, "Pellorin test cameras", "Video/Source",
                                                  "videotestsrc offered as cameras", "Pellorin");
}

static void pellorin_test_cam_provider_init(PellorinTestCamProvider*) {}

static gboolean pellorin_test_cam_plugin_init(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, "pellorintestcam", GST_RANK_PRIMARY,
                                        pellorin_test_cam_provider_get_type());
}

} // extern "C"

bool RegisterTestCameras() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (!StartGStreamer()) return;
        ok = gst_plugin_register_static(
            GST_VERSION_MAJOR, GST_VERSION_MINOR, "pellorintestcam", "Cameras for Pellorin's tests",
            pellorin_test_cam_plugin_init, "1.0", "LGPL", "pellorin-tests", "pellorin", "none");
    });
    return ok;
}
