#include "app/ui/print_support.h"

#include "app/ui/result_viewer.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The layout dialog's preview works on a copy no larger than this.
constexpr int kPreviewImageSide = 1200;

BMP_File BmpFromQImage(const QImage& source) {
    const QImage img = source.convertToFormat(QImage::Format_RGB32);
    BMP_File out;
    if (img.isNull() || !out.Create(img.width(), img.height())) return out;
    for (int y = 0; y < img.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        CColor24* dst = out.Row(y);
        for (int x = 0; x < img.width(); ++x)
            dst[x] =
                CColor24(uint8_t(qRed(src[x])), uint8_t(qGreen(src[x])), uint8_t(qBlue(src[x])));
    }
    return out;
}

QSizeF PageInches(const QPageLayout& page) {
    const QRectF pts = page.fullRectPoints();
    return QSizeF(pts.width() / 72.0, pts.height() / 72.0);
}

void ShowPrintFailed(QWidget* parent) {
    QMessageBox::warning(parent, QStringLiteral("Error"),
                         QStringLiteral("The image could not be printed."));
}

} // namespace

QRect DrawImageOnPage(QPainter& painter, const QSize& pagePixels, double dpi, const QImage& picture,
                      const QSize& imageSize, const PrintLayout& layout) {
    const PlacementRect r = ComputePlacement(layout, imageSize.width(), imageSize.height(),
                                             pagePixels.width(), pagePixels.height(), dpi);
    if (r.Empty() || picture.isNull()) return QRect();
    const QRect target(r.x, r.y, r.width, r.height);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    painter.restore();
    return target;
}

bool PrintImageOn(QPagedPaintDevice& device, const BMP_File& image, const PrintLayout& layout) {
    if (image.Empty()) return false;
    const QImage picture = QImageFromBmp(layout.greyscale ? ToGreyscale(image) : image);
    if (picture.isNull()) return false;
    const double dpi = device.logicalDpiX();
    const QPageLayout page = device.pageLayout();
    const QRect full = page.fullRectPixels(int(std::lround(dpi)));
    // The painter starts at the printable area's corner (unless the device is
    // in full-page mode); our margins count from the paper's edge.
    const QPoint origin = page.paintRectPixels(int(std::lround(dpi))).topLeft();
    QPainter painter;
    if (!painter.begin(&device)) return false;
    painter.translate(-origin);
    const QRect placed =
        DrawImageOnPage(painter, full.size(), dpi, picture, picture.size(), layout);
    return painter.end() && !placed.isEmpty();
}

QPrinter& SessionPrinter() {
    // Created on first use (it needs the application object) and kept until the
    // process ends: the print engines must not be torn down after the
    // application object has gone.
    static QPrinter* printer = new QPrinter(QPrinter::HighResolution);
    return *printer;
}

PrintLayout& SessionPrintLayout() {
    static PrintLayout layout;
    return layout;
}

// ---------------------------------------------------------------------------

CPagePreview::CPagePreview(QWidget* parent) : QWidget(parent) {
    setMinimumSize(240, 300);
}

void CPagePreview::SetPage(const QSizeF& pageInches) {
    if (pageInches.width() > 0 && pageInches.height() > 0) m_pageInches = pageInches;
    update();
}

void CPagePreview::SetImage(const QImage& colour, const QImage& grey, const QSize& imageSize) {
    m_colour = colour;
    m_grey = grey;
    m_imageSize = imageSize;
    update();
}

void CPagePreview::SetLayout(const PrintLayout& layout) {
    m_layout = layout;
    update();
}

QSize CPagePreview::PagePixels() const {
    return QSize(int(std::lround(m_pageInches.width() * kPreviewDpi)),
                 int(std::lround(m_pageInches.height() * kPreviewDpi)));
}

QRect CPagePreview::PageRect() const {
    const QSize page = PagePixels();
    const int border = 8;
    const PlacementRect r =
        FitCentred(page.width(), page.height(), width() - 2 * border, height() - 2 * border);
    return QRect(r.x + border, r.y + border, r.width, r.height);
}

QRect CPagePreview::ImageRect() const {
    const QSize page = PagePixels();
    const QRect sheet = PageRect();
    const PlacementRect r = ComputePlacement(m_layout, m_imageSize.width(), m_imageSize.height(),
                                             page.width(), page.height(), kPreviewDpi);
    if (r.Empty() || sheet.isEmpty()) return QRect();
    const double s = double(sheet.width()) / page.width();
    const QRectF mapped(sheet.left() + r.x * s, sheet.top() + r.y * s, r.width * s, r.height * s);
    return mapped.toAlignedRect().intersected(sheet);
}

void CPagePreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Mid));
    const QRect sheet = PageRect();
    if (sheet.isEmpty()) return;
    p.fillRect(sheet.translated(3, 3), QColor(0, 0, 0, 80)); // shadow
    p.fillRect(sheet, Qt::white);
    // Lay the page out at the preview's resolution, scaled into the sheet; what
    // runs off the paper is cut off as on the printer.
    const QSize page = PagePixels();
    p.save();
    p.setClipRect(sheet);
    p.translate(sheet.topLeft());
    p.scale(double(sheet.width()) / page.width(), double(sheet.height()) / page.height());
    DrawImageOnPage(p, page, kPreviewDpi, m_layout.greyscale ? m_grey : m_colour, m_imageSize,
                    m_layout);
    p.restore();
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(sheet.adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------------------

namespace {

QDoubleSpinBox* LengthBox(QWidget* parent, const char* name) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(2);
    box->setRange(0.0, 1000.0);
    box->setSingleStep(0.1);
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

CPrintLayoutDlg::CPrintLayoutDlg(const BMP_File& image, QPrinter& printer,
                                 const PrintLayout& initial, QWidget* parent, bool withPrintButton)
    : QDialog(parent), m_image(image), m_printer(printer), m_layout(initial) {
    setWindowTitle(withPrintButton ? QStringLiteral("Advanced Print Preview")
                                   : QStringLiteral("Print Layout"));

    // A size not set yet starts at the image's own size.
    if (m_layout.sizeMode != PrintSizeMode::Size &&
        m_layout.sizeMode != PrintSizeMode::SizeKeepRatio) {
        PrintLayout natural = m_layout;
        natural.sizeMode = PrintSizeMode::ImageSize;
        PrintedSize(natural, image.Width(), image.Height(), 0, 0, m_layout.width, m_layout.height);
    }

    // Size.
    auto* sizeBox = new QGroupBox(QStringLiteral("Size"), this);
    m_imageSize = new QRadioButton(QStringLiteral("Image size"), sizeBox);
    m_fitToPage = new QRadioButton(QStringLiteral("Fit to page"), sizeBox);
    m_scale = new QRadioButton(QStringLiteral("Scale:"), sizeBox);
    m_size = new QRadioButton(QStringLiteral("Size:"), sizeBox);
    m_imageSize->setObjectName("imageSize");
    m_fitToPage->setObjectName("fitToPage");
    m_scale->setObjectName("scale");
    m_size->setObjectName("size");
    m_scaleValue = new QDoubleSpinBox(sizeBox);
    m_scaleValue->setObjectName("scaleValue");
    m_scaleValue->setRange(1.0, 1000.0);
    m_scaleValue->setDecimals(1);
    m_scaleValue->setSuffix(QStringLiteral(" %"));
    m_scaleValue->setKeyboardTracking(false);
    m_width = LengthBox(sizeBox, "width");
    m_height = LengthBox(sizeBox, "height");
    m_keepRatio = new QCheckBox(QStringLiteral("Keep ratio"), sizeBox);
    m_keepRatio->setObjectName("keepRatio");
    auto* sizeModes = new QButtonGroup(this);
    for (QRadioButton* b : {m_imageSize, m_fitToPage, m_scale, m_size}) sizeModes->addButton(b);
    auto* sizeGrid = new QGridLayout(sizeBox);
    sizeGrid->addWidget(m_imageSize, 0, 0, 1, 4);
    sizeGrid->addWidget(m_fitToPage, 1, 0, 1, 4);
    sizeGrid->addWidget(m_scale, 2, 0);
    sizeGrid->addWidget(m_scaleValue, 2, 1);
    sizeGrid->addWidget(m_size, 3, 0);
    sizeGrid->addWidget(m_width, 3, 1);
    sizeGrid->addWidget(new QLabel(QStringLiteral("x"), sizeBox), 3, 2);
    sizeGrid->addWidget(m_height, 3, 3);
    sizeGrid->addWidget(m_keepRatio, 4, 1, 1, 3);

    // Position.
    auto* posBox = new QGroupBox(QStringLiteral("Position"), this);
    m_centred = new QRadioButton(QStringLiteral("Centre on page"), posBox);
    m_margins = new QRadioButton(QStringLiteral("Margins:"), posBox);
    m_centred->setObjectName("centred");
    m_margins->setObjectName("margins");
    m_left = LengthBox(posBox, "left");
    m_top = LengthBox(posBox, "top");
    auto* posModes = new QButtonGroup(this);
    posModes->addButton(m_centred);
    posModes->addButton(m_margins);
    auto* posGrid = new QGridLayout(posBox);
    posGrid->addWidget(m_centred, 0, 0, 1, 4);
    posGrid->addWidget(m_margins, 1, 0, 1, 4);
    posGrid->addWidget(new QLabel(QStringLiteral("Left:"), posBox), 2, 0);
    posGrid->addWidget(m_left, 2, 1);
    posGrid->addWidget(new QLabel(QStringLiteral("Top:"), posBox), 2, 2);
    posGrid->addWidget(m_top, 2, 3);

    // Units and colour.
    m_units = new QComboBox(this);
    m_units->setObjectName("units");
    m_units->addItem(QStringLiteral("Centimetres"));
    m_units->addItem(QStringLiteral("Inches"));
    m_greyscale = new QCheckBox(QStringLiteral("Greyscale"), this);
    m_greyscale->setObjectName("greyscale");
    auto* misc = new QFormLayout;
    misc->addRow(QStringLiteral("Units:"), m_units);
    misc->addRow(m_greyscale);

    // Buttons.
    auto* buttons = new QDialogButtonBox(this);
    auto* pageSetup =
        buttons->addButton(QStringLiteral("Page Setup..."), QDialogButtonBox::ActionRole);
    connect(pageSetup, &QPushButton::clicked, this, &CPrintLayoutDlg::OnPageSetup);
    if (withPrintButton) {
        auto* print = buttons->addButton(QStringLiteral("Print..."), QDialogButtonBox::ActionRole);
        print->setObjectName("print");
        connect(print, &QPushButton::clicked, this, &CPrintLayoutDlg::OnPrint);
        buttons->addButton(QDialogButtonBox::Close);
    } else {
        buttons->addButton(QDialogButtonBox::Ok);
        buttons->addButton(QDialogButtonBox::Cancel);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_preview = new CPagePreview(this);
    const QImage full = QImageFromBmp(image);
    const QImage small = (full.width() > kPreviewImageSide || full.height() > kPreviewImageSide)
                             ? full.scaled(kPreviewImageSide, kPreviewImageSide,
                                           Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : full;
    m_preview->SetImage(small, QImageFromBmp(ToGreyscale(BmpFromQImage(small))),
                        QSize(image.Width(), image.Height()));

    auto* controls = new QVBoxLayout;
    controls->addWidget(sizeBox);
    controls->addWidget(posBox);
    controls->addLayout(misc);
    controls->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addLayout(controls);
    top->addWidget(m_preview, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(buttons);

    WriteControls();
    UpdatePage();

    // Every change redraws the preview at once.
    for (QRadioButton* b : {m_imageSize, m_fitToPage, m_scale, m_size, m_centred, m_margins})
        connect(b, &QRadioButton::toggled, this, &CPrintLayoutDlg::ReadControls);
    for (QCheckBox* c : {m_keepRatio, m_greyscale})
        connect(c, &QCheckBox::toggled, this, &CPrintLayoutDlg::ReadControls);
    for (QDoubleSpinBox* s : {m_scaleValue, m_left, m_top})
        connect(s, &QDoubleSpinBox::valueChanged, this, &CPrintLayoutDlg::ReadControls);
    connect(m_width, &QDoubleSpinBox::valueChanged, this, &CPrintLayoutDlg::OnWidthEdited);
    connect(m_height, &QDoubleSpinBox::valueChanged, this, &CPrintLayoutDlg::OnHeightEdited);
    connect(m_keepRatio, &QCheckBox::toggled, this, [this](bool on) {
        if (on) OnWidthEdited();
    });
    connect(m_units, &QComboBox::currentIndexChanged, this, &CPrintLayoutDlg::OnUnitsChanged);
}

void CPrintLayoutDlg::WriteControls() {
    m_updating = true;
    const PrintSizeMode mode = m_layout.sizeMode;
    m_imageSize->setChecked(mode == PrintSizeMode::ImageSize);
    m_fitToPage->setChecked(mode == PrintSizeMode::FitToPage);
    m_scale->setChecked(mode == PrintSizeMode::Scale);
    m_size->setChecked(mode == PrintSizeMode::Size || mode == PrintSizeMode::SizeKeepRatio);
    m_keepRatio->setChecked(mode == PrintSizeMode::SizeKeepRatio);
    m_scaleValue->setValue(m_layout.scalePercent);
    m_width->setValue(m_layout.width);
    m_height->setValue(m_layout.height);
    m_centred->setChecked(m_layout.centred);
    m_margins->setChecked(!m_layout.centred);
    m_left->setValue(m_layout.left);
    m_top->setValue(m_layout.top);
    m_units->setCurrentIndex(m_layout.units == PrintUnits::Inches ? 1 : 0);
    const QString suffix =
        m_layout.units == PrintUnits::Inches ? QStringLiteral(" in") : QStringLiteral(" cm");
    for (QDoubleSpinBox* s : {m_width, m_height, m_left, m_top}) s->setSuffix(suffix);
    m_greyscale->setChecked(m_layout.greyscale);
    m_updating = false;
    ReadControls();
}

void CPrintLayoutDlg::ReadControls() {
    if (m_updating) return;
    PrintLayout l = m_layout;
    if (m_imageSize->isChecked())
        l.sizeMode = PrintSizeMode::ImageSize;
    else if (m_fitToPage->isChecked())
        l.sizeMode = PrintSizeMode::FitToPage;
    else if (m_scale->isChecked())
        l.sizeMode = PrintSizeMode::Scale;
    else
        l.sizeMode = m_keepRatio->isChecked() ? PrintSizeMode::SizeKeepRatio : PrintSizeMode::Size;
    l.scalePercent = m_scaleValue->value();
    l.width = m_width->value();
    l.height = m_height->value();
    l.centred = m_centred->isChecked();
    l.left = m_left->value();
    l.top = m_top->value();
    l.greyscale = m_greyscale->isChecked();

    m_layout = l;
    m_scaleValue->setEnabled(l.sizeMode == PrintSizeMode::Scale);
    const bool bySize = m_size->isChecked();
    m_width->setEnabled(bySize);
    m_height->setEnabled(bySize);
    m_keepRatio->setEnabled(bySize);
    m_left->setEnabled(!l.centred);
    m_top->setEnabled(!l.centred);
    m_preview->SetLayout(m_layout);
}

void CPrintLayoutDlg::OnWidthEdited() {
    if (m_updating) return;
    if (m_keepRatio->isChecked()) {
        m_updating = true;
        m_height->setValue(HeightForWidth(m_width->value(), m_image.Width(), m_image.Height()));
        m_updating = false;
    }
    ReadControls();
}

void CPrintLayoutDlg::OnHeightEdited() {
    if (m_updating) return;
    if (m_keepRatio->isChecked()) {
        m_updating = true;
        m_width->setValue(WidthForHeight(m_height->value(), m_image.Width(), m_image.Height()));
        m_updating = false;
    }
    ReadControls();
}

void CPrintLayoutDlg::OnUnitsChanged() {
    if (m_updating) return;
    const PrintUnits units =
        m_units->currentIndex() == 1 ? PrintUnits::Inches : PrintUnits::Centimetres;
    m_layout = WithUnits(m_layout, units);
    WriteControls();
}

void CPrintLayoutDlg::UpdatePage() {
    m_preview->SetPage(PageInches(m_printer.pageLayout()));
}

void CPrintLayoutDlg::OnPageSetup() {
    QPageSetupDialog dlg(&m_printer, this);
    if (dlg.exec() == QDialog::Accepted) UpdatePage();
}

void CPrintLayoutDlg::OnPrint() {
    QPrintDialog dlg(&m_printer, this);
    if (dlg.exec() != QDialog::Accepted) return;
    UpdatePage();
    if (!PrintImageOn(m_printer, m_image, m_layout)) {
        ShowPrintFailed(this);
        return;
    }
    accept();
}

// ---------------------------------------------------------------------------

namespace {

// Runs the layout dialog on the session's printer and layout. False on Cancel.
bool ChooseLayout(const BMP_File& image, QWidget* parent, bool withPrintButton) {
    CPrintLayoutDlg dlg(image, SessionPrinter(), SessionPrintLayout(), parent, withPrintButton);
    const bool accepted = dlg.exec() == QDialog::Accepted;
    // The advanced preview keeps what the user set even when it is closed
    // without printing: it is where layouts are prepared.
    if (accepted || withPrintButton) SessionPrintLayout() = dlg.Layout();
    return accepted;
}

} // namespace

void PrintImage(const BMP_File& image, QWidget* parent) {
    if (image.Empty() || !ChooseLayout(image, parent, false)) return;
    QPrinter& printer = SessionPrinter();
    QPrintDialog dlg(&printer, parent);
    if (dlg.exec() != QDialog::Accepted) return;
    if (!PrintImageOn(printer, image, SessionPrintLayout())) ShowPrintFailed(parent);
}

void PrintPreviewImage(const BMP_File& image, QWidget* parent) {
    if (image.Empty() || !ChooseLayout(image, parent, false)) return;
    QPrintPreviewDialog preview(&SessionPrinter(), parent);
    QObject::connect(
        &preview, &QPrintPreviewDialog::paintRequested, &preview,
        [&image](QPrinter* printer) { PrintImageOn(*printer, image, SessionPrintLayout()); });
    preview.exec();
}

void PrintSetup(QWidget* parent) {
    QPageSetupDialog dlg(&SessionPrinter(), parent);
    dlg.exec();
}

void AdvancedPrintPreview(const BMP_File& image, QWidget* parent) {
    if (image.Empty()) return;
    ChooseLayout(image, parent, true);
}
