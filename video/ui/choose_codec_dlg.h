#pragma once
// "Choose codec": the encoders that can write an AVI file on this machine, with
// quality, key-frame interval and data rate.

#include "video/frame_source.h"

#include <QDialog>

class QCheckBox;
class QListWidget;
class QSpinBox;

class CChooseCodecDlg : public QDialog {
    Q_OBJECT
public:
    // Starts from `initial` (its encoder selected when it is listed, else the
    // first one).
    explicit CChooseCodecDlg(const AviCodecOptions& initial, QWidget* parent = nullptr);

    // What the controls say now.
    AviCodecOptions Options() const;

    QListWidget* EncoderList() const { return m_list; }
    QSpinBox* Quality() const { return m_quality; }
    QCheckBox* KeyFrames() const { return m_keyFrames; }
    QSpinBox* KeyFrameInterval() const { return m_keyFrameInterval; }
    QCheckBox* DataRate() const { return m_dataRate; }
    QSpinBox* KilobytesPerSecond() const { return m_kilobytes; }

private:
    void UpdateControls();

    QListWidget* m_list;
    QSpinBox* m_quality;
    QCheckBox* m_keyFrames;
    QSpinBox* m_keyFrameInterval;
    QCheckBox* m_dataRate;
    QSpinBox* m_kilobytes;
    class QPushButton* m_ok;
};

// Shows the dialog; on OK stores the choice in `options` and returns true.
bool ChooseAviCodec(QWidget* parent, AviCodecOptions& options);
