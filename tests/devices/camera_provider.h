#pragma once
// Cameras that only tests see: a GStreamer device provider, registered inside
// the test process, whose devices are videotestsrc. The capture code finds them
// through the device monitor by display name, as it finds real cameras.

// "Pellorin Test Camera": a moving ball, so that successive frames differ.
constexpr const char* kTestCamera = "Pellorin Test Camera";
// "Pellorin Test Camera Red": every pixel pure red.
constexpr const char* kTestCameraRed = "Pellorin Test Camera Red";

// "Pellorin Test Camera Blink": frames all black and all white in turn.
constexpr const char* kTestCameraBlink = "Pellorin Test Camera Blink";

// "Pellorin Test Camera Broken": its source element cannot be made.
constexpr const char* kTestCameraBroken = "Pellorin Test Camera Broken";
// "Pellorin Test Camera Unplugged": a V4L2 camera whose device file is gone.
constexpr const char* kTestCameraUnplugged = "Pellorin Test Camera Unplugged";

// Registers the provider once per process (starts GStreamer if needed).
bool RegisterTestCameras();
