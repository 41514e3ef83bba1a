// Capture from cameras that only the tests offer (videotestsrc behind a device
// provider): the device list, the messages of a camera that is not there, the
// negotiated size, the pixels, freezing and whole frames under streaming.

#include "devices/camera_capture.h"
#include "devices/v4l2_controls.h"
#include "tests/devices/camera_provider.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class Camera : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(RegisterTestCameras()); }
    CCameraCapture capture;
};

// Waits, at most five seconds, until the capture has seen `n` more frames.
bool WaitArrived(const CCameraCapture& c, uint64_t n) {
    const uint64_t target = c.FramesArrived() + n;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (c.FramesArrived() < target) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST_F(Camera, DeviceMonitorListsTheTestCameras) {
    const auto names = ListCameras();
    EXPECT_NE(std::find(names.begin(), names.end(), kTestCamera), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), kTestCameraRed), names.end());
}

TEST_F(Camera, MissingCameraGivesItsMessage) {
    CameraFailure failure;
    EXPECT_FALSE(capture.Start("", CameraFormat{}, &failure));
    EXPECT_EQ(failure.text, "Camera Direct Show Source was not selected!");
    EXPECT_EQ(failure.caption, "Error");
    EXPECT_FALSE(capture.Started());

    EXPECT_FALSE(capture.Start("Pellorin Test Camera 2", CameraFormat{}, &failure));
    EXPECT_EQ(failure.text, "Camera Direct Show Source \"Pellorin Test Camera 2\" was not found!");
    EXPECT_EQ(failure.caption, "Error");
    EXPECT_FALSE(capture.Started());
}

TEST_F(Camera, PipelineFailuresGiveTheirMessages) {
    CameraFailure failure;
    EXPECT_FALSE(capture.Start(kTestCameraBroken, CameraFormat{}, &failure));
    EXPECT_EQ(failure.text, "Could not add Capture Filter!");
    EXPECT_EQ(failure.caption, "Error");
    EXPECT_FALSE(capture.Started());

    failure = CameraFailure{};
    EXPECT_FALSE(capture.Start(kTestCameraUnplugged, CameraFormat{}, &failure));
    EXPECT_EQ(failure.caption, "Could not access camera");
    EXPECT_FALSE(failure.text.empty());
    EXPECT_FALSE(capture.Started());
    EXPECT_EQ(capture.DevicePath(), "");

    // Whatever failed before, a good camera starts afterwards.
    ASSERT_TRUE(capture.Start(kTestCameraRed, CameraFormat{}, &failure)) << failure.text;
    EXPECT_TRUE(capture.WaitForFrame(0, 5000));
}

TEST(CameraControls, StatusLineInBothForms) {
    EXPECT_EQ(CameraStatusLine(ZoomPanTilt{}), "Video     Zoom 0%    Pan 0    Tilt 0");
    EXPECT_EQ(CameraStatusLine(ZoomPanTilt{150, -36000, 7200, false, false, false}),
              "Video     Zoom 150%    Pan -36000    Tilt 7200");
    EXPECT_EQ(CameraStatusLine(ZoomPanTilt{150, -36000, 7200, false, true, false}),
              "Video     Zoom 150%    Pan - auto    Tilt 7200");
    EXPECT_EQ(CameraStatusLine(ZoomPanTilt{1, 2, 3, true, true, true}),
              "Video     Zoom - auto    Pan - auto    Tilt - auto");
}

TEST(CameraControls, ZoomPanTiltComeFromTheirControls) {
    std::vector<CameraControl> controls(4);
    controls[0].id = V4L2_CID_BRIGHTNESS;
    controls[0].value = 99;
    controls[1].id = V4L2_CID_ZOOM_ABSOLUTE;
    controls[1].value = 200;
    controls[2].id = V4L2_CID_PAN_ABSOLUTE;
    controls[2].value = -3600;
    controls[2].inactive = true;
    controls[3].id = V4L2_CID_TILT_ABSOLUTE;
    controls[3].value = 1800;
    const ZoomPanTilt z = ReadZoomPanTilt(controls);
    EXPECT_EQ(z.zoom, 200);
    EXPECT_EQ(z.pan, -3600);
    EXPECT_EQ(z.tilt, 1800);
    EXPECT_FALSE(z.zoomAuto);
    EXPECT_TRUE(z.panAuto);
    EXPECT_FALSE(z.tiltAuto);
}

TEST(CameraControls, FilesThatAreNoCamerasHaveNoControls) {
    EXPECT_TRUE(ListCameraControls("").empty());
    EXPECT_TRUE(ListCameraControls("/dev/null").empty());
    EXPECT_TRUE(ListCameraControls("/nonexistent/video0").empty());
    EXPECT_FALSE(SetCameraControl("/dev/null", V4L2_CID_BRIGHTNESS, 1));
}

TEST_F(Camera, FramesArriveAtTheNegotiatedSize) {
    for (CameraFormat f : {CameraFormat{320, 240, ~0ull}, CameraFormat{640, 360, 333333},
                           CameraFormat{176, 144, 400000}}) {
        SCOPED_TRACE(f.width);
        CameraFailure failure;
        ASSERT_TRUE(capture.Start(kTestCameraRed, f, &failure)) << failure.text;
        ASSERT_TRUE(capture.WaitForFrame(0, 5000));
        BMP_File frame;
        ASSERT_TRUE(capture.CopyFrame(frame));
        EXPECT_EQ(frame.Width(), f.width);
        EXPECT_EQ(frame.Height(), f.height);
        EXPECT_EQ(capture.Width(), f.width);
        // Pure red through the BGRx conversion: red is the first byte here.
        for (int y = 0; y < frame.Height(); y += 7)
            for (int x = 0; x < frame.Width(); x += 5)
                ASSERT_EQ(frame.Pixel(x, y), CColor24(255, 0, 0)) << x << "," << y;
        capture.Stop();
        EXPECT_FALSE(capture.Started());
    }
}

TEST_F(Camera, FreezeKeepsTheLastFrame) {
    CameraFailure failure;
    ASSERT_TRUE(capture.Start(kTestCamera, CameraFormat{320, 240, 333333}, &failure))
        << failure.text;
    ASSERT_TRUE(capture.WaitForFrame(2, 5000));
    capture.SetFrozen(true);
    BMP_File frozen;
    uint64_t seq = 0;
    ASSERT_TRUE(capture.CopyFrame(frozen, &seq));
    ASSERT_TRUE(WaitArrived(capture, 5)) << "the camera stopped";
    BMP_File later;
    uint64_t seqLater = 0;
    ASSERT_TRUE(capture.CopyFrame(later, &seqLater));
    EXPECT_EQ(seqLater, seq);
    EXPECT_TRUE(later.SameAs(frozen));

    capture.SetFrozen(false);
    ASSERT_TRUE(capture.WaitForFrame(seq + 3, 5000));
    ASSERT_TRUE(capture.CopyFrame(later));
    EXPECT_FALSE(later.SameAs(frozen)) << "the ball moves once unfrozen";
}

TEST_F(Camera, StoppedRunningFlagKeepsTheFrameAndStopEndsDelivery) {
    CameraFailure failure;
    ASSERT_TRUE(capture.Start(kTestCamera, CameraFormat{}, &failure)) << failure.text;
    ASSERT_TRUE(capture.WaitForFrame(0, 5000));
    capture.SetRunning(false);
    const uint64_t seq = capture.FramesAccepted();
    ASSERT_TRUE(WaitArrived(capture, 3));
    EXPECT_EQ(capture.FramesAccepted(), seq);
    capture.Stop();
    const uint64_t arrived = capture.FramesArrived();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(capture.FramesArrived(), arrived) << "a frame came after Stop returned";
}

TEST_F(Camera, ReaderNeverSeesHalfAFrame) {
    // Frames are all black and all white in turn, small and fast, while this
    // thread copies as fast as it can: a copy mixing two frames has both.
    CameraFailure failure;
    ASSERT_TRUE(capture.Start(kTestCameraBlink, CameraFormat{640, 480, 10000000 / 240}, &failure))
        << failure.text;
    ASSERT_TRUE(capture.WaitForFrame(0, 5000));
    BMP_File frame;
    int copies = 0, mixed = 0;
    uint64_t last = 0, distinct = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
    while (std::chrono::steady_clock::now() < end) {
        uint64_t seq = 0;
        ASSERT_TRUE(capture.CopyFrame(frame, &seq));
        if (seq != last) ++distinct;
        last = seq;
        ++copies;
        const CColor24 first = frame.Pixel(0, 0);
        const CColor24* p = frame.Data();
        const size_t n = frame.PixelCount();
        for (size_t i = 0; i < n; i += 97)
            if (!(p[i] == first)) {
                ++mixed;
                break;
            }
    }
    EXPECT_EQ(mixed, 0) << "of " << copies << " copies";
    EXPECT_GT(distinct, 20u);
}

TEST(CameraRate, FrequencyChoosesTheFrameRate) {
    int n = 0, d = 0;
    EXPECT_FALSE(CameraFrameRate(~0ull, &n, &d));
    EXPECT_FALSE(CameraFrameRate(0, &n, &d));
    ASSERT_TRUE(CameraFrameRate(333333, &n, &d));
    EXPECT_EQ(n, 30);
    EXPECT_EQ(d, 1);
    ASSERT_TRUE(CameraFrameRate(333667, &n, &d));
    EXPECT_EQ(n, 30000);
    EXPECT_EQ(d, 1001);
    ASSERT_TRUE(CameraFrameRate(400000, &n, &d));
    EXPECT_EQ(n, 25);
    EXPECT_EQ(d, 1);
    ASSERT_TRUE(CameraFrameRate(20000000, &n, &d)); // one frame in two seconds
    EXPECT_DOUBLE_EQ(double(n) / d, 0.5);
}

} // namespace
