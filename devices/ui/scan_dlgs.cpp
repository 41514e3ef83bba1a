#include "devices/ui/scan_dlgs.h"

#include "devices/camera_capture.h"
#include "devices/twain_errors.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <cmath>
#include <thread>

ScanNowResult RunScanWithProgress(QWidget* parent, ScanState& state, BMP_File& image) {
    // A folder of our own inside the user's temporary folder: the scan file
    // never lands in the current folder, and no other program's file of the
    // same name is touched.
    QTemporaryDir folder(QDir::tempPath() + "/pellorin-scan-XXXXXX");
    if (!folder.isValid()) {
        QMessageBox::critical(
            parent, "Scan Error",
            QString::fromStdString(TwainErrorText(twain_error::kCannotCreateFile)));
        return ScanNowResult::Failed;
    }
    ScanProgress progress;
    std::atomic<bool> done{false};
    ScanState work = state;
    BMP_File page;
    std::string message;
    ScanNowResult result = ScanNowResult::Failed;
    std::thread worker([&] {
        try {
            result = ScanNow(work, folder.path().toStdString(), page, &message, &progress);
        } catch (const std::exception&) {
            // Only memory can run out here; the scan fails, the program stays.
            result = ScanNowResult::Failed;
            message = TwainErrorText(twain_error::kNoMemory);
        }
        done = true;
    });

    QProgressDialog dlg("Scanning...", "Cancel", 0, 0, parent);
    dlg.setObjectName("scanProgress");
    dlg.setWindowTitle("Scan Now");
    dlg.setAutoClose(false);
    dlg.setAutoReset(false);
    dlg.setMinimumDuration(0);
    dlg.setWindowModality(Qt::ApplicationModal);
    QObject::connect(&dlg, &QProgressDialog::canceled, [&] {
        progress.cancel = true;
        dlg.setLabelText("Cancelling...");
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(30);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done) {
            loop.quit();
            return;
        }
        const int total = progress.linesTotal, read = progress.linesRead;
        if (total > 0 && dlg.maximum() != total) dlg.setRange(0, total);
        if (total > 0) dlg.setValue(std::min(read, total));
        if (!progress.cancel) dlg.setLabelText(QString("Scanning... %1 lines read").arg(read));
    });
    poll.start();
    dlg.show();
    // The worker checks the cancel request between reads, so it always ends.
    if (!done) loop.exec();
    worker.join();
    poll.stop();
    dlg.hide();

    // The area, counter and options the scan settled are the run's from now.
    state = work;
    if (result == ScanNowResult::Done) image = std::move(page);
    if (result == ScanNowResult::Failed)
        QMessageBox::critical(parent, "Scan Error", QString::fromStdString(message));
    return result;
}

void ClearStoredScanSettings() {
    QSettings s("Quorvel", "Pellorin");
    s.beginGroup("ScanSettings");
    for (const char* key : {"Scan Rect Left", "Scan Rect Top", "Scan Rect Right",
                            "Scan Rect Bottom", "Scan X Resolution", "Scan Y Resolution"})
        s.remove(key);
    s.endGroup();
    s.sync();
}

// ---------------------------------------------------------------------------

CTwainSourcesDlg::CTwainSourcesDlg(QString& scanner, QString& camera, ScanState& scan,
                                   QWidget* parent)
    : QDialog(parent), m_scanner(scanner), m_camera(camera), m_scan(scan) {
    setWindowTitle("Select TWAIN And Video Sources");
    auto* top = new QVBoxLayout(this);
    auto* scanBox = new QGroupBox("Scanner", this);
    auto* scanForm = new QFormLayout(scanBox);
    m_scanners = new QComboBox(scanBox);
    scanForm->addRow("TWAIN Source", m_scanners);
    auto* camBox = new QGroupBox("Camera", this);
    auto* camForm = new QFormLayout(camBox);
    m_cameras = new QComboBox(camBox);
    camForm->addRow("Direct Show Source (for video preview)", m_cameras);
    top->addWidget(scanBox);
    top->addWidget(camBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);

    {
        CScanLibrary lib;
        std::vector<std::string> names;
        lib.ListSources(&names); // none listed: the box stays empty
        for (const auto& n : names) m_scanners->addItem(QString::fromStdString(n));
    }
    for (const auto& n : ListCameras()) m_cameras->addItem(QString::fromStdString(n));
    m_scanners->setCurrentIndex(m_scanners->findText(m_scanner));
    m_cameras->setCurrentIndex(m_cameras->findText(m_camera));
}

void CTwainSourcesDlg::accept() {
    QString scanner, camera;
    if (m_scanners->currentIndex() < 0) {
        if (QMessageBox::warning(this, "Warning",
                                 "Scanner TWAIN Source was not selected. Continue anyway?",
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
    } else {
        scanner = m_scanners->currentText();
    }
    if (m_cameras->currentIndex() < 0) {
        if (QMessageBox::warning(this, "Warning",
                                 "Camera Direct Show Source was not selected. Continue anyway?",
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
    } else {
        camera = m_cameras->currentText();
    }
    if (!scanner.isEmpty() && scanner != m_scanner) {
        // The area and the settings belonged to the other source.
        m_scan.areaSet = false;
        m_scan.options.clear();
        ClearStoredScanSettings();
    }
    m_scanner = scanner;
    m_scan.source = scanner.toStdString();
    m_camera = camera;
    QDialog::accept();
}

// ---------------------------------------------------------------------------

namespace {

bool IsGeometry(const std::string& name) {
    // The scan area decides these.
    return name == "tl-x" || name == "tl-y" || name == "br-x" || name == "br-y";
}

QString Number(double v, ScanOption::Kind kind) {
    return kind == ScanOption::Fixed ? QString::number(v, 'f', 4) : QString::number(std::lround(v));
}

} // namespace

CTwainSettingsDlg::CTwainSettingsDlg(ScanState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_lib(std::make_unique<CScanLibrary>()) {
    setWindowTitle("TWAIN Settings");
    auto* top = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    m_page = new QWidget;
    m_body = new QVBoxLayout(m_page);
    scroll->setWidget(m_page);
    top->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);
    resize(460, 520);

    CTwainUtils twain(*m_lib);
    try {
        twain.OpenSource(state.source);
        twain.PrepareSource(state.options);
        m_opened = true;
    } catch (const CTwainException& e) {
        QMessageBox::critical(parent, "Scan Error", e.what());
        return;
    }
    m_changes = state.options;
    Rebuild();
}

CTwainSettingsDlg::~CTwainSettingsDlg() = default;

QWidget* CTwainSettingsDlg::Editor(const QString& name) const {
    const auto it = m_editors.find(name);
    return it == m_editors.end() ? nullptr : it->second;
}

void CTwainSettingsDlg::accept() {
    m_state.options = m_changes;
    QDialog::accept();
}

void CTwainSettingsDlg::Change(const std::string& name, const std::string& value) {
    bool reload = false;
    if (const int e = m_lib->SetOption(name, value, &reload)) {
        QMessageBox::critical(
            this, "Scan Error",
            QString::fromStdString(TwainErrorText(e, m_lib->LastExtendedError())));
        reload = true; // show the device's value again
    } else {
        // The latest value of an option counts, after the ones it may depend on.
        std::erase_if(m_changes, [&](const auto& c) { return c.first == name; });
        m_changes.emplace_back(name, value);
    }
    // The device may round a value or change other options with it; the
    // controls show what it holds. Rebuilt once the signal has returned.
    QTimer::singleShot(0, this, [this] { Rebuild(); });
    (void)reload;
}

void CTwainSettingsDlg::Rebuild() {
    std::vector<ScanOption> options;
    m_lib->ListOptions(&options);
    // Clear the previous controls.
    m_editors.clear();
    while (QLayoutItem* item = m_body->takeAt(0)) {
        if (QWidget* w = item->widget()) w->deleteLater();
        delete item;
    }
    QGroupBox* group = nullptr;
    QFormLayout* form = nullptr;
    auto ensureGroup = [&](const QString& title) {
        group = new QGroupBox(title, m_page);
        form = new QFormLayout(group);
        m_body->addWidget(group);
    };
    for (const ScanOption& o : options) {
        if (o.kind == ScanOption::Group) {
            ensureGroup(QString::fromStdString(o.title));
            continue;
        }
        if (o.name.empty() || IsGeometry(o.name)) continue;
        if (!group) ensureGroup("Options");
        const QString title = QString::fromStdString(o.title) +
                              (o.unit.empty() ? "" : " (" + QString::fromStdString(o.unit) + ")");
        const std::string name = o.name;
        QWidget* editor = nullptr;
        if (o.kind == ScanOption::Bool) {
            auto* c = new QCheckBox(group);
            c->setChecked(o.number != 0);
            connect(c, &QCheckBox::toggled, this,
                    [this, name](bool on) { Change(name, on ? "1" : "0"); });
            editor = c;
        } else if (o.kind == ScanOption::Button) {
            auto* b = new QPushButton(QString::fromStdString(o.title), group);
            connect(b, &QPushButton::clicked, this, [this, name] { Change(name, ""); });
            editor = b;
        } else if (o.limit == ScanOption::StringList || o.limit == ScanOption::WordList) {
            auto* c = new QComboBox(group);
            if (o.limit == ScanOption::StringList) {
                for (const auto& s : o.strings) c->addItem(QString::fromStdString(s));
                c->setCurrentIndex(c->findText(QString::fromStdString(o.text)));
            } else {
                for (double w : o.words) c->addItem(Number(w, o.kind));
                c->setCurrentIndex(c->findText(Number(o.number, o.kind)));
            }
            connect(c, &QComboBox::textActivated, this,
                    [this, name](const QString& t) { Change(name, t.toStdString()); });
            editor = c;
        } else if (o.kind == ScanOption::String) {
            auto* e = new QLineEdit(QString::fromStdString(o.text), group);
            connect(e, &QLineEdit::editingFinished, this,
                    [this, name, e] { Change(name, e->text().toStdString()); });
            editor = e;
        } else if (o.kind == ScanOption::Int) {
            auto* s = new QSpinBox(group);
            s->setRange(o.limit == ScanOption::Range ? int(o.min) : -1000000000,
                        o.limit == ScanOption::Range ? int(o.max) : 1000000000);
            if (o.quant > 0) s->setSingleStep(int(o.quant));
            s->setValue(int(o.number));
            s->setKeyboardTracking(false);
            connect(s, &QSpinBox::valueChanged, this,
                    [this, name](int v) { Change(name, std::to_string(v)); });
            editor = s;
        } else {
            auto* s = new QDoubleSpinBox(group);
            s->setDecimals(4);
            s->setRange(o.limit == ScanOption::Range ? o.min : -1e9,
                        o.limit == ScanOption::Range ? o.max : 1e9);
            if (o.quant > 0) s->setSingleStep(o.quant);
            s->setValue(o.number);
            s->setKeyboardTracking(false);
            connect(s, &QDoubleSpinBox::valueChanged, this, [this, name](double v) {
                Change(name, QString::number(v, 'f', 4).toStdString());
            });
            editor = s;
        }
        editor->setObjectName(QString::fromStdString(o.name));
        editor->setToolTip(QString::fromStdString(o.description));
        editor->setEnabled(o.active && o.settable);
        form->addRow(title, editor);
        m_editors[QString::fromStdString(o.name)] = editor;
    }
    m_body->addStretch();
}
