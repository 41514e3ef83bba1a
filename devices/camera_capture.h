#pragma once
// Web camera capture over GStreamer: the video sources by display name (from
// the device monitor), and a capture that converts the camera's frames to
// BGRx in the pipeline and copies each one into a 24-bit frame buffer. Frames
// arrive on GStreamer's streaming thread; the buffer is shared with the
// window's thread under a lock, so a reader never sees half a frame.

#include "app/bmp_file.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Starts GStreamer once per process; false when it cannot start.
bool StartGStreamer(std::string* error = nullptr);

// The display names of the video sources, in the device monitor's order.
std::vector<std::string> ListCameras();

// The size and rate asked of the camera (the user's "WEB Camera Size X/Y" and
// "WEB Camera Frequency"). The frequency is the frame interval in units of
// 100 ns; all bits set leaves the rate to the camera.
struct CameraFormat {
    int width = 320;
    int height = 240;
    uint64_t frequency = ~uint64_t(0);
};
// The frame rate the frequency asks for as a fraction; false when none is asked.
bool CameraFrameRate(uint64_t frequency, int* numerator, int* denominator);

// Copies `height` rows of BGRx pixels (`stride` bytes apart) into `frame`,
// which must be width x height already.
void CopyBGRxFrame(const uint8_t* src, size_t stride, int width, int height, BMP_File& frame);

// Why a capture did not start: the text and caption the window shows.
struct CameraFailure {
    std::string text;
    std::string caption = "Error";
};

class CCameraCapture {
public:
    CCameraCapture();
    ~CCameraCapture();
    CCameraCapture(const CCameraCapture&) = delete;
    CCameraCapture& operator=(const CCameraCapture&) = delete;

    // Finds the camera by display name, builds the pipeline and runs it; on
    // failure nothing runs and `failure` says why. Waits at most `timeoutMs`
    // for the camera to start.
    bool Start(const std::string& name, const CameraFormat& format, CameraFailure* failure,
               int timeoutMs = 5000);
    // Stops and releases the pipeline; no frame is written after it returns.
    void Stop();
    bool Started() const { return m_pipeline != nullptr; }

    // Frames are accepted while running and not frozen.
    void SetRunning(bool on) { m_running = on; }
    bool Running() const { return m_running; }
    void SetFrozen(bool on) { m_frozen = on; }
    bool Frozen() const { return m_frozen; }

    // Copies the last accepted frame; false when none arrived yet.
    bool CopyFrame(BMP_File& out, uint64_t* sequence = nullptr) const;
    // Waits until a frame after `sequence` was accepted; false on timeout.
    bool WaitForFrame(uint64_t sequence, int timeoutMs) const;
    uint64_t FramesAccepted() const;
    uint64_t FramesArrived() const { return m_arrived; }
    // The negotiated size (0 before the first frame).
    int Width() const;
    int Height() const;
    // Called on the streaming thread after each accepted frame.
    void SetFrameCallback(std::function<void()> callback);

    // A failure after the start (device gone, ...): its text, once.
    bool TakeError(std::string* text);

    // The V4L2 device file of the camera, empty for other sources.
    const std::string& DevicePath() const { return m_devicePath; }

    // For the streaming thread.
    void OnSample(void* sample);

private:
    void* m_pipeline = nullptr; // GstElement*
    void* m_sink = nullptr;
    std::string m_devicePath;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_frameReady;
    BMP_File m_frame;
    uint64_t m_sequence = 0;
    std::function<void()> m_callback;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_frozen{false};
    std::atomic<uint64_t> m_arrived{0};
};
