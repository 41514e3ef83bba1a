#pragma once
// "Noise Reduce": filters the main window's original picture with Sarnel and
// writes each result into the main window's noise-reduced picture, which the
// pipeline starts from while "Noise Reduce" is ticked. Filtering is cumulative:
// every Apply filters the library's current planes again.
//
// The library works on a worker thread (CSarnelWorker): Apply returns at once,
// the dialog shows that it is busy, and presses that arrive meanwhile (Apply,
// a colour space, Reset) run after it in their order. Their results come back
// to this thread and only here touch the main window's pictures. OK and
// Cancel wait for the running filter before the dialog closes; Cancel drops
// what has not started yet and ignores the running filter's result.

#include "app/bmp_file.h"
#include "app/noise/noise_filter.h"
#include "pipeline/pipeline.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class CSarnelWorker;
class CSpinEdit;

// One colour space's panel: the group "Value filtering" with a check box per
// channel, all ticked at first. Channels() lists the ticked ones in order.
class CSRModePanel : public QWidget {
    Q_OBJECT
public:
    struct Channel {
        const char* name;
        SR_FilterType channel;
    };
    CSRModePanel(const Channel (&channels)[3], QWidget* parent);
    std::vector<SR_FilterType> Channels() const;
    QCheckBox* Box(int i) const { return m_boxes[i]; }

private:
    QCheckBox* m_boxes[3] = {};
    bool m_on[3] = {true, true, true};
    SR_FilterType m_channels[3] = {};
};

class CSRRgbModeDlg : public CSRModePanel {
    Q_OBJECT
public:
    explicit CSRRgbModeDlg(QWidget* parent = nullptr);
};

class CSRHsvModeDlg : public CSRModePanel {
    Q_OBJECT
public:
    explicit CSRHsvModeDlg(QWidget* parent = nullptr);
};

class CSRLabModeDlg : public CSRModePanel {
    Q_OBJECT
public:
    explicit CSRLabModeDlg(QWidget* parent = nullptr);
};

class CSarnelDlg : public QDialog {
    Q_OBJECT
public:
    // `original` is copied; `noiseReduced` receives every result and must
    // outlive the dialog; `reprocess` runs the pipeline in preview mode.
    CSarnelDlg(const BMP_File& original, BMP_File& noiseReduced, std::function<void()> reprocess,
               QWidget* parent = nullptr);
    ~CSarnelDlg() override;

    // What Apply would hand to the library now.
    SarnelParams Params() const;
    int Mode() const { return m_mode; }
    int Filter() const { return m_filter; }
    bool Applied() const { return m_applied; }
    // Operations posted to the worker whose results have not come back yet.
    bool Busy() const { return m_outstanding > 0; }
    CSRModePanel* Panel(int mode) const { return m_panels[mode]; }
    const CSarnelWorker& Worker() const { return *m_worker; }

public slots:
    void accept() override;
    void reject() override;

private:
    enum class Closing { No, Accept, Reject };

    void BuildUi();
    QWidget* BuildColourSpaces();
    QWidget* BuildSimple();
    QWidget* BuildOrderStatistics();
    QWidget* BuildAdaptive();
    QWidget* BuildReject();
    QWidget* BuildNarrowBand();
    QWidget* BuildWiener();
    QRadioButton* AddFilterButton(const QString& text, const QString& name, int filter);
    void SetStartValues();

    void SetMode(int mode);
    void SetFilter(int filter);
    void Apply();
    void Reset();
    void Recompute();
    void UpdateEnabling();

    // Counts an operation as outstanding and gives the worker a report that
    // runs `then` on this thread.
    std::function<void()> Report(std::function<void()> then);
    std::function<void(std::shared_ptr<BMP_File>)>
    Report(std::function<void(std::shared_ptr<BMP_File>)> then);
    void Reported();
    void ShowBusy();
    void FinishClosing();

    int ApertureWidth() const;
    int ApertureHeight() const;

    BMP_File& m_noiseReduced;
    const BMP_File m_saved; // the noise-reduced picture as it was on opening
    std::function<void()> m_reprocess;
    std::unique_ptr<CSarnelWorker> m_worker;
    const int m_pictureWidth;
    const int m_pictureHeight;

    int m_mode = 0;
    int m_filter = 0;
    bool m_applied = false;
    int m_outstanding = 0;
    Closing m_closing = Closing::No;
    bool m_recomputing = false;

    QRadioButton* m_modeButtons[3] = {};
    CSRModePanel* m_panels[3] = {};
    QButtonGroup* m_filterGroup = nullptr;
    std::vector<std::pair<QRadioButton*, int>> m_filterButtons;

    QSlider* m_apertureWidth = nullptr;
    QLabel* m_apertureWidthValue = nullptr;
    QSlider* m_apertureHeight = nullptr;
    QLabel* m_apertureHeightValue = nullptr;
    QSlider* m_order = nullptr; // contraharmonic Q
    QLabel* m_orderValue = nullptr;
    QSlider* m_percentile = nullptr;
    QSlider* m_truncation = nullptr;
    QLabel* m_truncationValue = nullptr;
    QSlider* m_minAperture = nullptr;
    QLabel* m_minApertureValue = nullptr;
    QSlider* m_maxAperture = nullptr;
    QLabel* m_maxApertureValue = nullptr;
    QSlider* m_noiseDispersion = nullptr;
    QLabel* m_noiseDispersionValue = nullptr;
    QSlider* m_rejectOrder = nullptr;
    QLabel* m_rejectOrderValue = nullptr;
    CSpinEdit* m_rejectD0 = nullptr;
    CSpinEdit* m_rejectW = nullptr;
    QSlider* m_notchOrder = nullptr;
    QLabel* m_notchOrderValue = nullptr;
    CSpinEdit* m_notchD0 = nullptr;
    CSpinEdit* m_notchU0 = nullptr;
    CSpinEdit* m_notchV0 = nullptr;

    // A Wiener value: the real edit Apply reads, and the integer edit with the
    // spin button that holds ten thousand times it.
    struct WienerValue {
        QLineEdit* real = nullptr;
        CSpinEdit* scaled = nullptr;
    };
    WienerValue m_deblur, m_turbulenceNoise, m_moveX, m_moveY, m_motionNoise;

    QPushButton* m_applyButton = nullptr;
    QPushButton* m_resetButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QProgressBar* m_busy = nullptr;
    QLabel* m_busyText = nullptr;
};

// Runs "Noise Reduce" modally on the main window's pictures; does nothing
// while no picture is loaded. Returns the dialog's result.
int OpenSarnelDialog(ImageSet& images, std::function<void()> reprocess, QWidget* parent);
