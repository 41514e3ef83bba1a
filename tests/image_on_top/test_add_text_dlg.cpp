// The "Add text" dialog on the offscreen platform: the date/time label and
// "Put Time", the current-date switch, the font and colour choice, and
// "Put text" stamping into both images exactly what the picture area shows.

#include "imageops/ui/add_text_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDate>
#include <QFontDialog>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

BMP_File Filled(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

QCheckBox* Check(QDialog& dlg, const QString& text) {
    for (QCheckBox* c : dlg.findChildren<QCheckBox*>())
        if (c->text() == text) return c;
    ADD_FAILURE() << "no check box " << text.toStdString();
    return nullptr;
}

QComboBox* Combo(QDialog& dlg, const char* name) {
    auto* c = dlg.findChild<QComboBox*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

QFont StampFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(24);
    f.setBold(true);
    return f;
}

// The font dialog works in points.
QFont PointFont(int points) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSize(points);
    return f;
}

// Sets up the text box: font, colour, text and place.
void Prepare(CAddTextDlg& dlg, const QString& text, const QColor& color, QPoint at) {
    dlg.SetTextFont(StampFont());
    dlg.SetTextColor(color);
    dlg.TextBox()->setText(text);
    dlg.MoveTextBox(at);
}

bool IsRed(CColor24 p) {
    return p.r > 200 && p.g < 50 && p.b < 50;
}

// Runs act on the next modal dialog of type T once it is up; closes every
// modal window after two seconds without one so a test cannot hang.
template <class T> void OnNextModal(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            act(d);
        } else if (++*tries > 200) {
            timer->deleteLater();
            timer->stop();
            ADD_FAILURE() << "the expected modal dialog did not appear";
            while (auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget())) w->reject();
        }
    });
    timer->start();
}

} // namespace

TEST(AddTextDialog, LabelAndPutTime) {
    BMP_File img = Filled(50, 40, CColor24()), nr = img;
    CAddTextDlg dlg(img, nr, {});
    EXPECT_EQ(dlg.windowTitle(), "Add text");
    ASSERT_EQ(Combo(dlg, "format")->count(), 25);
    EXPECT_EQ(Combo(dlg, "month")->itemText(0), "January");
    EXPECT_EQ(Combo(dlg, "year")->itemText(0), "1900");

    Combo(dlg, "format")->setCurrentIndex(7); // Germany DD.MM.YYYY HH:MI
    Combo(dlg, "day")->setCurrentIndex(4);
    Combo(dlg, "month")->setCurrentIndex(2);
    Combo(dlg, "year")->setCurrentIndex(2007 - 1900);
    Combo(dlg, "hour")->setCurrentIndex(18);
    Combo(dlg, "minute")->setCurrentIndex(5);
    Check(dlg, "Data")->setChecked(true);
    Check(dlg, "Time")->setChecked(true);
    Check(dlg, "AM/PM")->setChecked(false);
    EXPECT_EQ(dlg.DateTimeText(), "05.03.2007 18:05");
    Check(dlg, "AM/PM")->setChecked(true);
    EXPECT_EQ(dlg.DateTimeText(), "05.03.2007 06:05 PM");
    Combo(dlg, "format")->setCurrentIndex(24); // USA
    Check(dlg, "Time")->setChecked(false);
    EXPECT_EQ(dlg.DateTimeText(), "3-05-2007");

    dlg.TextBox()->setText("old words");
    dlg.PutTime();
    EXPECT_EQ(dlg.TextBox()->text(), "3-05-2007");

    // With neither date nor time the label is empty, and so is the text box.
    Check(dlg, "Data")->setChecked(false);
    EXPECT_EQ(dlg.DateTimeText(), "");
    dlg.PutTime();
    EXPECT_EQ(dlg.TextBox()->text(), "");
}

TEST(AddTextDialog, CurrentDateFillsAndLocksTheLists) {
    BMP_File img = Filled(50, 40, CColor24()), nr = img;
    CAddTextDlg dlg(img, nr, {});
    Combo(dlg, "day")->setCurrentIndex(0);
    Combo(dlg, "year")->setCurrentIndex(0);
    Check(dlg, "Cur. data")->setChecked(true);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(Combo(dlg, "day")->currentIndex(), today.day() - 1);
    EXPECT_EQ(Combo(dlg, "month")->currentIndex(), today.month() - 1);
    EXPECT_EQ(Combo(dlg, "year")->currentText(), QString::number(today.year()));
    EXPECT_FALSE(Combo(dlg, "day")->isEnabled());
    EXPECT_FALSE(Combo(dlg, "year")->isEnabled());
    EXPECT_TRUE(Combo(dlg, "hour")->isEnabled());
    Check(dlg, "Cur. data")->setChecked(false);
    EXPECT_TRUE(Combo(dlg, "month")->isEnabled());
}

TEST(AddTextDialog, FontThenColour) {
    BMP_File img = Filled(50, 40, CColor24()), nr = img;
    CAddTextDlg dlg(img, nr, {});
    OnNextModal<QFontDialog>([](QFontDialog* d) {
        d->setCurrentFont(PointFont(20));
        OnNextModal<QColorDialog>([](QColorDialog* c) {
            c->setCurrentColor(QColor(10, 200, 30));
            c->accept();
        });
        d->accept();
    });
    dlg.ChooseFont();
    EXPECT_EQ(dlg.TextFont().family(), PointFont(20).family());
    EXPECT_EQ(dlg.TextFont().pointSize(), 20);
    EXPECT_EQ(dlg.TextColor(), QColor(10, 200, 30));

    // Cancelling the colour keeps the colour; cancelling the font keeps both.
    OnNextModal<QFontDialog>([](QFontDialog* d) {
        d->setCurrentFont(PointFont(28));
        OnNextModal<QColorDialog>([](QColorDialog* c) { c->reject(); });
        d->accept();
    });
    dlg.ChooseFont();
    EXPECT_EQ(dlg.TextFont().pointSize(), 28);
    EXPECT_EQ(dlg.TextColor(), QColor(10, 200, 30));
    OnNextModal<QFontDialog>([](QFontDialog* d) { d->reject(); });
    dlg.ChooseFont();
    EXPECT_EQ(dlg.TextFont().pointSize(), 28);
}

TEST(AddTextDialog, StampWritesBothImagesInsideTheBoxOnly) {
    const CColor24 grey(40, 80, 120);
    BMP_File img = Filled(200, 120, grey), nr = img;
    int reprocessed = 0;
    CAddTextDlg dlg(img, nr, [&] { ++reprocessed; });
    dlg.show();
    Prepare(dlg, "Hello", Qt::red, QPoint(30, 40));
    const QRect r = dlg.StampRect();
    EXPECT_EQ(r.topLeft(), QPoint(30, 40));
    ASSERT_TRUE(QRect(0, 0, 200, 120).contains(r));

    // What the picture area shows inside the box, rendered before stamping.
    dlg.TextBox()->deselect();
    dlg.TextBox()->clearFocus();
    auto* picture = dlg.findChild<CTextPicture*>();
    ASSERT_NE(picture, nullptr);
    const QImage shown = picture->grab(r).toImage().convertToFormat(QImage::Format_RGB32);

    dlg.PutText();
    EXPECT_EQ(reprocessed, 1);
    int changed = 0, red = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 200; ++x) {
            const CColor24 p = img.Pixel(x, y);
            if (!r.contains(x, y)) {
                ASSERT_EQ(p, grey) << "outside the box at " << x << "," << y;
                continue;
            }
            changed += !(p == grey);
            red += IsRed(p);
            const QRgb s = shown.pixel(x - r.left(), y - r.top());
            ASSERT_EQ(p, CColor24(uint8_t(qRed(s)), uint8_t(qGreen(s)), uint8_t(qBlue(s))))
                << "stamp differs from the picture area at " << x << "," << y;
        }
    EXPECT_GT(red, 20) << "solid text pixels";
    EXPECT_GT(changed, red) << "anti-aliased edges too";
    EXPECT_TRUE(nr.SameAs(img)) << "the noise-reduced copy gets the same stamp";
    EXPECT_EQ(dlg.TextBox()->selectedText(), "Hello") << "selected again for the next entry";
}

TEST(AddTextDialog, NoiseReducedCopyKeepsItsOwnPixelsAroundTheText) {
    const CColor24 grey(40, 80, 120), smooth(90, 90, 90);
    BMP_File img = Filled(160, 80, grey), nr = Filled(160, 80, smooth);
    CAddTextDlg dlg(img, nr, {});
    Prepare(dlg, "Wig", Qt::red, QPoint(10, 10));
    const QRect r = dlg.StampRect();
    dlg.PutText();
    int solid = 0, edge = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x) {
            const CColor24 o = img.Pixel(x, y), n = nr.Pixel(x, y);
            if (!r.contains(x, y) || o == grey) {
                ASSERT_EQ(n, smooth) << x << "," << y;
            } else if (o == CColor24(255, 0, 0)) {
                ASSERT_EQ(n, o) << "fully covered text pixel at " << x << "," << y;
                ++solid;
            } else {
                edge += !(n == smooth);
            }
        }
    EXPECT_GT(solid, 10);
    EXPECT_GT(edge, 0) << "anti-aliased edges over the copy's own pixels";
}

TEST(AddTextDialog, SecondStampDrawsOverTheFirst) {
    const CColor24 grey(128, 128, 128);
    BMP_File img = Filled(160, 80, grey), nr = img;
    CAddTextDlg dlg(img, nr, {});
    Prepare(dlg, "OOO", Qt::red, QPoint(20, 20));
    dlg.PutText();
    const BMP_File first = img;

    // Where the second text draws, learnt from stamping it onto a clean copy.
    BMP_File clean = Filled(160, 80, grey), cleanNr = clean;
    CAddTextDlg probe(clean, cleanNr, {});
    Prepare(probe, "lll", Qt::blue, QPoint(20, 20));
    probe.PutText();

    Prepare(dlg, "lll", Qt::blue, QPoint(20, 20));
    dlg.PutText();
    int keptRed = 0, blue = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x) {
            const CColor24 p = img.Pixel(x, y);
            if (clean.Pixel(x, y) == grey) {
                ASSERT_EQ(p, first.Pixel(x, y))
                    << "untouched by the second text at " << x << "," << y;
                keptRed += IsRed(p);
            } else if (clean.Pixel(x, y) == CColor24(0, 0, 255)) {
                // Fully covered by the second text: blue whatever was below.
                ASSERT_EQ(p, CColor24(0, 0, 255)) << "second text on top at " << x << "," << y;
                blue += first.Pixel(x, y) == CColor24(255, 0, 0);
            }
        }
    EXPECT_GT(keptRed, 10) << "the first text stays where the second does not draw";
    EXPECT_GT(blue, 0) << "the second text covers some of the first";
}

TEST(AddTextDialog, BoxHangingOverTheEdgeStampsOnlyTheImage) {
    const CColor24 grey(60, 60, 60);
    BMP_File img = Filled(100, 50, grey), nr;
    CAddTextDlg dlg(img, nr, {});
    Prepare(dlg, "Edge", Qt::red, QPoint(80, 35));
    ASSERT_GT(dlg.StampRect().right(), 99);
    ASSERT_GT(dlg.StampRect().bottom(), 49);
    dlg.PutText();
    int changed = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) {
            if (img.Pixel(x, y) == grey) continue;
            ASSERT_TRUE(x >= 80 && y >= 35) << x << "," << y;
            ++changed;
        }
    EXPECT_GT(changed, 0);
    EXPECT_EQ(img.SparePixel(), CColor24());
    EXPECT_TRUE(nr.Empty()) << "no noise-reduced copy: nothing is made up";
}

TEST(AddTextDialog, OpenDoesNothingWithoutAnImage) {
    ImageSet images;
    bool called = false;
    OpenAddTextDialog(
        images, [&] { called = true; }, nullptr);
    EXPECT_FALSE(called);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
