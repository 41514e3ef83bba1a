#pragma once
// The scanning dialogs: the scan itself on a worker thread behind a progress
// dialog, "Select TWAIN And Video Sources" and "TWAIN Settings...".

#include "devices/twain_utils.h"

#include <QDialog>
#include <QString>

#include <map>
#include <memory>

class QComboBox;
class QVBoxLayout;

// Scans one page into `image`. The page is read on a worker thread while a
// progress dialog shows the lines read; its Cancel ends the scan quietly. A
// failure is shown in a "Scan Error" box.
ScanNowResult RunScanWithProgress(QWidget* parent, ScanState& state, BMP_File& image);

// Deletes the scan values kept in the user's settings ("ScanSettings").
void ClearStoredScanSettings();

class CTwainSourcesDlg : public QDialog {
    Q_OBJECT
public:
    // `scanner` and `camera` are the chosen names, changed on OK; a changed
    // scanner clears the scan area and options of `scan`.
    CTwainSourcesDlg(QString& scanner, QString& camera, ScanState& scan, QWidget* parent = nullptr);
    void accept() override;
    QComboBox* Scanners() const { return m_scanners; }
    QComboBox* Cameras() const { return m_cameras; }

private:
    QString& m_scanner;
    QString& m_camera;
    ScanState& m_scan;
    QComboBox* m_scanners = nullptr;
    QComboBox* m_cameras = nullptr;
};

class CTwainSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the state's source; Opened() is false (and the reason was shown)
    // when it cannot be.
    CTwainSettingsDlg(ScanState& state, QWidget* parent = nullptr);
    ~CTwainSettingsDlg() override;
    bool Opened() const { return m_opened; }
    // The values changed here become the ones every scan sets again.
    void accept() override;
    // The control of an option, by its name (null when it has none).
    QWidget* Editor(const QString& name) const;

private:
    void Rebuild();
    void Change(const std::string& name, const std::string& value);

    ScanState& m_state;
    std::unique_ptr<CScanLibrary> m_lib;
    bool m_opened = false;
    ScanOptionValues m_changes;
    QVBoxLayout* m_body = nullptr;
    QWidget* m_page = nullptr;
    std::map<QString, QWidget*> m_editors;
};
