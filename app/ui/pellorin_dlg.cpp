#include "app/ui/pellorin_dlg.h"

#include "app/file_util.h"
#include "app/folder_list.h"
#include "app/image_files.h"
#include "app/noise/sarnel_dlg.h"
#include "app/ui/background_run.h"
#include "app/ui/effect_list.h"
#include "app/ui/help_dialog.h"
#include "app/ui/open_image_dialog.h"
#include "app/ui/print_support.h"
#include "app/ui/result_viewer.h"
#include "app/ui/select_file_dlg.h"
#include "app/ui/update_check.h"
#include "app/view_frames.h"
#include "devices/ui/scan_dlgs.h"
#include "devices/ui/web_camera_dlg.h"
#include "imageops/image_on_top.h"
#include "imageops/ui/add_text_dlg.h"
#include "imageops/ui/effect_dialogs.h"
#include "imageops/ui/overlay_dialogs.h"
#include "shell/ui/file_associates_dlg.h"
#include "upload/ui/upload_dlg.h"
#include "video/avi_video_file.h"
#include "video/frame_loop.h"
#include "video/gif_animation.h"
#include "video/ui/choose_codec_dlg.h"
#include "video/ui/video_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const kSaveExtensions[] = {".png", ".jpg", ".gif", ".bmp",
                                       ".tif", ".tga", ".avi", ".ico"};

QString LowerPath(const QString& p) {
    return QString::fromStdString(ToLowerAscii(p.toStdString()));
}

} // namespace

CPellorinDlg::CPellorinDlg(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Pellorin");
    setAcceptDrops(true);
    QSettings registry("Quorvel", "Pellorin");
    m_devices.Read(registry);
    m_applyOrientation = registry.value("Settings/ApplyOrientation", true).toBool();
    m_stripMetadata = registry.value("Settings/StripMetadata", false).toBool();
    StartUpdateCheck(registry);
    BuildUi();
    UpdateControls();
}

CPellorinDlg::~CPellorinDlg() {
    QSettings registry("Quorvel", "Pellorin");
    m_devices.Write(registry);
    registry.setValue("Settings/ApplyOrientation", m_applyOrientation);
    registry.setValue("Settings/StripMetadata", m_stripMetadata);
}

ViewSize CPellorinDlg::PreviewSize() const {
    return ViewSize{std::max(1, m_destination->width()), std::max(1, m_destination->height())};
}

void CPellorinDlg::BuildUi() {
    m_original = new CBmpWnd(CBmpWnd::Original, m_settings, *this);
    m_destination = new CBmpWnd(CBmpWnd::Destination, m_settings, *this);
    auto* originalBox = new QGroupBox("Original Image");
    (new QVBoxLayout(originalBox))->addWidget(m_original);
    auto* destinationBox = new QGroupBox("Processing Image");
    (new QVBoxLayout(destinationBox))->addWidget(m_destination);

    m_effects = new CEffectList(m_settings);
    m_effects->onChanged = [this] { Reprocess(); };
    m_effects->onEdit = [this](int id) {
        const SettingsDialogScope placed(m_settingsDialogs);
        return OpenEffectDialog(id, *this, this);
    };

    auto* views = new QHBoxLayout;
    views->addWidget(originalBox, 1);
    views->addWidget(destinationBox, 1);
    auto* center = new QVBoxLayout;
    center->addLayout(views, 3);
    // The frame slider and "Stop!" of a loaded video, hidden otherwise.
    m_videoBar = new CVideoBar;
    m_videoBar->onFrameChosen = [this](int frame) { ShowFrame(frame); };
    m_videoBar->onStop = [this] {
        if (!VideoWriting()) return;
        m_videoWriter->Stop();
        QMessageBox::information(this, "Information", "Video processing has been stopped by user");
    };
    m_videoWriter = std::make_unique<CVideoWriter>();
    center->addWidget(m_videoBar);
    center->addWidget(m_effects, 1);

    auto* top = new QHBoxLayout(this);
    top->addWidget(BuildFileButtons());
    top->addLayout(center, 1);
    // The correction controls are the tallest column: they scroll, so that
    // the window fits a small screen with every control reachable.
    QWidget* chain = BuildChainControls();
    auto* chainScroll = new QScrollArea;
    chainScroll->setObjectName("chainControls");
    chainScroll->setWidget(chain);
    chainScroll->setWidgetResizable(true);
    chainScroll->setFrameShape(QFrame::NoFrame);
    chainScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    chainScroll->setMinimumWidth(chain->sizeHint().width() +
                                 chainScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    chainScroll->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    top->addWidget(chainScroll);
    SizeForDefaultViews();
}

namespace {

// Lays out a window that is not shown yet (its layouts otherwise wait for the
// first show), so that the sizes of its parts can be read.
void LayOutNow(QWidget* w) {
    if (QLayout* l = w->layout()) {
        l->activate();
        l->setGeometry(w->contentsRect());
    }
    for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) LayOutNow(c);
}

} // namespace

void CPellorinDlg::SizeForDefaultViews() {
    // A size at which every control fits, then corrections until both views
    // have the default view size: the views share extra width between them
    // and extra height with the effect list, so one step may fall short, but
    // each one closes part of the gap and never overshoots it.
    ensurePolished();
    resize(1300, 860);
    const QSize want(kDefaultViewWidth, kDefaultViewHeight);
    for (int step = 0; step < 16; ++step) {
        LayOutNow(this);
        const QSize o = m_original->size(), d = m_destination->size();
        if (o == want && d == want) return;
        const int dx = (want.width() - o.width()) + (want.width() - d.width());
        const int dy = want.height() - d.height();
        const QSize before = size();
        resize(width() + dx, height() + dy);
        if (size() == before) return; // held by the controls' minimum size
    }
}

void CPellorinDlg::FitOnScreen(const QRect& available) {
    // The default size gives both views their default size; a smaller screen
    // (a 768-pixel laptop) gets the largest window that fits instead.
    constexpr int kTitleBar = 40;
    const QSize room(available.width(), available.height() - kTitleBar);
    if (width() <= room.width() && height() <= room.height()) return;
    resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
}

QWidget* CPellorinDlg::BuildFileButtons() {
    auto* panel = new QWidget;
    auto* l = new QVBoxLayout(panel);
    auto add = [&](const QString& text, auto fn) {
        auto* b = new QPushButton(text, panel);
        connect(b, &QPushButton::clicked, this, fn);
        l->addWidget(b);
        return b;
    };
    add("&Load From Disk...", [this] {
        const QString path =
            GetOpenImageFile(this, m_loadFilterIndex, dialog_folder::kOpen, &m_applyOrientation);
        if (!path.isEmpty()) LoadFile(path);
    });
    add("Select File...", [this] {
        // The list the user built is kept for the next time.
        CSelectFileDlg dlg(this);
        dlg.SetFiles(m_selectFileList);
        dlg.exec();
        m_selectFileList = dlg.Files();
        const QString file = dlg.CurrentFile();
        if (file.isEmpty()) return;
        // Load and install, without rebuilding the folder list.
        if (LoadAndInstall(file.toStdString())) SetTitle(LowerPath(file));
    });
    add("<< Load &Previous", [this] { LoadPrevious(); });
    add("Load &Next >>", [this] { LoadNext(); });
    l->addSpacing(8);
    m_save = add("&Save", [this] { Save(); });
    m_save->setEnabled(false);
    m_saveAs = add("Save &As...", [this] {
        int index = m_saveFilterIndex;
        const QString path = GetSaveImageFile(this, index, &m_stripMetadata);
        if (path.isEmpty()) return;
        m_saveFilterIndex = index;
        SaveAs(path, index);
    });
    m_saveAs->setEnabled(false); // as "Save": nothing to save yet
    l->addSpacing(8);
    add("Load Configuration...", [this] {
        const QString path = GetConfigFile(this, false);
        if (!path.isEmpty()) LoadConfiguration(path);
    });
    add("Save Configuration...", [this] {
        bool firstFilter = true;
        const QString path = GetConfigFile(this, true, &firstFilter);
        if (!path.isEmpty()) SaveConfiguration(path, firstFilter);
    });
    l->addSpacing(8);
    m_scanNow = add("Scan Now...", [this] { ScanNow(); });
    m_twainSettings = add("TWAIN Settings...", [this] { OpenTwainSettings(); });
    m_webCamera = add("WEB Camera...", [this] { OpenWebCamera(); });
    add("Select TWAIN And Video Sources...", [this] { SelectSources(); });
    UpdateDeviceButtons();
    l->addSpacing(8);
    add("Print...", [this] {
        if (RunFinal()) PrintImage(m_images.work, this);
        RunPreviewNow();
    });
    add("Print Preview...", [this] {
        if (RunFinal()) PrintPreviewImage(m_images.work, this);
        RunPreviewNow();
    });
    add("Print Setup...", [this] { PrintSetup(this); });
    add("Advanced Print Preview...", [this] {
        if (RunFinal()) AdvancedPrintPreview(m_images.work, this);
        RunPreviewNow();
    });
    add("Upload Image to External Server....", [this] {
        // The full-size result goes out, as Save As would write it.
        RunImageUpload(this, [this](const std::string& path, std::string* message) {
            if (m_images.work.Empty()) {
                *message = "No picture is loaded.";
                return false;
            }
            const bool ok = RunFinal() && SaveImageFile(path, m_images.work, message);
            RunPreviewNow();
            return ok;
        });
    });
    l->addSpacing(8);
    add("File Associates...", [this] {
        CFileAssociatesDlg dlg(this);
        dlg.exec();
    });
    add("Help...", [this] { ShowHelp(this); });
    add("About...", [this] { ShowAbout(this); });
    l->addStretch();
    return panel;
}

QWidget* CPellorinDlg::BuildChainControls() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    int row = 0;
    auto toggle = [&](const QString& text, int32_t* field, int col = 0, int span = 2) {
        auto* c = new QCheckBox(text, panel);
        connect(c, &QCheckBox::toggled, this, [this, field](bool on) {
            *field = on ? 1 : 0;
            Reprocess();
        });
        grid->addWidget(c, row, col, 1, span);
        m_toggles.emplace_back(c, field);
        return c;
    };
    // A correction with its own settings dialog: the check box turns it on,
    // "..." opens the dialog.
    auto withDialog = [&](const QString& text, int32_t* field,
                          void (*open)(CDialogHost&, QWidget*)) {
        toggle(text, field, 0, 1);
        auto* more = new QPushButton("...", panel);
        more->setFixedWidth(36);
        connect(more, &QPushButton::clicked, this, [this, open] {
            const SettingsDialogScope placed(m_settingsDialogs);
            open(*this, this);
            UpdateControls();
        });
        grid->addWidget(more, row++, 1);
    };

    m_crop = new QCheckBox("Crop", panel);
    connect(m_crop, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.m_bCrop = on ? 1 : 0;
        m_settings.m_cBmpWndOriginal.m_bCrop = m_settings.m_bCrop;
        CopyFramesIntoSettings();
        m_original->update();
        Reprocess();
    });
    grid->addWidget(m_crop, row++, 0, 1, 2);

    for (int i = 0; i < 3; ++i) {
        m_light[i] = toggle(QString("Light%1").arg(i + 1), &m_settings.m_bLight[i], 0, 1);
        m_lightSwatch[i] = new QPushButton(panel);
        m_lightSwatch[i]->setFixedSize(36, 20);
        m_lightSwatch[i]->setToolTip("Light colour");
        connect(m_lightSwatch[i], &QPushButton::clicked, this, [this, i] {
            auto& c = m_settings.m_LightColor[i];
            const QColor chosen = QColorDialog::getColor(QColor(c.r, c.g, c.b), this,
                                                         QString("Light%1 Color").arg(i + 1));
            if (!chosen.isValid()) return;
            c = ChannelInts{chosen.red(), chosen.green(), chosen.blue()};
            PaintSwatch(m_lightSwatch[i], CColor24(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)));
            Reprocess();
        });
        grid->addWidget(m_lightSwatch[i], row, 1);
        ++row;
        m_lightEdit[i] = new QCheckBox(QString("Edit Light%1").arg(i + 1), panel);
        connect(m_lightEdit[i], &QCheckBox::toggled, this, [this, i](bool on) {
            m_settings.m_bLightEdit[i] = on ? 1 : 0;
            if (on) {
                // One light frame is edited at a time.
                for (int j = 0; j < 3; ++j) {
                    if (j == i) continue;
                    m_settings.m_bLightEdit[j] = 0;
                    QSignalBlocker block(m_lightEdit[j]);
                    m_lightEdit[j]->setChecked(false);
                }
            }
            for (int j = 0; j < 3; ++j)
                m_settings.m_cBmpWndDestination[j].m_bLight = m_settings.m_bLightEdit[j];
            m_destination->update();
            Reprocess();
        });
        grid->addWidget(m_lightEdit[i], row++, 0, 1, 2);
    }

    m_resize = toggle("Resize", &m_settings.m_bResize);
    ++row;
    m_sizeX = new QLineEdit(panel);
    m_sizeY = new QLineEdit(panel);
    for (auto [edit, field, label] : {std::tuple{m_sizeX, &m_settings.m_nSizeX, "SizeX"},
                                      std::tuple{m_sizeY, &m_settings.m_nSizeY, "SizeY"}}) {
        edit->setValidator(new QIntValidator(0, BMP_File::kMaxSide, edit));
        connect(edit, &QLineEdit::textEdited, this, [this, field = field](const QString& t) {
            *field = t.toInt();
            Reprocess();
        });
        grid->addWidget(new QLabel(label, panel), row, 0);
        grid->addWidget(edit, row++, 1);
    }

    auto* left = new QPushButton("Rot. left", panel);
    auto* right = new QPushButton("Rot. right", panel);
    connect(left, &QPushButton::clicked, this, [this] {
        m_settings.RotateLeft();
        Reprocess();
    });
    connect(right, &QPushButton::clicked, this, [this] {
        m_settings.RotateRight();
        Reprocess();
    });
    grid->addWidget(left, row, 0);
    grid->addWidget(right, row++, 1);
    m_flipY = toggle("Vertical", &m_settings.m_bFlipY, 0, 1);
    m_flipX = toggle("Horizontal", &m_settings.m_bFlipX, 1, 1);
    ++row;

    grid->addWidget(new QLabel("Rotate Angle", panel), row++, 0, 1, 2);
    m_rotate = new QSlider(Qt::Horizontal, panel);
    m_rotate->setRange(0, 360);
    m_rotate->setValue(180);
    connect(m_rotate, &QSlider::valueChanged, this, [this](int pos) {
        m_settings.m_fRotateAngle = float(pos - 180);
        Reprocess();
    });
    grid->addWidget(m_rotate, row++, 0, 1, 2);
    m_bkgColor = new QPushButton("BKG. Color", panel);
    connect(m_bkgColor, &QPushButton::clicked, this,
            [this] { PickColor(m_settings.m_cBKGRotationColor, nullptr, "Background Color"); });
    grid->addWidget(m_bkgColor, row++, 0, 1, 2);

    m_replace = new QCheckBox("Replace Color", panel);
    connect(m_replace, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.m_bReplaceColor = on ? 1 : 0;
        Reprocess();
    });
    grid->addWidget(m_replace, row++, 0, 1, 2);
    m_replaceSource = new QPushButton("Source", panel);
    m_replaceTarget = new QPushButton("Target", panel);
    connect(m_replaceSource, &QPushButton::clicked, this,
            [this] { PickColor(m_settings.m_cReplaceSource, m_replaceSource, "Source Color"); });
    connect(m_replaceTarget, &QPushButton::clicked, this,
            [this] { PickColor(m_settings.m_cReplaceTarget, m_replaceTarget, "Target Color"); });
    grid->addWidget(m_replaceSource, row, 0);
    grid->addWidget(m_replaceTarget, row++, 1);

    withDialog("Adjust Color", &m_settings.m_bColorAdjusment, &OpenAdjustColorDialog);
    withDialog("Color Filter", &m_settings.m_bColorFilter, &OpenColorFilterDialog);
    withDialog("Set Perspective", &m_settings.m_bPerspective, &OpenPerspectiveDialog);
    withDialog("Set Noise", &m_settings.m_bSetNoise, &OpenNoiseDialog);
    withDialog("Set RGB Noise", &m_settings.m_bSetRGBNoise, &OpenRGBNoiseDialog);
    withDialog("Set Mask", &m_settings.m_bSetMask, &OpenMaskDialog);
    auto* maskColor = new QPushButton("Set Mask Color...", panel);
    connect(maskColor, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(
            QColor(m_settings.m_nMaskColorR, m_settings.m_nMaskColorG, m_settings.m_nMaskColorB),
            this, "Mask Color");
        if (!chosen.isValid()) return;
        m_settings.m_nMaskColorR = chosen.red();
        m_settings.m_nMaskColorG = chosen.green();
        m_settings.m_nMaskColorB = chosen.blue();
        if (m_settings.m_bSetMask) Reprocess();
    });
    grid->addWidget(maskColor, row++, 0, 1, 2);
    withDialog("Set Mosaic", &m_settings.bMosaic, &OpenMosaicDialog);
    withDialog("Set Border", &m_settings.m_bSetBorder, &OpenBorderDialog);
    // The pipeline starts from the noise-reduced copy while "Noise Reduce" is
    // ticked; "..." makes that copy with the noise-reduction dialog.
    toggle("Noise Reduce", &m_settings.bNoise, 0, 1);
    auto* noiseReduce = new QPushButton("...", panel);
    noiseReduce->setFixedWidth(36);
    noiseReduce->setObjectName("noiseReduceDialog");
    connect(noiseReduce, &QPushButton::clicked, this, [this] {
        const auto reprocess = [this] { Reprocess(); };
        OpenSarnelDialog(m_images, reprocess, this);
    });
    grid->addWidget(noiseReduce, row++, 1);

    auto* addText = new QPushButton("Add Text...", panel);
    connect(addText, &QPushButton::clicked, this, [this] {
        const SettingsDialogScope placed(m_settingsDialogs);
        OpenAddTextDialog(
            m_images,
            [this] {
                // The text is part of the original from now on.
                ShowOriginal();
                RunPreviewNow();
            },
            this);
    });
    grid->addWidget(addText, row++, 0, 1, 2);
    auto* onTop = new QPushButton("Add Image on Top...", panel);
    connect(onTop, &QPushButton::clicked, this, [this] {
        const QString path =
            GetOpenImageFile(this, m_overlayFilterIndex, dialog_folder::kImageOnTop);
        if (!path.isEmpty()) AddImageOnTop(path);
    });
    grid->addWidget(onTop, row++, 0, 1, 2);
    auto* put = new QPushButton("Put Image", panel);
    connect(put, &QPushButton::clicked, this, [this] { PutImage(); });
    grid->addWidget(put, row++, 0, 1, 2);
    grid->addWidget(new QLabel("Transparency", panel), row++, 0, 1, 2);
    m_transparencySlider = new QSlider(Qt::Horizontal, panel);
    m_transparencySlider->setRange(0, 100);
    m_transparencySlider->setValue(100);
    connect(m_transparencySlider, &QSlider::valueChanged, this,
            [this](int v) { SetTransparency(float(v)); });
    grid->addWidget(m_transparencySlider, row++, 0, 1, 2);

    grid->setRowStretch(row, 1);
    return panel;
}

void CPellorinDlg::PaintSwatch(QPushButton* swatch, CColor24 c) {
    if (!swatch) return;
    const QColor q(c.r, c.g, c.b);
    const QColor text = qGray(q.rgb()) > 128 ? Qt::black : Qt::white;
    swatch->setStyleSheet(QString("background-color: %1; color: %2;").arg(q.name(), text.name()));
}

void CPellorinDlg::PickColor(CColor24& target, QPushButton* swatch, const QString& title) {
    const QColor chosen = QColorDialog::getColor(QColor(target.r, target.g, target.b), this, title);
    if (!chosen.isValid()) return;
    target = CColor24(uint8_t(chosen.red()), uint8_t(chosen.green()), uint8_t(chosen.blue()));
    PaintSwatch(swatch, target);
    Reprocess();
}

void CPellorinDlg::UpdateControls() {
    // Setting a control must not run the pipeline once per control.
    const bool wasLoading = m_images.loading;
    m_images.loading = true;
    auto set = [](QCheckBox* c, int32_t v) {
        QSignalBlocker b(c);
        c->setChecked(v != 0);
    };
    set(m_crop, m_settings.m_bCrop);
    for (auto [box, field] : m_toggles) set(box, *field);
    for (int i = 0; i < 3; ++i) {
        set(m_lightEdit[i], m_settings.m_bLightEdit[i]);
        m_settings.m_cBmpWndDestination[i].m_bLight = m_settings.m_bLightEdit[i];
        const auto& c = m_settings.m_LightColor[i];
        PaintSwatch(m_lightSwatch[i], CColor24(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)));
    }
    m_settings.m_cBmpWndOriginal.m_bCrop = m_settings.m_bCrop;
    set(m_replace, m_settings.m_bReplaceColor);
    {
        QSignalBlocker a(m_sizeX), b(m_sizeY), c(m_rotate);
        m_sizeX->setText(QString::number(m_settings.m_nSizeX));
        m_sizeY->setText(QString::number(m_settings.m_nSizeY));
        m_rotate->setValue(int(m_settings.m_fRotateAngle) + 180);
    }
    PaintSwatch(m_replaceSource, m_settings.m_cReplaceSource);
    PaintSwatch(m_replaceTarget, m_settings.m_cReplaceTarget);
    m_images.loading = wasLoading;
}

void CPellorinDlg::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!m_firstShow) return;
    m_firstShow = false;
    // Values that depend on the view size are set once the views have one: the
    // crop and light rectangles cover the whole view, the frames sit 5 pixels
    // inside it so that their inflated rectangles are exactly the view.
    // Each view's frames are placed in its own size (the two may differ by a
    // pixel); the rectangles are in the destination view's pixels, which the
    // pipeline scales by.
    const int w = m_original->width(), h = m_original->height();
    m_settings.SetViewDefaults(m_destination->width(), m_destination->height());
    SetDefaultFrames(m_settings, m_destination->width(), m_destination->height());
    ProcessingSettings forOriginal;
    SetDefaultFrames(forOriginal, w, h);
    m_settings.m_cBmpWndOriginal.m_cRectTracker = forOriginal.m_cBmpWndOriginal.m_cRectTracker;
    m_original->FractionsFromFrames();
    m_destination->FractionsFromFrames();
    UpdateControls();
}

namespace {

// Where a window of `size` goes so that it leaves `keep` uncovered: right of
// it, else left of it, top-aligned with it, kept on the screen; where neither
// side has room, the side with more room, moved onto the screen.
QPoint PlaceBeside(const QRect& keep, const QSize& size, const QRect& screen) {
    constexpr int kGap = 8;
    const int right = keep.right() + 1 + kGap, left = keep.left() - kGap - size.width();
    int x;
    if (right + size.width() <= screen.right() + 1)
        x = right;
    else if (left >= screen.left())
        x = left;
    else
        x = screen.right() + 1 - keep.right() >= keep.left() - screen.left() ? right : left;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    const int y = std::clamp(keep.top(), screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return QPoint(x, y);
}

} // namespace

void CPellorinDlg::childEvent(QChildEvent* e) {
    QWidget::childEvent(e);
    // A settings dialog is placed beside the "Processing Image" view when it
    // is shown, so that the preview it drives stays in sight. Message boxes and
    // the file, colour and font pickers keep their usual place.
    if (e->type() != QEvent::ChildPolished || m_settingsDialogs == 0) return;
    auto* dialog = qobject_cast<QDialog*>(e->child());
    if (!dialog || qobject_cast<QMessageBox*>(dialog) || qobject_cast<QFileDialog*>(dialog) ||
        qobject_cast<QColorDialog*>(dialog) || qobject_cast<QFontDialog*>(dialog))
        return;
    dialog->installEventFilter(this);
}

bool CPellorinDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Show) {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog && dialog->parentWidget() == this && dialog->isWindow()) {
            dialog->removeEventFilter(this);
            QWidget* view = m_destination->parentWidget(); // the "Processing Image" box
            const QRect keep(view->mapToGlobal(QPoint(0, 0)), view->size());
            QScreen* screen = this->screen();
            const QRect area = screen ? screen->availableGeometry() : QRect(keep);
            const QSize frame = dialog->frameGeometry().size();
            const QPoint at = PlaceBeside(keep, frame, area);
            // The frame's top-left; the widget's own position is inside it.
            dialog->move(at + (dialog->pos() - dialog->frameGeometry().topLeft()));
        }
    }
    return QWidget::eventFilter(watched, e);
}

void CPellorinDlg::Reprocess() {
    if (m_previewPending) return;
    m_previewPending = true;
    // Runs once the events already waiting are handled, so a burst of slider
    // moves gives one run with the latest values.
    QTimer::singleShot(0, this, [this] {
        m_previewPending = false;
        RunPreviewNow();
    });
}

void CPellorinDlg::RunPreviewNow() {
    // The full-size run on the worker owns the work image; whoever started it
    // shows the preview again when it ends.
    if (m_finalRunning) return;
    if (m_running) {
        Reprocess();
        return;
    }
    m_effects->SyncChecks();
    m_running = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ran = Process(m_images, m_settings, ProcessMode::Preview, PreviewSize());
    QApplication::restoreOverrideCursor();
    m_running = false;
    if (!ran) return;
    ++m_runs;
    // Without a display bitmap the view keeps the picture it had.
    if (!m_destination->SetImage(m_images.work)) ShowError("Create Bitmap Error");
}

bool CPellorinDlg::RunFinal() {
    return RunFinalThen(nullptr);
}

bool CPellorinDlg::RunFinalThen(const std::function<bool()>& commit) {
    m_effects->SyncChecks();
    if (m_images.work.Empty() || m_images.loading) return false;
    // The worker gets its own copy of the settings: the dialog is modal, but
    // nothing should depend on that to keep the run consistent.
    const ProcessingSettings settings = m_settings;
    const ViewSize view = PreviewSize();
    std::string error;
    bool ran = false;
    m_finalRunning = true;
    const bool done = RunInBackground(this, "Pellorin", [&](CBackgroundRun& run) {
        RunObserver observer{[&run](int step, int steps) { return run.Step(step, steps); }};
        ran = Process(m_images, settings, ProcessMode::Final, view, &error, &observer);
        if (!ran) return false;
        if (!commit) return true;
        // Once writing starts it finishes: a cancel now would leave nothing
        // better than the file it has written.
        return run.BeginCommit() && commit();
    });
    m_finalRunning = false;
    if (ran) ++m_runs;
    // A step that could not make its picture: nothing is saved, printed or shown.
    if (!ran && !error.empty()) ShowError(QString::fromStdString(error));
    return done;
}

void CPellorinDlg::ShowOriginal() {
    // A view that keeps the previous original would show a picture that is no
    // longer the one being processed: better none.
    if (!m_original->SetImage(m_images.original)) m_original->SetImage(BMP_File());
}

void CPellorinDlg::SetTitle(const QString& lowerPath) {
    setWindowTitle("Pellorin - " + lowerPath);
}

void CPellorinDlg::ShowError(const QString& text, const QString& caption) {
    QMessageBox::critical(this, caption, text);
}

void CPellorinDlg::ShowLoadError(const std::string& path, const std::string& message,
                                 const std::string& reason) {
    // The file's name below the message: stepping through a folder, the user
    // must see which picture failed.
    const QString name = QFileInfo(QString::fromStdString(path)).fileName();
    QMessageBox box(QMessageBox::Critical, "Error", QString::fromStdString(message) + "\n" + name,
                    QMessageBox::Ok, this);
    if (!reason.empty()) box.setInformativeText(QString::fromStdString(reason));
    box.exec();
}

bool CPellorinDlg::LoadAndInstall(const std::string& realPath) {
    bool animationLoaded = false;
    if (LoadAnimation(realPath, animationLoaded)) return animationLoaded;
    BMP_File image;
    ImageMetadata metadata;
    std::string message, reason, warning;
    LoadOptions load;
    load.applyOrientation = m_applyOrientation;
    load.metadata = &metadata;
    load.warning = &warning;
    if (!LoadImageFile(realPath, image, &message, &reason, load)) {
        ShowLoadError(realPath, message, reason);
        return false;
    }
    m_currentPath = realPath;
    m_currentFile = LowerPath(QString::fromStdString(realPath));
    m_images.Install(image, std::move(metadata));
    ClearAnimation();
    // The picture is loaded all the same; the user hears what was dropped.
    if (!warning.empty()) QMessageBox::warning(this, "Warning", QString::fromStdString(warning));
    ShowOriginal();
    RunPreviewNow();
    m_save->setEnabled(true);
    m_saveAs->setEnabled(true);
    return true;
}

void CPellorinDlg::RebuildFolderList() {
    const QFileInfo info(QString::fromStdString(m_currentPath));
    m_folderList = ListFolderImages(info.absolutePath().toStdString(), m_loadFilterIndex);
    m_folderIndex = IndexInFolderList(m_folderList, info.absoluteFilePath().toStdString());
}

bool CPellorinDlg::LoadFile(const QString& path) {
    // File names keep their case on disk; the lower-cased form is what the
    // title shows and what the folder list compares.
    const std::string real = QFileInfo(path).absoluteFilePath().toStdString();
    if (!LoadAndInstall(real)) return false;
    RebuildFolderList();
    SetTitle(m_currentFile);
    return true;
}

bool CPellorinDlg::LoadNext() {
    if (m_folderList.empty()) return false;
    const int next = NextIndex(m_folderIndex, int(m_folderList.size()));
    if (!LoadAndInstall(m_folderList[size_t(next)])) return false;
    m_folderIndex = next;
    SetTitle(m_currentFile);
    return true;
}

bool CPellorinDlg::LoadPrevious() {
    if (m_folderList.empty()) return false;
    const int prev = PreviousIndex(m_folderIndex, int(m_folderList.size()));
    if (!LoadAndInstall(m_folderList[size_t(prev)])) return false;
    m_folderIndex = prev;
    SetTitle(m_currentFile);
    return true;
}

bool CPellorinDlg::SaveAs(QString path, int filterIndex) {
    if (path.isEmpty()) return false;
    // A name without an extension takes the chosen filter's.
    if (!QFileInfo(path).fileName().contains('.') && filterIndex >= 1 && filterIndex <= 8)
        path += kSaveExtensions[filterIndex - 1];
    // The output file and the title change only once the file is written: a
    // failed save must not leave "Save" pointing at a path that failed.
    if (!SaveTo(path)) return false;
    m_outputFile = path;
    SetTitle(LowerPath(path));
    return true;
}

bool CPellorinDlg::Save() {
    if (m_outputFile.isEmpty()) return false;
    return SaveTo(m_outputFile);
}

bool CPellorinDlg::SaveTo(const QString& path) {
    if (!path.isEmpty() && IsVideoSave(path)) return SaveVideo(path);
    if (path.isEmpty() || m_images.work.Empty()) return false;
    std::string message, warning;
    bool wrote = false;
    // Encoding a large picture takes a while too: it runs on the worker,
    // after the treatment, with the progress dialog still up.
    const bool ok = RunFinalThen([&] {
        SaveOptions save;
        save.metadata = &m_images.metadata;
        save.strip = m_stripMetadata;
        save.warning = &warning;
        wrote = SaveImageFile(path.toStdString(), m_images.work, &message, save);
        return wrote;
    });
    if (!wrote && !message.empty()) ShowError(QString::fromStdString(message));
    if (ok && !warning.empty())
        QMessageBox::warning(this, "Warning", QString::fromStdString(warning));
    // The view shows the preview again, not the full-size result.
    RunPreviewNow();
    m_save->setEnabled(true);
    return ok;
}

bool CPellorinDlg::SaveConfiguration(QString path, bool firstFilter) {
    if (path.isEmpty()) return false;
    if (firstFilter && (path.size() < 4 || path[path.size() - 4] != '.')) path += ".qvc";
    m_effects->SyncChecks();
    std::string message;
    if (!m_config.Save(path.toStdString(), &message)) {
        ShowError(QString::fromStdString(message));
        return false;
    }
    return true;
}

bool CPellorinDlg::LoadConfiguration(const QString& path) {
    // A file that cannot be read changes nothing; the controls are refreshed
    // all the same.
    const bool loaded = m_config.Load(path.toStdString());
    m_images.loading = true;
    UpdateControls();
    m_effects->Refill();
    m_images.loading = false;
    m_original->FramesFromFractions();
    m_destination->FramesFromFractions();
    // Every frame the file holds fractions for sets its rectangle, shown or
    // not: the stored rectangles are in the pixels of the view that saved them.
    CopyLoadedFramesToSettings(m_settings, loaded ? m_config.FramesWithFractions() : StoredFrames{},
                               Views());
    RunPreviewNow();
    m_original->update();
    m_destination->update();
    return loaded;
}

ViewPair CPellorinDlg::Views() const {
    return ViewPair{m_original->width(), m_original->height(), m_destination->width(),
                    m_destination->height()};
}

void CPellorinDlg::CopyFramesIntoSettings() {
    CopyFramesToSettings(m_settings, Views());
}

void CPellorinDlg::OnFrameChanged(CBmpWnd*) {
    CopyFramesIntoSettings();
    Reprocess();
}

void CPellorinDlg::OnViewDoubleClicked(CBmpWnd*) {
    ShowResult();
}

void CPellorinDlg::ShowResult() {
    if (m_images.original.Empty()) return;
    if (RunFinal()) ShowResultViewer(m_images.original, m_images.work, this);
    RunPreviewNow();
}

void CPellorinDlg::OnColorPicked(CBmpWnd*, bool source, CColor24 color) {
    if (source) {
        m_settings.m_cReplaceSource = color;
        PaintSwatch(m_replaceSource, color);
    } else {
        m_settings.m_cReplaceTarget = color;
        PaintSwatch(m_replaceTarget, color);
        Reprocess();
    }
}

void CPellorinDlg::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void CPellorinDlg::dropEvent(QDropEvent* e) {
    const auto urls = e->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    e->acceptProposedAction();
    LoadFile(urls.first().toLocalFile());
}

bool CPellorinDlg::AddImageOnTop(const QString& path) {
    if (m_images.original.Empty()) return false;
    BMP_File overlay;
    std::string message, reason;
    const std::string real = QFileInfo(path).absoluteFilePath().toStdString();
    if (!LoadImageFile(real, overlay, &message, &reason)) {
        ShowLoadError(real, message, reason);
        return false;
    }
    m_overlay = std::move(overlay);
    m_overlayActive = true;
    // The frame starts at (5, 5) with the original's size, kept inside the view.
    const int w = m_original->width(), h = m_original->height();
    m_placement =
        IntRect{kFrameInflation, kFrameInflation,
                std::min(kFrameInflation + m_images.original.Width(), w - kFrameInflation),
                std::min(kFrameInflation + m_images.original.Height(), h - kFrameInflation)};
    m_original->SetOverlay(&m_overlay, &m_placement, &m_transparency);
    return true;
}

bool CPellorinDlg::PutImage() {
    if (!m_overlayActive) return false;
    PutImageOnTop(m_images.original, m_overlay, m_placement, m_original->width(),
                  m_original->height(), m_transparency);
    m_overlayActive = false;
    m_overlay.Clear();
    m_original->SetOverlay(nullptr, nullptr, nullptr);
    ShowOriginal();
    RunPreviewNow();
    return true;
}

void CPellorinDlg::SetTransparency(float t) {
    m_transparency = t;
    m_original->update();
}

// ---------------------------------------------------------------------------
// Videos and animated GIFs

bool CPellorinDlg::LoadAnimation(const std::string& realPath, bool& loaded) {
    loaded = false;
    if (VideoWriting()) return true; // the source is in use until the write ends
    const std::string ext = ExtensionOf(realPath);
    std::unique_ptr<FrameSource> source;
    std::string message;
    if (ext == "avi") {
        source = OpenAviSource(realPath, &message);
        if (!source) {
            if (message.empty()) message = kAviOpenError;
            ShowLoadError(realPath, message, "");
            // A file that did not open as a video at all is of no format we know.
            if (message != kAviFrameZeroError && message != kAviUnknownFormat)
                ShowError(kAviUnknownFormat);
            return true;
        }
    } else if (ext == "gif") {
        source = OpenGifSource(realPath, &message);
        if (!source) {
            // Without the animation library (told once) or with a canvas too
            // large to compose, the first frame still opens as a picture.
            if (!message.empty() && (ZembraAvailable() || !m_zembraWarned))
                QMessageBox::warning(this, "Warning", QString::fromStdString(message));
            if (!ZembraAvailable()) m_zembraWarned = true;
            return false;
        }
    } else {
        return false;
    }
    BMP_File first;
    if (!source->LoadFrame(0, first)) {
        ShowLoadError(realPath, kAviFrameZeroError, "");
        return true;
    }
    m_animation = std::move(source);
    m_currentFrame = 0;
    m_currentPath = realPath;
    m_currentFile = LowerPath(QString::fromStdString(realPath));
    m_images.Install(first);
    ShowOriginal();
    m_videoBar->ShowFrames(m_animation->FrameCount());
    RunPreviewNow();
    m_save->setEnabled(true);
    m_saveAs->setEnabled(true);
    loaded = true;
    return true;
}

void CPellorinDlg::ClearAnimation() {
    m_animation.reset();
    m_currentFrame = 0;
    m_videoBar->HideFrames();
}

bool CPellorinDlg::ShowFrame(int i) {
    if (!m_animation || VideoWriting() || i < 0 || i >= m_animation->FrameCount()) return false;
    if (i == m_currentFrame) return true;
    BMP_File frame;
    if (!m_animation->LoadFrame(i, frame)) return false;
    m_currentFrame = i;
    m_images.Install(frame);
    ShowOriginal();
    RunPreviewNow();
    return true;
}

bool CPellorinDlg::VideoWriting() const {
    return m_videoWriter && m_videoWriter->Running();
}

bool CPellorinDlg::VideoStopRequested() const {
    return m_videoWriter && m_videoWriter->StopRequested();
}

bool CPellorinDlg::IsVideoSave(const QString& path) const {
    const std::string ext = ExtensionOf(path.toStdString());
    return ext == "avi" || (ext == "gif" && m_animation);
}

bool CPellorinDlg::SaveVideo(const QString& path) {
    if (VideoWriting()) return false;
    // The video being read cannot be its own output.
    if (m_animation) {
        const QFileInfo out(path), in(QString::fromStdString(m_currentPath));
        const bool same = LowerPath(out.absoluteFilePath()) == m_currentFile ||
                          (out.exists() && out.canonicalFilePath() == in.canonicalFilePath());
        if (same) {
            ShowError("You cannot rewrite an active file");
            return false;
        }
    }
    std::string error;
    const bool ok = WriteVideo(path, error);
    if (ok) {
        QMessageBox::information(this, "Information", "Video saving is completed");
    } else {
        QMessageBox box(QMessageBox::Warning, "Warning", "Video saving is completed with errors",
                        QMessageBox::Ok, this);
        if (!error.empty()) box.setInformativeText(QString::fromStdString(error));
        box.exec();
    }
    // The views show the frame and its preview as before the write.
    RunPreviewNow();
    m_save->setEnabled(true);
    return ok;
}

bool CPellorinDlg::WriteVideo(const QString& path, std::string& error) {
    if (!m_animation) {
        error = "No video or animated GIF is loaded.";
        return false;
    }
    const std::string out = path.toStdString();
    if (ExtensionOf(out) == "avi" && !ChooseAviCodec(this, m_codec)) {
        ShowError(kAviNotWritten);
        return false;
    }
    FrameSinkFactory openOutput = VideoSinkFor(out, m_codec);
    m_effects->SyncChecks();
    CVideoWriter::Job job;
    job.source = m_animation.get();
    job.settings = m_settings;
    job.view = PreviewSize();
    job.openOutput = std::move(openOutput);
    job.frameHook = videoFrameHook;
    SetVideoControlsEnabled(false);
    const FrameLoopResult result = m_videoWriter->Run(std::move(job), m_videoBar);
    SetVideoControlsEnabled(true);
    m_videoBar->SetPosition(m_currentFrame);
    if (result.written) return true;
    // An encoder that cannot write this video is the user's to change.
    if (result.error.rfind(kAviNotWritten, 0) == 0)
        ShowError(kAviNotWritten);
    else
        error = result.error;
    return false;
}

void CPellorinDlg::SetVideoControlsEnabled(bool on) {
    // While a video is written only "Stop!" takes input; the window is
    // still redrawn.
    if (!on) {
        m_disabledForVideo.clear();
        for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == m_videoBar || w->isWindow()) continue;
            m_disabledForVideo.emplace_back(w, w->isEnabled());
            w->setEnabled(false);
        }
        return;
    }
    for (auto [w, was] : m_disabledForVideo) w->setEnabled(was);
    m_disabledForVideo.clear();
}

void CPellorinDlg::UpdateDeviceButtons() {
    m_scanNow->setEnabled(!m_devices.scannerSource.isEmpty());
    m_twainSettings->setEnabled(!m_devices.scannerSource.isEmpty());
    m_webCamera->setEnabled(!m_devices.cameraSource.isEmpty());
}

void CPellorinDlg::InstallAcquired(const BMP_File& image) {
    // A scanned or captured picture replaces any loaded video or animation.
    ClearAnimation();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_images.Install(image);
    QApplication::restoreOverrideCursor();
    // A scanned or captured picture has no file: "Save" needs a name again.
    m_currentFile.clear();
    m_currentPath.clear();
    m_outputFile.clear();
    setWindowTitle("Pellorin");
    ShowOriginal();
    RunPreviewNow();
    m_save->setEnabled(false);
    m_saveAs->setEnabled(true);
}

bool CPellorinDlg::ScanNow() {
    m_scan.source = m_devices.scannerSource.toStdString();
    if (m_scan.source.empty()) return false;
    BMP_File page;
    if (RunScanWithProgress(this, m_scan, page) != ScanNowResult::Done) return false;
    InstallAcquired(page);
    return true;
}

bool CPellorinDlg::OpenTwainSettings() {
    m_scan.source = m_devices.scannerSource.toStdString();
    if (m_scan.source.empty()) return false;
    CTwainSettingsDlg dlg(m_scan, this);
    if (!dlg.Opened()) return false;
    return dlg.exec() == QDialog::Accepted;
}

bool CPellorinDlg::OpenWebCamera() {
    CameraFormat format{m_devices.webCameraSizeX, m_devices.webCameraSizeY,
                        m_devices.webCameraFrequency};
    CWebCameraDlg dlg(m_devices.cameraSource, format, this);
    const bool saved = dlg.exec() == QDialog::Accepted && !dlg.Result().Empty();
    m_devices.webCameraSizeX = format.width;
    m_devices.webCameraSizeY = format.height;
    m_devices.webCameraFrequency = format.frequency;
    if (saved) InstallAcquired(dlg.Result());
    return saved;
}

void CPellorinDlg::SelectSources() {
    CTwainSourcesDlg dlg(m_devices.scannerSource, m_devices.cameraSource, m_scan, this);
    dlg.exec();
    UpdateDeviceButtons();
}
