#pragma once
// The program's file dialogs: opening a picture (with a preview pane showing a
// thumbnail, the picture's size, its size on disk and its date), saving the
// result, and choosing a configuration file. The filters are kept in the
// Windows-style "description|patterns|..." form and converted for Qt.

#include <QDate>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

class QFileInfo;
class QLabel;

// The filter strings exactly as the program has always offered them, including
// the patterns without a dot ("*gif", "*tga", "*tif"), which match the same
// files on every system.
extern const char kOpenImageFilter[];
extern const char kSaveImageFilter[];
extern const char kConfigFileFilter[];

// "desc|p1;p2|desc2|p3|" -> {"desc (p1 p2)", "desc2 (p3)"}. Every pattern is
// kept as written; the first empty element (the "||" that ends a list) stops.
QStringList QtFiltersFromWindowsFilter(const QString& filter);

// The preview pane's texts.
QString ImageSizeText(int width, int height); // "640 x 480"
QString DiskSizeText(qint64 bytes);           // "Size: 1.50 Kb", from 1024 Kb on "Size: 2.00 Mb"
QString CreateDateText(const QDate& date);    // "Create: day.month.year", e.g. "Create: 7.12.2026"
// The file's birth time where the file system records it, else the time of
// its last modification.
QDate FileCreateDate(const QFileInfo& info);

// The preview pane of the open dialog.
class CImagePreview : public QWidget {
    Q_OBJECT
public:
    explicit CImagePreview(QWidget* parent = nullptr);

    // Shows the file's thumbnail and texts; a folder, a missing file or an empty
    // path clears the pane. Files that are not still pictures (videos) show
    // their size on disk and date only.
    void SetFile(const QString& path);
    // Whether the thumbnail shows a photograph turned upright by its EXIF
    // orientation, as loading it will (true at first). Refreshes the pane.
    void SetApplyOrientation(bool on);

    const QImage& Thumbnail() const { return m_thumbnail; }
    QString SizeText() const;
    QString DiskText() const;
    QString DateText() const;

    static constexpr int kThumbnailSide = 180;

private:
    void Clear();

    QString m_path;
    bool m_applyOrientation = true;
    QImage m_thumbnail;
    QLabel* m_picture;
    QLabel* m_size;
    QLabel* m_disk;
    QLabel* m_date;
};

// Each file dialog starts in the folder it was last accepted in, kept in the
// user's settings under its own name, so that it survives a restart and one
// dialog's folder does not move another's. Empty when none is kept or the
// folder is gone.
namespace dialog_folder {
inline constexpr char kOpen[] = "Open";
inline constexpr char kSave[] = "Save";
inline constexpr char kConfiguration[] = "Configuration";
inline constexpr char kImageOnTop[] = "ImageOnTop";
inline constexpr char kSelectFiles[] = "SelectFiles";
inline constexpr char kSelectFolder[] = "SelectFolder";
} // namespace dialog_folder
QString RememberedFolder(const char* dialog);
void RememberFolder(const char* dialog, const QString& folder);

// The open dialog with preview. filterIndex is 1-based: the dialog starts on
// that filter and, when it closes (also on Cancel), the index holds the filter
// last chosen. Returns the chosen path, or an empty string on Cancel.
// `dialog` names the folder it starts in (see RememberedFolder). With
// applyOrientation the dialog's options offer turning photographs upright by
// their EXIF orientation, starting from *applyOrientation, which holds the
// choice when the user presses OK.
QString GetOpenImageFile(QWidget* parent, int& filterIndex,
                         const char* dialog = dialog_folder::kOpen,
                         bool* applyOrientation = nullptr);
// The same with several files chosen at once (for lists of files).
QStringList GetOpenImageFiles(QWidget* parent, int& filterIndex,
                              const char* dialog = dialog_folder::kSelectFiles);

// The open dialog's option and the Save As dialog's, found by these names.
extern const char kApplyOrientationText[];
extern const char kStripMetadataText[];

// The save dialog. Returns the path as the user typed it (the caller appends
// the extension of the chosen filter when there is none), or empty on Cancel;
// filterIndex as for GetOpenImageFile. With stripMetadata the dialog offers
// saving without the original's metadata (and without any), starting from
// *stripMetadata, which holds the choice when the user presses OK.
QString GetSaveImageFile(QWidget* parent, int& filterIndex, bool* stripMetadata = nullptr);

// "Load Configuration..." (save false) and "Save Configuration..." (save true).
// Returns the chosen path or empty on Cancel; *firstFilterSelected (if given)
// tells whether the configuration-file filter was the selected one, which is
// when the caller appends ".qvc" to a name without extension.
QString GetConfigFile(QWidget* parent, bool save, bool* firstFilterSelected = nullptr);
