#pragma once
// "WEB Camera...": the live preview of the chosen camera, with Freeze, the
// camera's controls, and "Save and Exit" that hands the frame back as the new
// original picture.

#include "devices/camera_capture.h"
#include "devices/v4l2_controls.h"

#include <QDialog>
#include <QImage>

#include <atomic>

class QLabel;
class QPushButton;

// The preview area: the frame, in a 2-pixel border.
class CCameraPreview : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void SetFrame(const BMP_File& frame);
    const QImage& Image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage m_image;
};

class CWebCameraDlg : public QDialog {
    Q_OBJECT
public:
    // `format` holds the size and rate to ask of the camera; "Pin..." may
    // change it (the caller keeps it in the user's settings).
    CWebCameraDlg(const QString& camera, CameraFormat& format, QWidget* parent = nullptr);
    ~CWebCameraDlg() override;

    // Shows the failure of the start, if any, once the dialog is up.
    int exec() override;

    // The frame taken by "Save and Exit" (empty otherwise).
    const BMP_File& Result() const { return m_result; }
    const CCameraCapture& Capture() const { return m_capture; }
    bool Previewing() const { return m_capture.Started(); }
    int FramesShown() const { return m_shown; }
    QString StatusLine() const;
    const QString& Failure() const { return m_failure; }

    void OnExit();
    void OnFreeze();
    void OnSaveAndExit();
    // Closing is "Exit".
    void reject() override;

private:
    void StartCapture();
    void ShowFrame();
    void LayOut(int w, int h);
    void RefreshStatus();
    void OpenControls(bool cameraClass, const QString& title);
    void OpenFormat();

    QString m_camera;
    CameraFormat& m_format;
    CCameraCapture m_capture;
    CCameraPreview* m_preview = nullptr;
    QPushButton* m_exit = nullptr;
    QPushButton* m_freeze = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_setup = nullptr;
    QPushButton* m_pin = nullptr;
    QPushButton* m_filter = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_errors = nullptr;
    BMP_File m_frame;
    BMP_File m_result;
    QString m_failure, m_failureCaption;
    std::atomic<bool> m_framePending{false};
    int m_shown = 0;
    bool m_firstFrame = false;
};
