#include "devices/camera_capture.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kVideoSources = "Video/Source";

struct Unref {
    void operator()(gpointer p) const {
        if (p) gst_object_unref(p);
    }
};
template <class T> using GstPtr = std::unique_ptr<T, Unref>;

GstFlowReturn NewSample(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    static_cast<CCameraCapture*>(self)->OnSample(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// The video source devices; empty when there are none. *ok tells whether the
// monitor could be asked at all.
GList* VideoDevices(bool* ok) {
    *ok = false;
    GstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
    if (!monitor) return nullptr;
    if (gst_device_monitor_add_filter(monitor.get(), kVideoSources, nullptr) == 0) return nullptr;
    *ok = true;
    return gst_device_monitor_get_devices(monitor.get());
}

std::string DisplayName(GstDevice* device) {
    gchar* name = gst_device_get_display_name(device);
    std::string s = name ? name : "";
    g_free(name);
    return s;
}

} // namespace

bool StartGStreamer(std::string* error) {
    static std::once_flag once;
    static bool up = false;
    static std::string why;
    std::call_once(once, [] {
        GError* err = nullptr;
        up = gst_init_check(nullptr, nullptr, &err);
        if (err) {
            why = err->message;
            g_error_free(err);
        }
    });
    if (!up && error) *error = why;
    return up;
}

std::vector<std::string> ListCameras() {
    std::vector<std::string> names;
    if (!StartGStreamer()) return names;
    bool ok = false;
    GList* devices = VideoDevices(&ok);
    for (GList* l = devices; l; l = l->next) names.push_back(DisplayName(GST_DEVICE(l->data)));
    g_list_free_full(devices, gst_object_unref);
    return names;
}

bool CameraFrameRate(uint64_t frequency, int* numerator, int* denominator) {
    // Frame intervals from a tenth of a microsecond (10 million frames a
    // second) to an hour; anything else asks for no particular rate.
    if (frequency == 0 || frequency > uint64_t(10'000'000) * 3600) return false;
    const double rate = 1e7 / double(frequency);
    // Cameras offer whole rates and the NTSC ones (n * 1000/1001); the interval
    // in 100 ns units cannot say either exactly, so the nearest one is taken.
    const long whole = std::lround(rate);
    if (whole > 0 && std::fabs(rate - double(whole)) <= rate * 1e-3) {
        *numerator = int(whole);
        *denominator = 1;
        return true;
    }
    const long ntsc = std::lround(rate * 1.001);
    if (ntsc > 0 && std::fabs(double(ntsc) * 1000 / 1001 - rate) <= rate * 1e-3) {
        *numerator = int(ntsc * 1000);
        *denominator = 1001;
        return true;
    }
    gst_util_double_to_fraction(rate, numerator, denominator);
    return *numerator > 0 && *denominator > 0;
}

void CopyBGRxFrame(const uint8_t* src, size_t stride, int width, int height, BMP_File& frame) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = src + size_t(y) * stride;
        uint8_t* d = reinterpret_cast<uint8_t*>(frame.Row(y));
        for (int x = 0; x < width; ++x, s += 4, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
}

CCameraCapture::CCameraCapture() = default;

CCameraCapture::~CCameraCapture() {
    Stop();
}

void CCameraCapture::OnSample(void* p) {
    GstSample* sample = static_cast<GstSample*>(p);
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return;
    ++m_arrived;
    if (!m_running || m_frozen) {
        m_frameReady.notify_all();
        return;
    }
    GstVideoFrame vf;
    if (!gst_video_frame_map(&vf, &info, buffer, GST_MAP_READ)) return;
    const int w = GST_VIDEO_FRAME_WIDTH(&vf), h = GST_VIDEO_FRAME_HEIGHT(&vf);
    std::function<void()> callback;
    {
        std::lock_guard lock(m_mutex);
        bool sized = m_frame.Width() == w && m_frame.Height() == h;
        if (!sized) sized = m_frame.CreateUninitialized(w, h);
        if (sized) {
            CopyBGRxFrame(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, 0)),
                          size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&vf, 0)), w, h, m_frame);
            ++m_sequence;
            callback = m_callback;
        }
    }
    gst_video_frame_unmap(&vf);
    m_frameReady.notify_all();
    if (callback) callback();
}

bool CCameraCapture::CopyFrame(BMP_File& out, uint64_t* sequence) const {
    std::lock_guard lock(m_mutex);
    if (sequence) *sequence = m_sequence;
    if (m_sequence == 0 || m_frame.Empty()) return false;
    out = m_frame;
    return true;
}

bool CCameraCapture::WaitForFrame(uint64_t sequence, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_frameReady.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return m_sequence > sequence; });
}

uint64_t CCameraCapture::FramesAccepted() const {
    std::lock_guard lock(m_mutex);
    return m_sequence;
}

int CCameraCapture::Width() const {
    std::lock_guard lock(m_mutex);
    return m_frame.Width();
}

int CCameraCapture::Height() const {
    std::lock_guard lock(m_mutex);
    return m_frame.Height();
}

void CCameraCapture::SetFrameCallback(std::function<void()> callback) {
    std::lock_guard lock(m_mutex);
    m_callback = std::move(callback);
}

bool CCameraCapture::Start(const std::string& name, const CameraFormat& format,
                           CameraFailure* failure, int timeoutMs) {
    Stop();
    auto fail = [&](std::string text, std::string caption = "Error") {
        if (failure) *failure = CameraFailure{std::move(text), std::move(caption)};
        Stop();
        return false;
    };
    if (name.empty()) return fail("Camera Direct Show Source was not selected!");
    if (!StartGStreamer())
        return fail("CWebCameraDlg::Init::CoCreateInstance (CLSID_SystemDeviceEnum...");
    bool monitorOk = false;
    GList* devices = VideoDevices(&monitorOk);
    if (!monitorOk)
        return fail("CWebCameraDlg::Init::pDevEnum->CreateClassEnumerator "
                    "(CLSID_VideoInputDeviceCategory...");
    if (!devices) return fail("CWebCameraDlg::Init::pClassEnum == NULL");
    GstPtr<GstDevice> device;
    for (GList* l = devices; l; l = l->next)
        if (!device && DisplayName(GST_DEVICE(l->data)) == name)
            device.reset(GST_DEVICE(gst_object_ref(l->data)));
    g_list_free_full(devices, gst_object_unref);
    if (!device) return fail("Camera Direct Show Source \"" + name + "\" was not found!");

    m_devicePath.clear();
    if (GstStructure* props = gst_device_get_properties(device.get())) {
        for (const char* key : {"api.v4l2.path", "device.path"})
            if (const char* path = gst_structure_get_string(props, key)) {
                m_devicePath = path;
                break;
            }
        gst_structure_free(props);
    }

    GstPtr<GstElementFactory> convertFactory(gst_element_factory_find("videoconvert"));
    if (!convertFactory) return fail("Colour space convertor was not found!");

    GstElement* pipeline = gst_pipeline_new("Camera");
    m_pipeline = pipeline;
    GstElement* source = gst_device_create_element(device.get(), "Capturer");
    if (!source || !gst_bin_add(GST_BIN(pipeline), source))
        return fail("Could not add Capture Filter!");
    GstElement* sink = gst_element_factory_make("appsink", "Renderer");
    if (!sink || !gst_bin_add(GST_BIN(pipeline), sink))
        return fail("Could not add Renderer Filter!");
    m_sink = sink;
    GstElement* convert = gst_element_factory_create(convertFactory.get(), "ColorConverter");
    GstElement* filter = gst_element_factory_make("capsfilter", "Format");
    if (!convert || !filter || !gst_bin_add(GST_BIN(pipeline), convert) ||
        !gst_bin_add(GST_BIN(pipeline), filter))
        return fail("Could not add Color Converter Filter!");

    // The camera's own format at the size and rate the user chose; the
    // converter turns it into BGRx for the frame routine.
    GstCaps* wanted = gst_caps_new_empty_simple("video/x-raw");
    if (format.width > 0 && format.height > 0)
        gst_caps_set_simple(wanted, "width", G_TYPE_INT, format.width, "height", G_TYPE_INT,
                            format.height, nullptr);
    int num = 0, den = 1;
    if (CameraFrameRate(format.frequency, &num, &den))
        gst_caps_set_simple(wanted, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    g_object_set(filter, "caps", wanted, nullptr);
    gst_caps_unref(wanted);
    GstCaps* bgrx = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr);
    gst_app_sink_set_caps(GST_APP_SINK(sink), bgrx);
    gst_caps_unref(bgrx);
    // A window that falls behind costs old frames, never a stalled camera.
    gst_app_sink_set_max_buffers(GST_APP_SINK(sink), 2);
    gst_app_sink_set_drop(GST_APP_SINK(sink), TRUE);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    if (!gst_element_link_many(source, filter, convert, sink, nullptr))
        return fail("m_pCapture->RenderStream");

    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    if (!bus) {
        char text[1024];
        std::snprintf(text, sizeof text, "Failed to get video interfaces!  hr=0x%x", 0x80004002u);
        return fail(text, "PlayCap Message");
    }
    m_running = true;
    m_frozen = false;
    const uint64_t arrivedBefore = m_arrived;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE &&
        !gst_bus_have_pending(bus.get()))
        return fail("Could not start the camera.", "Could not access camera");
    // Started once the first frame arrives; a failure before that is the
    // start's failure.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_arrived == arrivedBefore && std::chrono::steady_clock::now() < deadline) {
        GstMessage* msg =
            gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, GST_MESSAGE_ERROR);
        if (!msg) continue;
        GError* err = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(msg, &err, &debug);
        std::string text = err ? err->message : "";
        const bool busy = err && g_error_matches(err, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY);
        // A format the camera cannot give stops the stream "not-negotiated".
        const bool negotiation =
            (err && (g_error_matches(err, GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT) ||
                     g_error_matches(err, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION))) ||
            (debug && std::strstr(debug, "not-negotiated"));
        g_free(debug);
        if (err) g_error_free(err);
        gst_message_unref(msg);
        m_running = false;
        if (busy) return fail("Camera is in use by another application", "Warning!");
        if (negotiation) return fail("m_pCapture->RenderStream");
        return fail(text, "Could not access camera");
    }
    return true;
}

bool CCameraCapture::TakeError(std::string* text) {
    if (!m_pipeline) return false;
    GstPtr<GstBus> bus(gst_element_get_bus(GST_ELEMENT(m_pipeline)));
    if (!bus) return false;
    GstMessage* msg = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR);
    if (!msg) return false;
    GError* err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    *text = err ? err->message : "";
    if (err) g_error_free(err);
    gst_message_unref(msg);
    return true;
}

void CCameraCapture::Stop() {
    m_running = false;
    if (m_pipeline) {
        // Returns once the streaming thread has left the frame routine.
        gst_element_set_state(GST_ELEMENT(m_pipeline), GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    m_pipeline = nullptr;
    m_sink = nullptr;
}
