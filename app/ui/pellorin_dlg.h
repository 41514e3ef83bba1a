#pragma once
// The main window: owns the processing settings, the three images of the
// pipeline, the two views, the configuration file binding and the folder list.
// Every control writes the settings and asks for a preview run; saving,
// printing and the result viewer run the pipeline at full size.

#include "app/settings_fields.h"
#include "app/ui/bmp_wnd.h"
#include "app/ui/registry_settings.h"
#include "app/view_frames.h"
#include "devices/twain_utils.h"
#include "imageops/ui/dialog_host.h"
#include "pipeline/pipeline.h"
#include "video/frame_source.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QGroupBox;
class CEffectList;
class CVideoBar;
class CVideoWriter;

class CPellorinDlg : public QWidget, public CDialogHost, public CBmpWndHost {
    Q_OBJECT
public:
    explicit CPellorinDlg(QWidget* parent = nullptr);
    ~CPellorinDlg() override;

    // CDialogHost
    ProcessingSettings& Settings() override { return m_settings; }
    // Asks for a preview run. Requests that arrive while one is pending or
    // running are merged into one run after it.
    void Reprocess() override;
    std::pair<int, int> PictureSize() const override {
        return {m_images.original.Width(), m_images.original.Height()};
    }

    // CBmpWndHost
    void OnFrameChanged(CBmpWnd* view) override;
    void OnViewDoubleClicked(CBmpWnd* view) override;
    bool ReplaceColorMode() const override { return m_settings.m_bReplaceColor != 0; }
    void OnColorPicked(CBmpWnd* view, bool source, CColor24 color) override;

    // The flows, callable without their file dialogs.
    bool LoadFile(const QString& path); // load, folder list, install
    bool LoadNext();
    bool LoadPrevious();
    bool SaveAs(QString path, int filterIndex); // appends the filter's extension
    bool Save();
    bool LoadConfiguration(const QString& path);
    bool SaveConfiguration(QString path, bool firstFilter);
    void ShowResult();

    // Runs the pipeline in preview mode now and shows the result.
    void RunPreviewNow();
    // Runs the pipeline at full size off the user-interface thread, with a
    // progress dialog the user may cancel; the result is in Images().work.
    // False when a step failed (the user is told) or the user cancelled.
    bool RunFinal();

    int PipelineRuns() const { return m_runs; }
    const ImageSet& Images() const { return m_images; }
    ImageSet& Images() { return m_images; }
    CBmpWnd* OriginalView() const { return m_original; }
    CBmpWnd* DestinationView() const { return m_destination; }
    CEffectList* EffectList() const { return m_effects; }
    const std::vector<std::string>& FolderList() const { return m_folderList; }
    int LoadFilterIndex() const { return m_loadFilterIndex; }
    void SetLoadFilterIndex(int index) { m_loadFilterIndex = index; }
    const QString& CurrentFile() const { return m_currentFile; }
    // The open dialog's option: photographs turned upright by their EXIF
    // orientation on loading. The Save As dialog's: no metadata in saved files.
    bool ApplyOrientation() const { return m_applyOrientation; }
    void SetApplyOrientation(bool on) { m_applyOrientation = on; }
    bool StripMetadata() const { return m_stripMetadata; }
    void SetStripMetadata(bool on) { m_stripMetadata = on; }
    const DeviceChoices& Devices() const { return m_devices; }
    DeviceChoices& Devices() { return m_devices; }
    ViewSize PreviewSize() const;

    // Acquisition: "Scan Now...", "TWAIN Settings...", "WEB Camera..." and
    // the sources dialog. A scan or a camera picture becomes the new original.
    bool ScanNow();
    bool OpenTwainSettings();
    bool OpenWebCamera();
    void SelectSources();
    ScanState& Scanning() { return m_scan; }
    void InstallAcquired(const BMP_File& image);

    // Shrinks the window, if need be, to fit a screen area of `available`
    // with room for a title bar (the correction column then scrolls).
    void FitOnScreen(const QRect& available);

    // Sets every control from the settings (after a configuration load).
    void UpdateControls();

    // Image on top: lays a picture over the original view inside a placement
    // frame; PutImage blends it into the original for good.
    bool AddImageOnTop(const QString& path);
    bool PutImage();
    void SetTransparency(float t);
    bool OverlayActive() const { return m_overlayActive; }
    IntRect& PlacementFrame() { return m_placement; }

    // A loaded AVI video or animated GIF: the frame slider browses it, and
    // saving as avi or gif writes every frame through the treatment.
    bool AnimationLoaded() const { return m_animation != nullptr; }
    FrameSource* Animation() const { return m_animation.get(); }
    int CurrentFrame() const { return m_currentFrame; }
    CVideoBar* VideoBar() const { return m_videoBar; }
    // Makes frame i the source picture and runs the preview (the slider's move).
    bool ShowFrame(int i);
    bool VideoWriting() const;
    bool VideoStopRequested() const;
    // Called on the writing thread as each frame is about to be processed.
    std::function<void(int)> videoFrameHook;

protected:
    void showEvent(QShowEvent*) override;
    void dragEnterEvent(class QDragEnterEvent*) override;
    void dropEvent(class QDropEvent*) override;
    void childEvent(QChildEvent*) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildUi();
    // Gives the window the size at which both views are kDefaultViewWidth x
    // kDefaultViewHeight.
    void SizeForDefaultViews();
    QWidget* BuildFileButtons();
    QWidget* BuildChainControls();
    bool LoadAndInstall(const std::string& realPath);
    // AVI files, and GIF files of two or more frames: true when the path was
    // handled (loaded, or refused with a message), with the outcome in `loaded`.
    bool LoadAnimation(const std::string& realPath, bool& loaded);
    void ClearAnimation();
    // Saving while a video or animation is loaded (or into an AVI file).
    bool IsVideoSave(const QString& path) const;
    bool SaveVideo(const QString& path);
    bool WriteVideo(const QString& path, std::string& error);
    void SetVideoControlsEnabled(bool on);
    bool SaveTo(const QString& path); // the full-size result; says why it failed
    // RunFinal, then `commit` (when given) on the same worker thread, which from
    // then on the user can no longer cancel. True when both succeeded.
    bool RunFinalThen(const std::function<bool()>& commit);
    void RebuildFolderList();
    void SetTitle(const QString& lowerPath);
    void ShowOriginal(); // the original view shows the original image
    void CopyFramesIntoSettings();
    ViewPair Views() const; // the sizes of the two views
    void PickColor(CColor24& target, QPushButton* swatch, const QString& title);
    void PaintSwatch(QPushButton* swatch, CColor24 c);
    void ShowError(const QString& text, const QString& caption = "Error");
    void UpdateDeviceButtons(); // enabled only with a source chosen
    // A failed load: the loader's message and the file's name, with the
    // decoder's own reason below them when there is one.
    void ShowLoadError(const std::string& path, const std::string& message,
                       const std::string& reason);

    ProcessingSettings m_settings;
    ImageSet m_images;
    SettingsFile m_config{m_settings};
    DeviceChoices m_devices;
    ScanState m_scan; // the scan area, counter and options of this run

    std::vector<std::string> m_folderList;
    int m_folderIndex = -1;
    QString m_currentFile;     // lower-cased, as shown in the title
    std::string m_currentPath; // the real path on disk
    QString m_outputFile;
    int m_loadFilterIndex = 1;
    int m_saveFilterIndex = 1;
    bool m_applyOrientation = true;
    bool m_stripMetadata = false;
    QStringList m_selectFileList; // what "Select File..." showed last

    CBmpWnd* m_original = nullptr;
    CBmpWnd* m_destination = nullptr;
    CEffectList* m_effects = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_saveAs = nullptr;
    QPushButton* m_scanNow = nullptr;
    QPushButton* m_twainSettings = nullptr;
    QPushButton* m_webCamera = nullptr;
    QCheckBox* m_crop = nullptr;
    QCheckBox* m_light[3] = {};
    QCheckBox* m_lightEdit[3] = {};
    QPushButton* m_lightSwatch[3] = {};
    QCheckBox* m_resize = nullptr;
    QLineEdit* m_sizeX = nullptr;
    QLineEdit* m_sizeY = nullptr;
    QCheckBox* m_flipY = nullptr; // "Vertical"
    QCheckBox* m_flipX = nullptr; // "Horizontal"
    QSlider* m_rotate = nullptr;
    QPushButton* m_bkgColor = nullptr;
    QCheckBox* m_replace = nullptr;
    QPushButton* m_replaceSource = nullptr;
    QPushButton* m_replaceTarget = nullptr;

    // Check boxes bound one to one to a flag of the settings.
    std::vector<std::pair<QCheckBox*, int32_t*>> m_toggles;
    QSlider* m_transparencySlider = nullptr;

    BMP_File m_overlay;
    bool m_overlayActive = false;
    IntRect m_placement;
    float m_transparency = 100.0f;
    int m_overlayFilterIndex = 1;

    // Non-zero while a settings dialog is being opened: it is then placed
    // beside the destination view (see childEvent).
    int m_settingsDialogs = 0;
    struct SettingsDialogScope {
        explicit SettingsDialogScope(int& n) : count(n) { ++count; }
        ~SettingsDialogScope() { --count; }
        SettingsDialogScope(const SettingsDialogScope&) = delete;
        SettingsDialogScope& operator=(const SettingsDialogScope&) = delete;
        int& count;
    };

    std::unique_ptr<FrameSource> m_animation;
    int m_currentFrame = 0;
    CVideoBar* m_videoBar = nullptr;
    std::unique_ptr<CVideoWriter> m_videoWriter;
    AviCodecOptions m_codec;
    bool m_zembraWarned = false; // the missing animated GIF library is told once
    std::vector<std::pair<QWidget*, bool>> m_disabledForVideo;

    bool m_previewPending = false;
    bool m_running = false;
    bool m_finalRunning = false; // a full-size run is on the worker thread
    bool m_firstShow = true;
    int m_runs = 0;
};
