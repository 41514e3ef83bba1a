#pragma once
// The frame slider of a loaded video or animated GIF with its "Stop!" button,
// and the video write that runs the frame loop while the window stays
// responsive.

#include "pipeline/pipeline.h"
#include "video/frame_loop.h"

#include <QWidget>

#include <atomic>
#include <functional>

class QPushButton;
class QSlider;

class CVideoBar : public QWidget {
    Q_OBJECT
public:
    explicit CVideoBar(QWidget* parent = nullptr);

    QSlider* Slider() const { return m_slider; }
    QPushButton* StopButton() const { return m_stop; }

    // Shows the slider over frames 0 .. count - 1 at frame 0.
    void ShowFrames(int count);
    void HideFrames();
    // Moves the slider without telling onFrameChosen.
    void SetPosition(int frame);

    // The user moved the slider to a frame.
    std::function<void(int)> onFrameChosen;
    // The user pressed "Stop!".
    std::function<void()> onStop;

private:
    QSlider* m_slider;
    QPushButton* m_stop;
};

// Writes a video: the frame loop runs on a thread of its own while the calling
// (user-interface) thread goes on handling its events, so that the window is
// redrawn and "Stop!" is heard at any time; a 100 ms timer moves the slider to
// the frame being written. The loop reads only what the job holds.
class CVideoWriter {
public:
    struct Job {
        FrameSource* source = nullptr; // not touched by anyone else until Run returns
        ProcessingSettings settings;   // a copy: the window's may change meanwhile
        ViewSize view;
        FrameSinkFactory openOutput;
        // Called on the writing thread as frame i is about to be processed.
        std::function<void(int)> frameHook;
    };

    // Shows "Stop!" and runs the job; returns when the loop has ended.
    FrameLoopResult Run(Job job, CVideoBar* bar);
    // Ends the loop once the frame in progress is written.
    void Stop() { m_stop = true; }
    bool Running() const { return m_running; }
    bool StopRequested() const { return m_stop; }

private:
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_frame{0};
};
