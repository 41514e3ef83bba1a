#include "app/ui/open_image_dialog.h"

#include "app/image_files.h"
#include "app/ui/result_viewer.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

// clang-format off
const char kOpenImageFilter[] = "PNG, BMP, GIF, JPG, TIFF, TARGA, PSD, PCD, AVI ICO Files|*.png;*.bmp;*.jpg;*gif;*.tif;*tga;*.psd;*.pcd;*.avi;*.ico|PNG Files(*.png)|*.png|JPG Files(*.jpg)|*.jpg|GIF Files(*.gif)|*.gif|BMP Files(*.bmp)|*.bmp|TIFF Files(*.tif)|*tif|TARGA Files(*.tga)|*.tga|PHOTOSHOP Files(*.psd)|*.psd|Kodak Files(*.pcd)|*.pcd|Avi Files(*.avi)|*.avi|ICO Files(*.ico)|*.ico|All Files|*.*|";
const char kSaveImageFilter[] = "PNG Files(*.png)|*.png|JPG Files(*.jpg)|*.jpg|GIF Files(*.gif)|*.gif|BMP Files(*.bmp)|*.bmp|TIFF Files(*.tif)|*tif|TARGA Files(*.tga)|*.tga|AVI Files(*.avi)|*.avi|ICO Files(*.ico)|*.ico||";
const char kConfigFileFilter[] = "Quorvel Configuration File (*.qvc)|*.qvc||";
// clang-format on
const char kApplyOrientationText[] = "Turn photographs upright (EXIF orientation)";
const char kStripMetadataText[] = "Strip metadata (EXIF, IPTC, XMP, colour profile)";

QStringList QtFiltersFromWindowsFilter(const QString& filter) {
    // The separators stand for the NULs of the platform's filter lists, where
    // the first empty string ends the list ("||").
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.isEmpty() || parts[i + 1].isEmpty()) break;
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString t = p.trimmed();
            if (!t.isEmpty()) patterns << t;
        }
        if (patterns.isEmpty()) continue;
        out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    return out;
}

QString ImageSizeText(int width, int height) {
    return QString::asprintf("%d x %d", width, height);
}

QString DiskSizeText(qint64 bytes) {
    const double kb = double(bytes) / 1024.0;
    if (kb >= 1024.0) return QString::asprintf("Size: %.2f Mb", kb / 1024.0);
    return QString::asprintf("Size: %.2f Kb", kb);
}

QString CreateDateText(const QDate& date) {
    return QString::asprintf("Create: %d.%d.%d", date.day(), date.month(), date.year());
}

QDate FileCreateDate(const QFileInfo& info) {
    const QDateTime birth = info.birthTime();
    return birth.isValid() ? birth.date() : info.lastModified().date();
}

// ---------------------------------------------------------------------------

CImagePreview::CImagePreview(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    m_picture = new QLabel(this);
    m_picture->setFixedSize(kThumbnailSide, kThumbnailSide);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameShape(QFrame::StyledPanel);
    m_size = new QLabel(this);
    m_disk = new QLabel(this);
    m_date = new QLabel(this);
    layout->addWidget(m_picture);
    layout->addWidget(m_size);
    layout->addWidget(m_disk);
    layout->addWidget(m_date);
    layout->addStretch(1);
}

QString CImagePreview::SizeText() const {
    return m_size->text();
}
QString CImagePreview::DiskText() const {
    return m_disk->text();
}
QString CImagePreview::DateText() const {
    return m_date->text();
}

void CImagePreview::Clear() {
    m_thumbnail = QImage();
    m_picture->clear();
    m_size->clear();
    m_disk->clear();
    m_date->clear();
}

void CImagePreview::SetApplyOrientation(bool on) {
    m_applyOrientation = on;
    SetFile(m_path);
}

void CImagePreview::SetFile(const QString& path) {
    Clear();
    m_path = path;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) return;
    m_disk->setText(DiskSizeText(info.size()));
    m_date->setText(CreateDateText(FileCreateDate(info)));

    // The same decoder as the real load, so the thumbnail shows what loading
    // the file will give (and formats Qt cannot read, such as PSD, show too).
    // Formats are chosen by the lower-cased extension, as every load does.
    const std::string local = QFile::encodeName(path).toStdString();
    const std::string lowered = QFile::encodeName(path.toLower()).toStdString();
    if (!IsLoadableStillImage(lowered)) return;
    BMP_File image;
    LoadOptions load;
    load.applyOrientation = m_applyOrientation;
    if (!LoadImageFile(local, image, nullptr, nullptr, load)) return;
    m_size->setText(ImageSizeText(image.Width(), image.Height()));

    const QImage full = QImageFromBmp(image);
    if (full.isNull()) return;
    const int side = kThumbnailSide - 4; // inside the frame
    m_thumbnail = (full.width() > side || full.height() > side)
                      ? full.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                      : full;
    m_picture->setPixmap(QPixmap::fromImage(m_thumbnail));
}

// ---------------------------------------------------------------------------

namespace {

// Shows a non-native dialog with `filters`, starting on filter `filterIndex`
// (1-based, clamped to the list) in the folder remembered for `dialog`. Updates
// filterIndex when it closes and returns the chosen files (empty on Cancel).
QStringList RunFileDialog(QFileDialog& dlg, const QStringList& filters, int& filterIndex,
                          const char* dialog) {
    const QString start = RememberedFolder(dialog);
    if (!start.isEmpty()) dlg.setDirectory(start);
    dlg.setNameFilters(filters);
    if (!filters.isEmpty()) {
        const int start = std::clamp(filterIndex, 1, int(filters.size()));
        dlg.selectNameFilter(filters[start - 1]);
    }
    const int rc = dlg.exec();
    const qsizetype chosen = filters.indexOf(dlg.selectedNameFilter());
    if (chosen >= 0) filterIndex = int(chosen) + 1;
    if (rc != QDialog::Accepted) return {};
    const QStringList files = dlg.selectedFiles();
    // The folder of what was chosen (a typed path may lead elsewhere than the
    // folder shown).
    RememberFolder(dialog, files.isEmpty() ? dlg.directory().absolutePath()
                                           : QFileInfo(files.first()).absolutePath());
    return files;
}

// Adds an option below the file name and filter rows of a non-native dialog.
QCheckBox* AddOption(QFileDialog& dlg, const char* text, bool on) {
    auto* box = new QCheckBox(QString::fromLatin1(text), &dlg);
    box->setChecked(on);
    if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout()))
        grid->addWidget(box, grid->rowCount(), 0, 1, grid->columnCount());
    else
        dlg.layout()->addWidget(box);
    return box;
}

QStringList OpenImages(QWidget* parent, int& filterIndex, QFileDialog::FileMode mode,
                       const char* dialog, bool* applyOrientation = nullptr) {
    QFileDialog dlg(parent, QStringLiteral("Open"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(mode);

    auto* preview = new CImagePreview(&dlg);
    if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    else
        dlg.layout()->addWidget(preview);
    QObject::connect(&dlg, &QFileDialog::currentChanged, preview, &CImagePreview::SetFile);
    QCheckBox* upright = nullptr;
    if (applyOrientation) {
        upright = AddOption(dlg, kApplyOrientationText, *applyOrientation);
        preview->SetApplyOrientation(*applyOrientation);
        QObject::connect(upright, &QCheckBox::toggled, preview,
                         &CImagePreview::SetApplyOrientation);
    }

    const QStringList files =
        RunFileDialog(dlg, QtFiltersFromWindowsFilter(QString::fromLatin1(kOpenImageFilter)),
                      filterIndex, dialog);
    if (upright && !files.isEmpty()) *applyOrientation = upright->isChecked();
    return files;
}

} // namespace

QString RememberedFolder(const char* dialog) {
    const QString folder =
        QSettings("Quorvel", "Pellorin").value(QStringLiteral("Folders/") + dialog).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberFolder(const char* dialog, const QString& folder) {
    if (folder.isEmpty()) return;
    QSettings("Quorvel", "Pellorin").setValue(QStringLiteral("Folders/") + dialog, folder);
}

QString GetOpenImageFile(QWidget* parent, int& filterIndex, const char* dialog,
                         bool* applyOrientation) {
    const QStringList files =
        OpenImages(parent, filterIndex, QFileDialog::ExistingFile, dialog, applyOrientation);
    return files.isEmpty() ? QString() : files.first();
}

QStringList GetOpenImageFiles(QWidget* parent, int& filterIndex, const char* dialog) {
    return OpenImages(parent, filterIndex, QFileDialog::ExistingFiles, dialog);
}

QString GetSaveImageFile(QWidget* parent, int& filterIndex, bool* stripMetadata) {
    QFileDialog dlg(parent, QStringLiteral("Save As"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    QCheckBox* strip = stripMetadata ? AddOption(dlg, kStripMetadataText, *stripMetadata) : nullptr;
    const QStringList files =
        RunFileDialog(dlg, QtFiltersFromWindowsFilter(QString::fromLatin1(kSaveImageFilter)),
                      filterIndex, dialog_folder::kSave);
    if (strip && !files.isEmpty()) *stripMetadata = strip->isChecked();
    return files.isEmpty() ? QString() : files.first();
}

QString GetConfigFile(QWidget* parent, bool save, bool* firstFilterSelected) {
    // Qt's dialogs have no "open as read-only" box, so there is nothing to hide
    // on save and nothing to ignore on load.
    QFileDialog dlg(parent, save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    int filterIndex = 1;
    const QStringList files =
        RunFileDialog(dlg, QtFiltersFromWindowsFilter(QString::fromLatin1(kConfigFileFilter)),
                      filterIndex, dialog_folder::kConfiguration);
    if (firstFilterSelected) *firstFilterSelected = !files.isEmpty() && filterIndex == 1;
    return files.isEmpty() ? QString() : files.first();
}
