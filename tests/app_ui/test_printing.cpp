// Printing: the page rendered to an image and to a PDF (rasterised again with
// pdftoppm) carries the picture exactly where the layout puts it, upright, in
// colour or grey; the layout dialog's preview follows every change.

#include "app/ui/print_support.h"
#include "ui_test_util.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// 300 x 200: the top-left 150 x 100 quarter red, the rest blue, so that a
// mirrored or turned print shows.
BMP_File Quartered() {
    BMP_File img;
    img.Create(300, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            img.Pixel(x, y) = (x < 150 && y < 100) ? CColor24(255, 0, 0) : CColor24(0, 0, 255);
    return img;
}

// 5 x 2.5 cm at 2 cm from the left and 3 cm from the top. At 254 dpi one
// centimetre is 100 pixels: the picture covers x 200..699, y 300..549, its red
// quarter x 200..449, y 300..424.
PrintLayout FiveByTwoAndAHalf() {
    PrintLayout l;
    l.sizeMode = PrintSizeMode::Size;
    l.units = PrintUnits::Centimetres;
    l.width = 5.0;
    l.height = 2.5;
    l.centred = false;
    l.left = 2.0;
    l.top = 3.0;
    return l;
}

bool Near(QRgb a, QRgb b, int tolerance = 12) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Checks a page raster at 254 dpi, a few pixels inside and outside each edge
// (rasterisers may blend the edge pixel itself).
void ExpectPlacedAsLaidOut(const QImage& page, QRgb red, QRgb blue) {
    const QRgb white = qRgb(255, 255, 255);
    struct Probe {
        int x, y;
        QRgb colour;
        const char* where;
    };
    const Probe probes[] = {
        {203, 303, red, "top-left corner"},      {446, 421, red, "red quarter's far corner"},
        {453, 303, blue, "right of the red"},    {203, 428, blue, "below the red"},
        {696, 546, blue, "bottom-right corner"}, {196, 400, white, "left of the picture"},
        {400, 296, white, "above the picture"},  {703, 400, white, "right of the picture"},
        {400, 553, white, "below the picture"},  {50, 50, white, "page corner"},
    };
    for (const Probe& p : probes)
        EXPECT_TRUE(Near(page.pixel(p.x, p.y) | 0xFF000000u, p.colour))
            << p.where << " (" << p.x << ", " << p.y << ") is " << std::hex << page.pixel(p.x, p.y);
}

} // namespace

TEST(PrintRendering, PageImageCarriesThePictureWhereTheLayoutSays) {
    // A4 at 254 dpi: 21 x 29.7 cm = 2100 x 2970 pixels.
    QImage page(2100, 2970, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        QImage pic(300, 200, QImage::Format_RGB32);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x)
                pic.setPixel(x, y, (x < 150 && y < 100) ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        const QRect r =
            DrawImageOnPage(p, page.size(), 254.0, pic, QSize(300, 200), FiveByTwoAndAHalf());
        EXPECT_EQ(r, QRect(200, 300, 500, 250));
    }
    ExpectPlacedAsLaidOut(page, qRgb(255, 0, 0), qRgb(0, 0, 255));
}

TEST(PrintRendering, PdfPageMeasuredFromThePaperEdgeDespiteMargins) {
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    ASSERT_FALSE(pdftoppm.isEmpty()) << "pdftoppm (poppler-utils) is needed; scripts/install-deps "
                                        "installs it";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath("page.pdf");

    for (bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "greyscale" : "colour");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setResolution(254);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(QPageLayout::Portrait);
        // Printer margins move the painter's origin; the layout's margins must
        // still count from the paper's edge.
        printer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        PrintLayout layout = FiveByTwoAndAHalf();
        layout.greyscale = grey;
        ASSERT_TRUE(PrintImageOn(printer, Quartered(), layout));

        QProcess run;
        run.start(pdftoppm, {"-r", "254", "-png", "-singlefile", pdf, dir.filePath("page")});
        ASSERT_TRUE(run.waitForFinished(60000));
        ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        const QImage page(dir.filePath("page.png"));
        ASSERT_FALSE(page.isNull());
        EXPECT_NEAR(page.width(), 2100, 2);
        EXPECT_NEAR(page.height(), 2970, 2);
        // Grey of pure red is 76, of pure blue 29 (0.299 and 0.114 of 255).
        if (grey)
            ExpectPlacedAsLaidOut(page, qRgb(76, 76, 76), qRgb(29, 29, 29));
        else
            ExpectPlacedAsLaidOut(page, qRgb(255, 0, 0), qRgb(0, 0, 255));
    }
}

TEST(PrintRendering, NothingToPrintIsReported) {
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("empty.pdf"));
    EXPECT_FALSE(PrintImageOn(printer, BMP_File(), PrintLayout()));
    PrintLayout tooFar = FiveByTwoAndAHalf();
    tooFar.width = 0.0; // no size at all
    EXPECT_FALSE(PrintImageOn(printer, Quartered(), tooFar));
}

TEST(PrintLayoutDlg, PreviewFollowsEveryChange) {
    const BMP_File img = Quartered();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    PrintLayout start; // fitted to the page, centred, centimetres
    CPrintLayoutDlg dlg(img, printer, start);
    dlg.resize(700, 560);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    CPagePreview* preview = dlg.Preview();
    auto find = [&](const char* name) { return dlg.findChild<QWidget*>(name); };

    // Fitted to an A4 sheet: the picture spans the sheet's width, centred.
    const QRect sheet = preview->PageRect();
    ASSERT_FALSE(sheet.isEmpty());
    EXPECT_NEAR(double(sheet.width()) / sheet.height(), 210.0 / 297.0, 0.01);
    QRect fitted = preview->ImageRect();
    EXPECT_NEAR(fitted.width(), sheet.width(), 2);
    EXPECT_NEAR(fitted.center().y(), sheet.center().y(), 2);
    const QImage shot = preview->grab().toImage();
    EXPECT_TRUE(Near(shot.pixel(fitted.left() + 3, fitted.top() + 3), qRgb(255, 0, 0)));

    // The image's own size (72 dpi): 300 px = 10.58 cm of the sheet's 21 cm.
    qobject_cast<QRadioButton*>(find("imageSize"))->click();
    EXPECT_EQ(dlg.Layout().sizeMode, PrintSizeMode::ImageSize);
    EXPECT_NEAR(double(preview->ImageRect().width()) / sheet.width(), (300 / 72.0 * 2.54) / 21.0,
                0.01);

    // The initial size boxes hold the image's size; keeping the ratio ties them.
    auto* width = qobject_cast<QDoubleSpinBox*>(find("width"));
    auto* height = qobject_cast<QDoubleSpinBox*>(find("height"));
    EXPECT_NEAR(width->value(), 300 / 72.0 * 2.54, 0.01);
    qobject_cast<QRadioButton*>(find("size"))->click();
    qobject_cast<QCheckBox*>(find("keepRatio"))->setChecked(true);
    width->setValue(6.0);
    EXPECT_DOUBLE_EQ(height->value(), 4.0);
    EXPECT_EQ(dlg.Layout().sizeMode, PrintSizeMode::SizeKeepRatio);
    EXPECT_NEAR(double(preview->ImageRect().width()) / sheet.width(), 6.0 / 21.0, 0.01);

    // Margins move the picture to the top-left corner region.
    qobject_cast<QRadioButton*>(find("margins"))->click();
    qobject_cast<QDoubleSpinBox*>(find("left"))->setValue(0.0);
    qobject_cast<QDoubleSpinBox*>(find("top"))->setValue(0.0);
    EXPECT_FALSE(dlg.Layout().centred);
    EXPECT_NEAR(preview->ImageRect().left(), sheet.left(), 1);
    EXPECT_NEAR(preview->ImageRect().top(), sheet.top(), 1);

    // Switching to inches converts the numbers, not the picture.
    const QRect before = preview->ImageRect();
    qobject_cast<QComboBox*>(find("units"))->setCurrentIndex(1);
    EXPECT_EQ(dlg.Layout().units, PrintUnits::Inches);
    EXPECT_NEAR(width->value(), 6.0 / 2.54, 0.01);
    EXPECT_EQ(preview->ImageRect(), before);

    // Greyscale shows grey in the preview.
    qobject_cast<QCheckBox*>(find("greyscale"))->setChecked(true);
    EXPECT_TRUE(dlg.Layout().greyscale);
    const QRect placed = preview->ImageRect();
    const QImage greyShot = preview->grab().toImage();
    EXPECT_TRUE(Near(greyShot.pixel(placed.left() + 2, placed.top() + 2), qRgb(76, 76, 76)));
    EXPECT_TRUE(Near(greyShot.pixel(placed.right() - 2, placed.bottom() - 2), qRgb(29, 29, 29)));

    // Landscape paper after a page setup: the sheet turns.
    printer.setPageOrientation(QPageLayout::Landscape);
    dlg.UpdatePage();
    EXPECT_GT(preview->PageRect().width(), preview->PageRect().height());
}

TEST(PrintCommands, AdvancedPreviewPrintsFromItsOwnButton) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath("advanced.pdf");
    QPrinter& printer = SessionPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    SessionPrintLayout() = PrintLayout();

    bool sawPreview = false;
    WithNextModal<CPrintLayoutDlg>([&](CPrintLayoutDlg* dlg) {
        sawPreview = dlg->Preview() != nullptr;
        // Choose greyscale, then "Print..." and OK in the print dialog.
        dlg->findChild<QCheckBox*>("greyscale")->setChecked(true);
        WithNextModal<QPrintDialog>([](QPrintDialog* print) { print->accept(); });
        auto* button = dlg->findChild<QPushButton*>("print");
        if (!button) {
            ADD_FAILURE() << "no Print... button";
            dlg->reject();
            return;
        }
        button->click();
    });
    AdvancedPrintPreview(Quartered(), nullptr);
    EXPECT_TRUE(sawPreview);
    EXPECT_TRUE(SessionPrintLayout().greyscale) << "the layout is kept for the session";
    QFile out(pdf);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly)) << "printing wrote no file";
    EXPECT_TRUE(out.read(5).startsWith("%PDF"));
}

TEST(PrintCommands, PrintPreviewShowsOnePageAndCancelPrintsNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QPrinter& printer = SessionPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("never.pdf"));

    int pages = -1;
    WithNextModal<CPrintLayoutDlg>([&](CPrintLayoutDlg* dlg) {
        WithNextModal<QPrintPreviewDialog>([&](QPrintPreviewDialog* preview) {
            if (auto* widget = preview->findChild<QPrintPreviewWidget*>())
                pages = widget->pageCount();
            preview->reject();
        });
        dlg->accept();
    });
    PrintPreviewImage(Quartered(), nullptr);
    EXPECT_EQ(pages, 1);

    // Cancelling the layout dialog ends "Print..." before anything is printed.
    WithNextModal<CPrintLayoutDlg>([](CPrintLayoutDlg* dlg) { dlg->reject(); });
    PrintImage(Quartered(), nullptr);
    EXPECT_FALSE(QFile::exists(dir.filePath("never.pdf")));
}
