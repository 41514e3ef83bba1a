// The desktop program's metadata choices: the open dialog's option to turn
// photographs upright, the Save As dialog's option to strip metadata, and the
// main window loading and saving with them.

#include "app/image_files.h"
#include "app/ui/open_image_dialog.h"
#include "app/ui/pellorin_dlg.h"
#include "tests/app_ui/ui_test_util.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // exiv2 0.27's auto_ptr
#include <exiv2/exiv2.hpp>

namespace {

BMP_File Picture(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = CColor24(uint8_t(x * 7), uint8_t(y * 5), 40);
    return img;
}

// A camera photograph stored w x h with orientation 6 (to be turned a quarter
// clockwise), a maker and a shooting date.
std::string PortraitPhoto(const QString& path, int w, int h) {
    const std::string p = path.toStdString();
    SaveOptions strip;
    strip.strip = true;
    EXPECT_TRUE(SaveImageFile(p, Picture(w, h), nullptr, strip));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(p);
    image->readMetadata();
    image->exifData()["Exif.Image.Make"] = std::string("Acme");
    image->exifData()["Exif.Image.Orientation"] = uint16_t(6);
    image->exifData()["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
    image->writeMetadata();
    return p;
}

std::string ExifOf(const std::string& path, const char* key) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    const auto it = image->exifData().findKey(Exiv2::ExifKey(key));
    return it == image->exifData().end() ? "(none)" : it->toString();
}

QCheckBox* Option(QWidget* dlg, const char* text) {
    for (QCheckBox* box : dlg->findChildren<QCheckBox*>())
        if (box->text() == QString::fromLatin1(text)) return box;
    return nullptr;
}

void Choose(QFileDialog* dlg, const QString& folder, const QString& name) {
    dlg->setDirectory(folder);
    if (auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit")) edit->setText(name);
    dlg->selectFile(name);
}

} // namespace

TEST(MetadataOptions, OpenDialogOffersTurningPhotographsUpright) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PortraitPhoto(dir.filePath("p.jpg"), 30, 20);

    bool upright = true;
    int filterIndex = 1;
    bool offered = false, startedOn = false;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        QCheckBox* box = Option(dlg, kApplyOrientationText);
        offered = box != nullptr;
        if (box) {
            startedOn = box->isChecked();
            box->setChecked(false);
        }
        Choose(dlg, dir.path(), "p.jpg");
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_FALSE(GetOpenImageFile(nullptr, filterIndex, dialog_folder::kOpen, &upright).isEmpty());
    EXPECT_TRUE(offered);
    EXPECT_TRUE(startedOn);
    EXPECT_FALSE(upright);

    // Cancel keeps the earlier choice; without the pointer there is no option.
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        if (QCheckBox* box = Option(dlg, kApplyOrientationText)) box->setChecked(true);
        dlg->reject();
    });
    EXPECT_TRUE(GetOpenImageFile(nullptr, filterIndex, dialog_folder::kOpen, &upright).isEmpty());
    EXPECT_FALSE(upright);
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        offered = Option(dlg, kApplyOrientationText) != nullptr;
        dlg->reject();
    });
    GetOpenImageFile(nullptr, filterIndex);
    EXPECT_FALSE(offered);

    // The preview shows the picture as loading it will give it.
    CImagePreview pane;
    pane.SetFile(dir.filePath("p.jpg"));
    EXPECT_EQ(pane.SizeText(), "20 x 30");
    pane.SetApplyOrientation(false);
    EXPECT_EQ(pane.SizeText(), "30 x 20");
}

TEST(MetadataOptions, SaveAsOffersStripping) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    bool strip = false;
    int filterIndex = 2;
    bool offered = false;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        QCheckBox* box = Option(dlg, kStripMetadataText);
        offered = box != nullptr;
        if (box) box->setChecked(true);
        Choose(dlg, dir.path(), "web.jpg");
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_FALSE(GetSaveImageFile(nullptr, filterIndex, &strip).isEmpty());
    EXPECT_TRUE(offered);
    EXPECT_TRUE(strip);
}

TEST(MetadataOptions, MainWindowCarriesTheOriginalsMetadataIntoSavedFiles) {
    QStandardPaths::setTestModeEnabled(true); // keep the user's settings out of it
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string photo = PortraitPhoto(dir.filePath("photo.jpg"), 30, 20);
    CPellorinDlg dlg;
    dlg.resize(1000, 600);
    dlg.show();

    dlg.SetApplyOrientation(true);
    ASSERT_TRUE(dlg.LoadFile(QString::fromStdString(photo)));
    EXPECT_EQ(dlg.Images().original.Width(), 20);
    EXPECT_EQ(dlg.Images().original.Height(), 30);
    const std::string out = dir.filePath("out.jpg").toStdString();
    ASSERT_TRUE(dlg.SaveAs(QString::fromStdString(out), 2));
    EXPECT_EQ(ExifOf(out, "Exif.Image.Make"), "Acme");
    EXPECT_EQ(ExifOf(out, "Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
    EXPECT_EQ(ExifOf(out, "Exif.Image.Orientation"), "1");
    EXPECT_EQ(ExifOf(out, "Exif.Photo.PixelXDimension"), "20");

    dlg.SetStripMetadata(true);
    ASSERT_TRUE(dlg.SaveAs(QString::fromStdString(out), 2));
    EXPECT_EQ(ExifOf(out, "Exif.Image.Make"), "(none)");
    EXPECT_EQ(ExifOf(out, "Exif.Image.Software"), "(none)");
    dlg.SetStripMetadata(false);

    // The stored pixels, when asked for.
    dlg.SetApplyOrientation(false);
    ASSERT_TRUE(dlg.LoadFile(QString::fromStdString(photo)));
    EXPECT_EQ(dlg.Images().original.Width(), 30);
    ASSERT_TRUE(dlg.SaveAs(QString::fromStdString(out), 2));
    EXPECT_EQ(ExifOf(out, "Exif.Image.Orientation"), "6");

    // A picture of no file: only the software tag and the size.
    const std::string bmp = dir.filePath("plain.bmp").toStdString();
    ASSERT_TRUE(Picture(12, 9).SaveBMP(bmp));
    ASSERT_TRUE(dlg.LoadFile(QString::fromStdString(bmp)));
    ASSERT_TRUE(dlg.SaveAs(QString::fromStdString(out), 2));
    EXPECT_EQ(ExifOf(out, "Exif.Image.Make"), "(none)");
    EXPECT_EQ(ExifOf(out, "Exif.Photo.PixelXDimension"), "12");
}

TEST(MetadataOptions, MainWindowWarnsOfDamagedMetadataAndLoadsThePicture) {
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string plain = dir.filePath("plain.jpg").toStdString();
    SaveOptions strip;
    strip.strip = true;
    ASSERT_TRUE(SaveImageFile(plain, Picture(30, 20), nullptr, strip));
    std::ifstream in(plain, std::ios::binary);
    std::vector<char> jpeg((std::istreambuf_iterator<char>(in)), {});
    const char segment[] = {'\xFF', '\xE1', 0,   16, 'E', 'x',    'i',    'f',    0,
                            0,      'I',    'I', 42, 0,   '\xF0', '\xFF', '\xFF', '\xFF'};
    jpeg.insert(jpeg.begin() + 2, segment, segment + sizeof segment);
    const std::string bad = dir.filePath("bad.jpg").toStdString();
    std::ofstream(bad, std::ios::binary).write(jpeg.data(), std::streamsize(jpeg.size()));

    CPellorinDlg dlg;
    dlg.resize(1000, 600);
    dlg.show();
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WithNextModal<QMessageBox>([&](QMessageBox* box) {
        caption = box->windowTitle();
        icon = box->icon();
        box->accept();
    });
    ASSERT_TRUE(dlg.LoadFile(QString::fromStdString(bad)));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(caption, "Warning");
    EXPECT_EQ(dlg.Images().original.Width(), 30);
    EXPECT_TRUE(dlg.Images().metadata.Empty());
}

#pragma GCC diagnostic pop
