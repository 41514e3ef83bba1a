// The files that ship with the program: the sample picture and the icons load
// at their announced sizes, and every picture type the menu entry claims is one
// the program actually opens.

#include "app/image_files.h"

#include <QFile>
#include <QImage>
#include <QMimeDatabase>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString Source(const char* relative) {
    return QStringLiteral(PELLORIN_SOURCE_DIR "/") + QString::fromLatin1(relative);
}

} // namespace

TEST(ShippedData, SampleAndIconsAreSoundPictures) {
    BMP_File sample;
    std::string message;
    ASSERT_TRUE(LoadImageFile(QFile::encodeName(Source("data/samples/sample.png")).toStdString(),
                              sample, &message))
        << message;
    EXPECT_EQ(sample.Width(), 1200);
    EXPECT_EQ(sample.Height(), 800);

    for (int size : {48, 128, 256}) {
        const QImage icon(Source("data/icons/hicolor/") + QString("%1x%1").arg(size) +
                          "/apps/pellorin.png");
        ASSERT_FALSE(icon.isNull()) << size;
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_TRUE(icon.hasAlphaChannel());
        // Rounded corners are see-through, the middle is solid.
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255) << size;
    }
    QFile svg(Source("data/icons/hicolor/scalable/apps/pellorin.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));
}

TEST(ShippedData, DesktopEntryClaimsOnlyTypesTheProgramOpens) {
    QFile file(Source("data/pellorin.desktop"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains(
        QRegularExpression("^Exec=pellorin %f$", QRegularExpression::MultilineOption)));
    EXPECT_TRUE(
        text.contains(QRegularExpression("^Icon=pellorin$", QRegularExpression::MultilineOption)));

    const QRegularExpressionMatch m =
        QRegularExpression("^MimeType=(.*)$", QRegularExpression::MultilineOption).match(text);
    ASSERT_TRUE(m.hasMatch());
    const QStringList types = m.captured(1).split(';', Qt::SkipEmptyParts);
    EXPECT_GE(types.size(), 10);
    const QMimeDatabase db;
    int known = 0;
    for (const QString& type : types) {
        const QMimeType mime = db.mimeTypeForName(type);
        if (!mime.isValid()) continue; // not every system knows every alias
        ++known;
        bool opens = false;
        for (const QString& suffix : mime.suffixes()) {
            const std::string path = "x." + suffix.toLower().toStdString();
            opens = opens || IsLoadableStillImage(path) || suffix.toLower() == "avi";
        }
        EXPECT_TRUE(opens) << type.toStdString() << " has no extension the program opens";
    }
    EXPECT_GE(known, 8) << "png, jpeg, bmp, gif, tiff, tga, psd, icon and avi are common types";
}
