// The acquisition flows as a user drives them: choosing sources, "Scan Now..."
// with its progress dialog, cancel and errors, "TWAIN Settings...", and the
// web camera dialog with its messages, Freeze and "Save and Exit".

#include "app/ui/pellorin_dlg.h"
#include "devices/ui/scan_dlgs.h"
#include "devices/ui/web_camera_dlg.h"
#include "tests/app_ui/ui_test_util.h"
#include "tests/devices/camera_provider.h"
#include "tests/devices/sane_test_config.h"

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "devices_ui_tests";
    static char* argv[] = {name, nullptr};
    // The settings live in the configuration folder of this process alone
    // (private_config_home.cpp); Qt's test mode would share one folder among
    // all test processes, and the tests here clear it.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Closes every message box that comes up and keeps its caption and text, so
// that a box a test does not expect is seen and cannot block the run.
class MessageBoxes {
public:
    MessageBoxes() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen.push_back(box->windowTitle() + ": " + box->text());
                if (answerYes && box->button(QMessageBox::Yes))
                    box->button(QMessageBox::Yes)->click();
                else if (box->button(QMessageBox::No))
                    box->button(QMessageBox::No)->click();
                else
                    box->close();
            }
        });
        m_timer.start();
    }
    QStringList seen;
    bool answerYes = false;

private:
    QTimer m_timer;
};

template <class F> bool WaitFor(F done, int ms = 5000) {
    return QTest::qWaitFor(done, ms);
}

class DeviceDialogs : public ::testing::Test {
protected:
    SaneTestConfig sane;
    std::unique_ptr<CPellorinDlg> dlg;

    void SetUp() override {
        App();
        ASSERT_TRUE(RegisterTestCameras());
        QSettings("Quorvel", "Pellorin").clear();
        dlg = std::make_unique<CPellorinDlg>();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    void TearDown() override { dlg.reset(); }
    QPushButton* Button(const QString& text) const {
        for (auto* b : dlg->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
};

TEST_F(DeviceDialogs, ButtonsNeedAChosenSource) {
    ASSERT_TRUE(Button("Scan Now..."));
    EXPECT_FALSE(Button("Scan Now...")->isEnabled());
    EXPECT_FALSE(Button("TWAIN Settings...")->isEnabled());
    EXPECT_FALSE(Button("WEB Camera...")->isEnabled());
    WithNextModal<CTwainSourcesDlg>([](CTwainSourcesDlg* s) {
        s->Scanners()->setCurrentIndex(s->Scanners()->findText("test:0"));
        s->Cameras()->setCurrentIndex(s->Cameras()->findText(kTestCamera));
        s->accept();
    });
    Button("Select TWAIN And Video Sources...")->click();
    EXPECT_EQ(dlg->Devices().scannerSource, "test:0");
    EXPECT_EQ(dlg->Devices().cameraSource, kTestCamera);
    EXPECT_TRUE(Button("Scan Now...")->isEnabled());
    EXPECT_TRUE(Button("TWAIN Settings...")->isEnabled());
    EXPECT_TRUE(Button("WEB Camera...")->isEnabled());
}

TEST_F(DeviceDialogs, ChangedScannerClearsTheAreaAndTheStoredScanSettings) {
    QString scanner = "test:0", camera;
    ScanState scan;
    scan.areaSet = true;
    scan.area = ScanArea{0, 0, 1000, 1000};
    scan.options = {{"mode", "Gray"}};
    {
        QSettings s("Quorvel", "Pellorin");
        s.setValue("ScanSettings/Scan Rect Left", 5);
        s.setValue("ScanSettings/Scan X Resolution", 300);
        s.setValue("ScanSettings/Something Else", 1); // not ours to delete
    }
    MessageBoxes boxes;
    boxes.answerYes = true; // no camera is chosen: continue
    {
        CTwainSourcesDlg same(scanner, camera, scan);
        EXPECT_NE(same.Scanners()->findText("test:0"), -1);
        EXPECT_NE(same.Cameras()->findText(kTestCamera), -1);
        EXPECT_EQ(same.Scanners()->currentText(), "test:0");
        same.accept();
        EXPECT_EQ(same.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(scan.areaSet) << "the same scanner keeps its area";
    EXPECT_EQ(scan.options.size(), 1u);
    EXPECT_TRUE(QSettings("Quorvel", "Pellorin").contains("ScanSettings/Scan Rect Left"));

    CTwainSourcesDlg other(scanner, camera, scan);
    other.Scanners()->setCurrentIndex(other.Scanners()->findText("test:1"));
    other.accept();
    EXPECT_EQ(scanner, "test:1");
    EXPECT_FALSE(scan.areaSet);
    EXPECT_TRUE(scan.options.empty());
    QSettings s("Quorvel", "Pellorin");
    EXPECT_FALSE(s.contains("ScanSettings/Scan Rect Left"));
    EXPECT_FALSE(s.contains("ScanSettings/Scan X Resolution"));
    EXPECT_TRUE(s.contains("ScanSettings/Something Else"));
}

TEST_F(DeviceDialogs, MissingChoicesAreAskedAbout) {
    QString scanner = "test:0", camera = kTestCamera;
    ScanState scan;
    CTwainSourcesDlg dlgSources(scanner, camera, scan);
    dlgSources.Scanners()->setCurrentIndex(-1);
    MessageBoxes boxes;
    dlgSources.accept(); // answered No
    ASSERT_EQ(boxes.seen.size(), 1);
    EXPECT_EQ(boxes.seen[0], "Warning: Scanner TWAIN Source was not selected. Continue anyway?");
    EXPECT_NE(dlgSources.result(), QDialog::Accepted);
    EXPECT_EQ(scanner, "test:0");

    boxes.answerYes = true;
    dlgSources.Cameras()->setCurrentIndex(-1);
    dlgSources.accept();
    ASSERT_EQ(boxes.seen.size(), 3);
    EXPECT_EQ(boxes.seen[2],
              "Warning: Camera Direct Show Source was not selected. Continue anyway?");
    EXPECT_EQ(dlgSources.result(), QDialog::Accepted);
    EXPECT_EQ(scanner, "");
    EXPECT_EQ(camera, "");
}

TEST_F(DeviceDialogs, ScanNowMakesTheGridTheNewOriginal) {
    const auto cwdBefore = fs::current_path();
    dlg->Devices().scannerSource = "test:0";
    dlg->Scanning().areaSet = true;
    dlg->Scanning().area = ScanArea{0, 0, 30000, 20000};
    dlg->Scanning().options = {{"resolution", "254"}};
    MessageBoxes boxes;
    ASSERT_TRUE(dlg->ScanNow());
    EXPECT_TRUE(boxes.seen.isEmpty()) << boxes.seen.join("\n").toStdString();
    const BMP_File& img = dlg->Images().original;
    ASSERT_EQ(img.Width(), 300);
    ASSERT_EQ(img.Height(), 200);
    EXPECT_EQ(img.Pixel(50, 50), CColor24(255, 255, 255));
    EXPECT_EQ(img.Pixel(150, 50), CColor24(0, 0, 0));
    EXPECT_EQ(img.Pixel(150, 150), CColor24(255, 255, 255));
    EXPECT_EQ(dlg->Scanning().counter, 1u);
    EXPECT_TRUE(dlg->CurrentFile().isEmpty());
    EXPECT_FALSE(Button("&Save")->isEnabled());
    EXPECT_TRUE(Button("Save &As...")->isEnabled());
    EXPECT_FALSE(fs::exists(cwdBefore / "tmpImg0.bmp"));
}

TEST_F(DeviceDialogs, CancelledScanReturnsQuietly) {
    dlg->Devices().scannerSource = "test:0";
    BMP_File before;
    before.Create(7, 5);
    dlg->InstallAcquired(before);
    dlg->Scanning().options = {{"resolution", "300"},
                               {"read-limit", "1"},
                               {"read-limit-size", "4096"},
                               {"read-delay", "1"},
                               {"read-delay-duration", "20000"}};
    MessageBoxes boxes;
    QString label;
    WithNextModal<QProgressDialog>([&label](QProgressDialog* p) {
        EXPECT_TRUE(QTest::qWaitFor(
            [p] {
                return p->labelText().contains("lines read") &&
                       !p->labelText().contains(" 0 lines");
            },
            5000));
        label = p->labelText();
        auto* cancel = p->findChild<QPushButton*>();
        ASSERT_TRUE(cancel);
        EXPECT_EQ(cancel->text(), "Cancel");
        cancel->click();
    });
    EXPECT_FALSE(dlg->ScanNow());
    EXPECT_TRUE(label.startsWith("Scanning... ")) << label.toStdString();
    EXPECT_TRUE(boxes.seen.isEmpty()) << boxes.seen.join("\n").toStdString();
    EXPECT_EQ(dlg->Scanning().counter, 0u);
    EXPECT_EQ(dlg->Images().original.Width(), 7);
}

TEST_F(DeviceDialogs, ScanFailuresShowAScanErrorBox) {
    dlg->Devices().scannerSource = "test:0";
    BMP_File before;
    before.Create(7, 5);
    dlg->InstallAcquired(before);
    MessageBoxes boxes;
    dlg->Scanning().options = {{"read-return-value", "SANE_STATUS_JAMMED"}};
    EXPECT_FALSE(dlg->ScanNow());
    dlg->Scanning().options.clear();
    dlg->Scanning().areaSet = true;
    dlg->Scanning().area = ScanArea{0, 0, 0, 0};
    EXPECT_FALSE(dlg->ScanNow());
    ASSERT_EQ(boxes.seen.size(), 2);
    EXPECT_EQ(boxes.seen[0], "Scan Error: Paper could not be unloaded");
    EXPECT_EQ(boxes.seen[1],
              "Scan Error: Could not get image because scan area width(height) too small !");
    EXPECT_EQ(dlg->Images().original.Width(), 7);
    EXPECT_EQ(dlg->Scanning().counter, 0u);
}

TEST_F(DeviceDialogs, TwainSettingsChangeWhatTheScannerDelivers) {
    dlg->Devices().scannerSource = "test:0";
    WithNextModal<CTwainSettingsDlg>([](CTwainSettingsDlg* s) {
        auto* picture = qobject_cast<QComboBox*>(s->Editor("test-picture"));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->currentText(), "Grid");
        ASSERT_NE(picture->findText("Solid white"), -1);
        picture->setCurrentIndex(picture->findText("Solid white"));
        emit picture->textActivated("Solid white");
        QTest::qWait(50); // the controls are rebuilt from the device
        auto* again = qobject_cast<QComboBox*>(s->Editor("test-picture"));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->currentText(), "Solid white");
        EXPECT_TRUE(s->Editor("mode"));
        EXPECT_TRUE(s->Editor("resolution"));
        EXPECT_FALSE(s->Editor("br-x")) << "the scan area decides the geometry";
        s->accept();
    });
    ASSERT_TRUE(dlg->OpenTwainSettings());
    ASSERT_EQ(dlg->Scanning().options.size(), 1u);
    EXPECT_EQ(dlg->Scanning().options[0],
              (std::pair<std::string, std::string>{"test-picture", "Solid white"}));
    MessageBoxes boxes;
    ASSERT_TRUE(dlg->ScanNow());
    const BMP_File& img = dlg->Images().original;
    ASSERT_FALSE(img.Empty());
    for (int y = 0; y < img.Height(); y += 9)
        for (int x = 0; x < img.Width(); x += 9)
            ASSERT_EQ(img.Pixel(x, y), CColor24(255, 255, 255));

    // A source that is not there: the box, and no dialog.
    dlg->Devices().scannerSource = "test:9";
    EXPECT_FALSE(dlg->OpenTwainSettings());
    ASSERT_EQ(boxes.seen.size(), 1);
    EXPECT_EQ(boxes.seen[0], "Scan Error: Could not open TWAIN Data Source");
}

// Runs the camera dialog; `act` gets it once it is up and must close it.
int RunCamera(CWebCameraDlg& cam, std::function<void(CWebCameraDlg*)> act) {
    WithNextModal<CWebCameraDlg>(std::move(act));
    return cam.exec();
}

TEST_F(DeviceDialogs, CameraMessagesLeaveAWorkingExit) {
    for (const auto& [name, text] :
         {std::pair<QString, QString>{"", "Error: Camera Direct Show Source was not selected!"},
          std::pair<QString, QString>{
              "No Such Camera",
              "Error: Camera Direct Show Source \"No Such Camera\" was not found!"}}) {
        CameraFormat format;
        CWebCameraDlg cam(name, format, dlg.get());
        MessageBoxes boxes;
        const int result = RunCamera(cam, [&boxes](CWebCameraDlg* c) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.isEmpty(); }, 3000));
            EXPECT_FALSE(c->Previewing());
            auto* exit = c->findChild<QPushButton*>();
            for (auto* b : c->findChildren<QPushButton*>())
                if (b->text() == "Exit") exit = b;
            exit->click();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        ASSERT_EQ(boxes.seen.size(), 1);
        EXPECT_EQ(boxes.seen[0], text);
        EXPECT_TRUE(cam.Result().Empty());
    }
}

TEST_F(DeviceDialogs, CameraShowsFramesOfTheNegotiatedSize) {
    CameraFormat format{176, 144, ~0ull};
    CWebCameraDlg cam(kTestCameraRed, format, dlg.get());
    RunCamera(cam, [](CWebCameraDlg* c) {
        ASSERT_TRUE(QTest::qWaitFor([c] { return c->FramesShown() >= 2; }, 5000));
        EXPECT_EQ(c->Capture().Width(), 176);
        EXPECT_EQ(c->Capture().Height(), 144);
        auto* preview = c->findChild<CCameraPreview*>();
        ASSERT_TRUE(preview);
        EXPECT_EQ(preview->Image().size(), QSize(176, 144));
        EXPECT_EQ(preview->Image().pixelColor(10, 10), QColor(255, 0, 0));
        EXPECT_EQ(preview->geometry(), QRect(5, 5, 180, 148));
        EXPECT_EQ(c->StatusLine(), "Video     Zoom 0%    Pan 0    Tilt 0");
        c->OnExit();
    });
    EXPECT_FALSE(cam.Previewing());
}

TEST_F(DeviceDialogs, FrozenFrameIsTheOneSaveAndExitTakes) {
    dlg->Devices().cameraSource = kTestCamera;
    dlg->Devices().webCameraSizeX = 320;
    dlg->Devices().webCameraSizeY = 240;
    BMP_File frozen;
    WithNextModal<CWebCameraDlg>([&frozen](CWebCameraDlg* c) {
        ASSERT_TRUE(QTest::qWaitFor([c] { return c->FramesShown() >= 3; }, 5000));
        QPushButton* freeze = nullptr;
        for (auto* b : c->findChildren<QPushButton*>())
            if (b->text() == "Freeze") freeze = b;
        ASSERT_TRUE(freeze);
        freeze->click();
        EXPECT_EQ(freeze->text(), "UnFreeze");
        ASSERT_TRUE(c->Capture().CopyFrame(frozen));
        // The camera goes on; the frame stays.
        const uint64_t arrived = c->Capture().FramesArrived();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return c->Capture().FramesArrived() > arrived + 3; }, 5000));
        c->OnSaveAndExit();
    });
    ASSERT_TRUE(dlg->OpenWebCamera());
    ASSERT_EQ(frozen.Width(), 320);
    EXPECT_TRUE(dlg->Images().original.SameAs(frozen));
    EXPECT_TRUE(dlg->CurrentFile().isEmpty());
    EXPECT_FALSE(Button("&Save")->isEnabled());
}

} // namespace
