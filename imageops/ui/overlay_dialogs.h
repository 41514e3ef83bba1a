#pragma once
// Settings dialogs of the overlays and noise: "Set Noise", "RGB Noise",
// "Mosaic Setting", "Select Mask" and "Set Border". Each writes the settings
// record of its host and reruns the preview after every change; the Open
// functions run them modally for the main window.

#include "app/bmp_file.h"
#include "imageops/ui/dialog_host.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QSlider;
class QSpinBox;

void OpenNoiseDialog(CDialogHost& host, QWidget* parent);
void OpenRGBNoiseDialog(CDialogHost& host, QWidget* parent);
void OpenMosaicDialog(CDialogHost& host, QWidget* parent);
void OpenMaskDialog(CDialogHost& host, QWidget* parent);
void OpenBorderDialog(CDialogHost& host, QWidget* parent);

// Where the dialogs' messages go. The default shows a warning box over the
// dialog; tests replace it. Passing an empty function restores the default.
using OverlayMessageSink =
    std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
void SetOverlayMessageSink(OverlayMessageSink sink);
void ShowOverlayMessage(QWidget* parent, const QString& caption, const QString& text);

// "Set Noise": one slider "Strength" 0..100. Cancel restores the opening value.
class CSetNoiseDlg : public QDialog {
public:
    CSetNoiseDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    int opening_;
    QSlider* strength_;
};

// "RGB Noise": three sliders with "%d%%" labels and "Lock", which makes them
// move together. Cancel restores the opening values.
class CRGBNoiseDlg : public QDialog {
public:
    CRGBNoiseDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    void Moved(int channel, int value);
    void Store();

    CDialogHost& host_;
    int opening_[3];
    QSlider* sliders_[3];
    QLabel* values_[3];
    QCheckBox* lock_;
    bool syncing_ = false;
};

// "Mosaic Setting": slider "Size:" 1..120 for cell sizes 2..121.
class CMosaicSettingDlg : public QDialog {
public:
    CMosaicSettingDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    int opening_;
    QSlider* size_;
    QLabel* value_;
};

// "Select Mask": the pictures of the Masks folders, "Invert" and "Opacity:".
class CSelectMaskDlg : public QDialog {
public:
    CSelectMaskDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;
    // Reports a missing folder or an empty one; called once the dialog shows.
    void ReportFolderProblems();

private:
    void Choose(int row);

    CDialogHost& host_;
    std::string openingName_;
    int openingInvert_;
    float openingOpacity_;
    std::vector<std::string> paths_;
    bool folderFound_ = false;
    QListWidget* list_;
    QCheckBox* invert_;
    QSlider* opacity_;
    QLabel* opacityValue_;
    QLabel* preview_;
};

// "Set Border": the pictures of the border folders, the picture's size, the
// placement ("How to draw border?") and "Border thickness:".
class CSetBorderDlg : public QDialog {
public:
    CSetBorderDlg(CDialogHost& host, QWidget* parent = nullptr);
    void ReportFolderProblems();

    // The thickness the dialog proposes while none is set.
    static constexpr int kDefaultThickness = 10;

private:
    void Choose(int row);
    void StorePlacement();

    CDialogHost& host_;
    std::vector<std::string> paths_;
    bool folderFound_ = false;
    QListWidget* list_;
    QLabel* size_;
    QRadioButton* modes_[3];
    QSpinBox* thickness_;
    QLabel* preview_;
};
