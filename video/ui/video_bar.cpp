#include "video/ui/video_bar.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include <exception>
#include <new>
#include <thread>

CVideoBar::CVideoBar(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName("frameSlider");
    m_slider->setToolTip("Frame");
    m_slider->setPageStep(1);
    m_stop = new QPushButton("Stop!", this);
    m_stop->setObjectName("stopButton");
    QPalette red = m_stop->palette();
    red.setColor(QPalette::ButtonText, QColor(0xF2, 0x1E, 0x1E));
    m_stop->setPalette(red);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_stop);
    connect(m_slider, &QSlider::valueChanged, this, [this](int frame) {
        if (onFrameChosen) onFrameChosen(frame);
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (onStop) onStop();
    });
    m_stop->hide();
    hide();
}

void CVideoBar::ShowFrames(int count) {
    {
        const QSignalBlocker quiet(m_slider);
        m_slider->setRange(0, std::max(0, count - 1));
        m_slider->setValue(0);
    }
    m_slider->setEnabled(true);
    show();
}

void CVideoBar::HideFrames() {
    hide();
}

void CVideoBar::SetPosition(int frame) {
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(frame);
}

FrameLoopResult CVideoWriter::Run(Job job, CVideoBar* bar) {
    FrameLoopResult result;
    if (!job.source || m_running) {
        result.error = "no video is loaded";
        return result;
    }
    m_running = true;
    m_stop = false;
    m_frame = 0;
    const bool sliderWasEnabled = bar->Slider()->isEnabled();
    bar->Slider()->setEnabled(false); // it shows the frame being written
    bar->StopButton()->show();

    QEventLoop loop;
    std::atomic<bool> done{false};
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        bar->SetPosition(m_frame);
        if (done) loop.quit();
    });
    std::thread worker([&] {
        try {
            result = RunFrameLoop(*job.source, job.settings, job.view, job.openOutput, [&](int i) {
                m_frame = i;
                if (job.frameHook) job.frameHook(i);
                return !m_stop.load();
            });
        } catch (const std::bad_alloc&) {
            result.error = "not enough memory to write the video";
        } catch (const std::exception& e) {
            result.error = e.what();
        }
        done = true;
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    timer.start();
    loop.exec();
    // The event loop may also end because the program is quitting: the loop is
    // then asked to stop, and its output is closed before anything goes away.
    if (!done) m_stop = true;
    worker.join();
    timer.stop();

    bar->SetPosition(m_frame);
    bar->StopButton()->hide();
    bar->Slider()->setEnabled(sliderWasEnabled);
    m_running = false;
    return result;
}
