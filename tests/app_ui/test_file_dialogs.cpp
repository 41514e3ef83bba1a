// The file dialogs: the Windows-style filters become Qt name filters with every
// pattern kept, the filter index goes in and comes back 1-based, and the
// preview pane shows the picture, its size, its size on disk and its date.

#include "app/bmp_file.h"
#include "app/ui/open_image_dialog.h"
#include "app/ui/select_file_dlg.h"
#include "ui_test_util.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString WriteBmp(const QString& path, int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), 200);
    EXPECT_TRUE(img.SaveBMP(QFile::encodeName(path).toStdString()));
    return path;
}

QString WriteBytes(const QString& path, qint64 count) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(count, 'x'));
    return path;
}

// What the user types into the name box (selectFile leaves a focused box as it
// is).
void TypeFileName(QFileDialog* dlg, const QString& name) {
    auto* edit = dlg->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
}

} // namespace

TEST(FileFilters, EveryDescriptionAndPatternSurvives) {
    const QStringList open = QtFiltersFromWindowsFilter(QString::fromLatin1(kOpenImageFilter));
    ASSERT_EQ(open.size(), 12);
    EXPECT_EQ(open[0], "PNG, BMP, GIF, JPG, TIFF, TARGA, PSD, PCD, AVI ICO Files (*.png *.bmp "
                       "*.jpg *gif *.tif *tga *.psd *.pcd *.avi *.ico)");
    EXPECT_EQ(open[1], "PNG Files(*.png) (*.png)");
    EXPECT_EQ(open[5], "TIFF Files(*.tif) (*tif)") << "the pattern without a dot stays";
    EXPECT_EQ(open[7], "PHOTOSHOP Files(*.psd) (*.psd)");
    EXPECT_EQ(open[8], "Kodak Files(*.pcd) (*.pcd)");
    EXPECT_EQ(open[11], "All Files (*.*)");

    const QStringList save = QtFiltersFromWindowsFilter(QString::fromLatin1(kSaveImageFilter));
    EXPECT_EQ(save, (QStringList{"PNG Files(*.png) (*.png)", "JPG Files(*.jpg) (*.jpg)",
                                 "GIF Files(*.gif) (*.gif)", "BMP Files(*.bmp) (*.bmp)",
                                 "TIFF Files(*.tif) (*tif)", "TARGA Files(*.tga) (*.tga)",
                                 "AVI Files(*.avi) (*.avi)", "ICO Files(*.ico) (*.ico)"}));

    EXPECT_EQ(QtFiltersFromWindowsFilter(QString::fromLatin1(kConfigFileFilter)),
              QStringList{"Quorvel Configuration File (*.qvc) (*.qvc)"});

    // Stray spaces around patterns go; the list ends at the first empty
    // element, as the double separator ends it; blank patterns are dropped.
    EXPECT_EQ(QtFiltersFromWindowsFilter("A| *.a ; *.b |B||C|*.c|"), QStringList{"A (*.a *.b)"});
    EXPECT_EQ(QtFiltersFromWindowsFilter("A|*.a|B| ; |C|*.c"), (QStringList{"A (*.a)", "C (*.c)"}));
    EXPECT_TRUE(QtFiltersFromWindowsFilter("").isEmpty());
}

TEST(PreviewTexts, SizesAndDates) {
    EXPECT_EQ(ImageSizeText(640, 480), "640 x 480");
    EXPECT_EQ(DiskSizeText(0), "Size: 0.00 Kb");
    EXPECT_EQ(DiskSizeText(1536), "Size: 1.50 Kb");
    EXPECT_EQ(DiskSizeText(1024 * 1024 - 1024), "Size: 1023.00 Kb");
    EXPECT_EQ(DiskSizeText(1024 * 1024), "Size: 1.00 Mb") << "from 1024 Kb on";
    EXPECT_EQ(DiskSizeText(5 * 1024 * 1024 / 2), "Size: 2.50 Mb");
    EXPECT_EQ(CreateDateText(QDate(2026, 12, 7)), "Create: 7.12.2026") << "day.month.year";
    EXPECT_EQ(CreateDateText(QDate(1999, 1, 31)), "Create: 31.1.1999");
}

TEST(PreviewPane, ShowsThumbnailSizeAndDate) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CImagePreview pane;

    // 300 x 150, 24-bit BMP: 54 + 900 * 150 = 135054 bytes = 131.889 Kb. The
    // upper-case extension still loads.
    const QDate before = QDate::currentDate();
    const QString bmp = WriteBmp(dir.filePath("SHOT.BMP"), 300, 150);
    const QDate after = QDate::currentDate();
    pane.SetFile(bmp);
    EXPECT_EQ(pane.SizeText(), "300 x 150");
    EXPECT_EQ(pane.DiskText(), "Size: 131.89 Kb");
    EXPECT_TRUE(pane.DateText() == CreateDateText(before) ||
                pane.DateText() == CreateDateText(after))
        << pane.DateText().toStdString();
    // The thumbnail keeps the 2:1 ratio and fits the pane.
    const QImage thumb = pane.Thumbnail();
    ASSERT_FALSE(thumb.isNull());
    EXPECT_LE(thumb.width(), CImagePreview::kThumbnailSide);
    EXPECT_EQ(thumb.width(), 2 * thumb.height());

    // A small picture is shown at its own size, with its own colours.
    pane.SetFile(WriteBmp(dir.filePath("small.bmp"), 40, 30));
    EXPECT_EQ(pane.SizeText(), "40 x 30");
    ASSERT_EQ(pane.Thumbnail().size(), QSize(40, 30));
    EXPECT_EQ(pane.Thumbnail().pixel(7, 9), qRgb(7, 9, 200));

    // A video shows its size on disk and date but no picture.
    pane.SetFile(WriteBytes(dir.filePath("clip.avi"), 3 * 1024 * 1024));
    EXPECT_EQ(pane.DiskText(), "Size: 3.00 Mb");
    EXPECT_FALSE(pane.DateText().isEmpty());
    EXPECT_TRUE(pane.SizeText().isEmpty());
    EXPECT_TRUE(pane.Thumbnail().isNull()) << "the previous picture must not linger";

    // A broken picture: no size, no thumbnail, but the file's own facts.
    pane.SetFile(WriteBytes(dir.filePath("broken.png"), 100));
    EXPECT_TRUE(pane.SizeText().isEmpty());
    EXPECT_TRUE(pane.Thumbnail().isNull());
    EXPECT_EQ(pane.DiskText(), "Size: 0.10 Kb");

    // A folder or nothing clears the pane.
    pane.SetFile(dir.path());
    EXPECT_TRUE(pane.DiskText().isEmpty());
    EXPECT_TRUE(pane.DateText().isEmpty());
    pane.SetFile(QString());
    EXPECT_TRUE(pane.DiskText().isEmpty());
}

TEST(OpenDialog, StartsOnTheRememberedFilterAndReportsTheChosenOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bmp = WriteBmp(dir.filePath("pick.bmp"), 8, 8);
    const QStringList filters = QtFiltersFromWindowsFilter(QString::fromLatin1(kOpenImageFilter));

    int filterIndex = 3; // "JPG Files"
    QString startFilter;
    bool hasPreview = false;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        startFilter = dlg->selectedNameFilter();
        hasPreview = dlg->findChild<CImagePreview*>() != nullptr;
        dlg->setDirectory(dir.path());
        dlg->selectNameFilter(filters[4]); // "BMP Files"
        TypeFileName(dlg, "pick.bmp");
        static_cast<QDialog*>(dlg)->accept(); // validates like the OK button
    });
    const QString chosen = GetOpenImageFile(nullptr, filterIndex);
    EXPECT_EQ(startFilter, filters[2]);
    EXPECT_TRUE(hasPreview);
    EXPECT_EQ(QFileInfo(chosen).canonicalFilePath(), QFileInfo(bmp).canonicalFilePath());
    EXPECT_EQ(filterIndex, 5);

    // Cancel returns nothing but still remembers the filter last chosen. An
    // index out of range starts on the nearest filter instead of failing.
    filterIndex = 99;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        startFilter = dlg->selectedNameFilter();
        dlg->selectNameFilter(filters[6]);
        dlg->reject();
    });
    EXPECT_TRUE(GetOpenImageFile(nullptr, filterIndex).isEmpty());
    EXPECT_EQ(startFilter, filters[11]);
    EXPECT_EQ(filterIndex, 7);
}

TEST(SaveDialogs, ReturnThePathAsTypedAndTheFilter) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList filters = QtFiltersFromWindowsFilter(QString::fromLatin1(kSaveImageFilter));

    int filterIndex = 5; // TIFF
    QString startFilter;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        startFilter = dlg->selectedNameFilter();
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptSave);
        dlg->setDirectory(dir.path());
        TypeFileName(dlg, "result");
        static_cast<QDialog*>(dlg)->accept(); // validates like the OK button
    });
    const QString path = GetSaveImageFile(nullptr, filterIndex);
    EXPECT_EQ(startFilter, filters[4]);
    EXPECT_EQ(QFileInfo(path).fileName(), "result") << "the caller appends the extension";
    EXPECT_EQ(filterIndex, 5);
    EXPECT_FALSE(QFile::exists(path)) << "choosing a name writes nothing";

    bool first = false;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        EXPECT_EQ(dlg->nameFilters(), QStringList{"Quorvel Configuration File (*.qvc) (*.qvc)"});
        dlg->setDirectory(dir.path());
        TypeFileName(dlg, "treatment");
        static_cast<QDialog*>(dlg)->accept(); // validates like the OK button
    });
    const QString config = GetConfigFile(nullptr, true, &first);
    EXPECT_EQ(QFileInfo(config).fileName(), "treatment");
    EXPECT_TRUE(first);

    first = true;
    WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
        EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptOpen);
        dlg->reject();
    });
    EXPECT_TRUE(GetConfigFile(nullptr, false, &first).isEmpty());
    EXPECT_FALSE(first) << "nothing chosen, nothing selected";
}

// Each file dialog starts where it was last accepted, whatever the others did
// since, and the folders are kept in the user's settings for the next run.
TEST(FileDialogs, EachStartsInItsOwnLastFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkpath("pictures");
    QDir(dir.path()).mkpath("results");
    QDir(dir.path()).mkpath("treatments");
    QDir(dir.path()).mkpath("stickers");
    QDir(dir.path()).mkpath("albums");
    auto folder = [&](const char* n) { return QFileInfo(dir.filePath(n)).canonicalFilePath(); };
    WriteBmp(dir.filePath("pictures/a.bmp"), 4, 4);
    WriteBmp(dir.filePath("stickers/s.bmp"), 4, 4);

    // Opens a dialog, records where it starts, then accepts `name` in `in`.
    auto choose = [&](const char* in, const QString& name, auto run) {
        QString start;
        WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
            start = QFileInfo(dlg->directory().absolutePath()).canonicalFilePath();
            dlg->setDirectory(folder(in));
            TypeFileName(dlg, name);
            static_cast<QDialog*>(dlg)->accept();
        });
        EXPECT_FALSE(run().isEmpty()) << in;
        return start;
    };
    int index = 1;
    auto open = [&] { return GetOpenImageFile(nullptr, index); };
    auto save = [&] { return GetSaveImageFile(nullptr, index); };
    auto config = [&] { return GetConfigFile(nullptr, true); };
    auto onTop = [&] { return GetOpenImageFile(nullptr, index, dialog_folder::kImageOnTop); };

    choose("pictures", "a.bmp", open);
    choose("results", "out", save);
    choose("treatments", "t", config);
    choose("stickers", "s.bmp", onTop);
    EXPECT_EQ(choose("pictures", "a.bmp", open), folder("pictures"));
    EXPECT_EQ(choose("results", "out", save), folder("results"));
    EXPECT_EQ(choose("treatments", "t", config), folder("treatments"));
    EXPECT_EQ(choose("stickers", "s.bmp", onTop), folder("stickers"));

    // "Add Folder..." of Select File starts in the folder it last added.
    auto addFolder = [&](const char* pick) {
        CSelectFileDlg select;
        QPushButton* button = nullptr;
        for (QPushButton* b : select.findChildren<QPushButton*>())
            if (b->text() == "Add Folder...") button = b;
        EXPECT_NE(button, nullptr);
        if (!button) return QString();
        QString start;
        WithNextModal<QFileDialog>([&](QFileDialog* dlg) {
            start = QFileInfo(dlg->directory().absolutePath()).canonicalFilePath();
            dlg->setDirectory(folder(pick));
            static_cast<QDialog*>(dlg)->accept();
        });
        button->click();
        return start;
    };
    addFolder("albums");
    EXPECT_EQ(addFolder("pictures"), folder("albums"));

    // Kept in the settings file, so the next run starts there too.
    QSettings settings("Quorvel", "Pellorin");
    settings.sync();
    QFile file(settings.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << settings.fileName().toStdString();
    const QString text = QString::fromUtf8(file.readAll());
    for (const char* n : {"pictures", "results", "treatments", "stickers"})
        EXPECT_TRUE(text.contains(folder(n))) << n;
}
