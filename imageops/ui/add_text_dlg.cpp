#include "imageops/ui/add_text_dlg.h"

#include "imageops/text_overlay.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDate>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>
#include <bit>

// Format_RGB32 keeps each pixel as the 32-bit value 0xffRRGGBB, which is blue,
// green, red, 255 in memory only on little-endian machines: the layout the
// stamp copies expect.
static_assert(std::endian::native == std::endian::little,
              "the stamp buffers assume Format_RGB32 is blue, green, red, alpha in memory");

namespace {

IntRect ToIntRect(const QRect& r) {
    return IntRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// The image as the picture area shows it.
QImage ToRgb32(const BMP_File& image) {
    if (image.Empty()) return QImage();
    QImage out(image.Width(), image.Height(), QImage::Format_RGB32);
    if (out.isNull()) return out;
    ReadRegionBGRA(image, IntRect{0, 0, image.Width(), image.Height()}, out.bits(),
                   size_t(out.bytesPerLine()));
    return out;
}

// Selects the entry of `value` in a list that starts at `first`, clamped to
// the list (a clock before 1900 still selects a year).
void SelectValue(QComboBox* box, int value, int first) {
    box->setCurrentIndex(std::clamp(value - first, 0, box->count() - 1));
}

QComboBox* NumberList(QWidget* parent, const char* name, int first, int last, int digits) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    for (int v = first; v <= last; ++v)
        box->addItem(QStringLiteral("%1").arg(v, digits, 10, QLatin1Char('0')));
    return box;
}

} // namespace

// ---------------------------------------------------------------- CTextPicture

CTextPicture::CTextPicture(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
}

void CTextPicture::SetImage(QImage image) {
    m_image = std::move(image);
    setFixedSize(m_image.size().isEmpty() ? QSize(1, 1) : m_image.size());
    update();
}

void CTextPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.drawImage(0, 0, m_image);
    // A dashed outline just outside the text box shows where it is without
    // becoming part of what is stamped.
    for (const QObject* child : children()) {
        const auto* box = qobject_cast<const QLineEdit*>(child);
        if (!box || !box->isVisible()) continue;
        const QRect g = box->geometry();
        p.setPen(QPen(Qt::white, 1));
        p.drawRect(g.adjusted(-1, -1, 0, 0));
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        p.drawRect(g.adjusted(-1, -1, 0, 0));
    }
}

void CTextPicture::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) emit Placed(e->position().toPoint());
}

void CTextPicture::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() & Qt::LeftButton) emit Placed(e->position().toPoint());
}

// ------------------------------------------------------------------ CAddTextDlg

CAddTextDlg::CAddTextDlg(BMP_File& original, BMP_File& noiseReduced,
                         std::function<void()> reprocess, QWidget* parent)
    : QDialog(parent), m_original(original), m_noiseReduced(noiseReduced),
      m_reprocess(std::move(reprocess)) {
    setWindowTitle(QStringLiteral("Add text"));
    BuildControls();

    const QDate today = QDate::currentDate();
    const QTime now = QTime::currentTime();
    SelectValue(m_day, today.day(), 1);
    SelectValue(m_month, today.month(), 1);
    SelectValue(m_year, today.year(), kFirstListedYear);
    SelectValue(m_hour, now.hour(), 0);
    SelectValue(m_minute, now.minute(), 0);
    Recompose();

    RefreshPicture();
    // A text size that reads on a photograph; "Font" changes it.
    QFont textFont = font();
    textFont.setPointSizeF(textFont.pointSizeF() > 0 ? textFont.pointSizeF() * 2 : 18.0);
    SetTextFont(textFont);
    SetTextColor(Qt::black);
    const QSize img = m_picture->size();
    MoveTextBox(QPoint(std::min(10, img.width() / 4), std::min(10, img.height() / 4)));
    m_textBox->setFocus();
}

void CAddTextDlg::BuildControls() {
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(false);
    m_picture = new CTextPicture;
    m_scroll->setWidget(m_picture);

    m_textBox = new QLineEdit(m_picture);
    m_textBox->setObjectName(QStringLiteral("textBox"));
    m_textBox->setFrame(false);
    m_textBox->setAutoFillBackground(false);
    connect(m_textBox, &QLineEdit::textChanged, this, [this] { FitTextBox(); });
    connect(m_picture, &CTextPicture::Placed, this, [this](QPoint p) { MoveTextBox(p); });

    auto* fontButton = new QPushButton(QStringLiteral("Font"), this);
    connect(fontButton, &QPushButton::clicked, this, &CAddTextDlg::ChooseFont);

    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("format"));
    for (const DateTimeFormat& f : DateTimeFormats()) m_format->addItem(QString::fromUtf8(f.label));

    m_day = NumberList(this, "day", 1, 31, 1);
    m_month = new QComboBox(this);
    m_month->setObjectName(QStringLiteral("month"));
    for (const char* name : MonthNames()) m_month->addItem(QString::fromLatin1(name));
    m_year =
        NumberList(this, "year", kFirstListedYear, LastListedYear(QDate::currentDate().year()), 4);
    m_hour = NumberList(this, "hour", 0, 23, 2);
    m_minute = NumberList(this, "minute", 0, 59, 2);

    m_withDate = new QCheckBox(QStringLiteral("Data"), this);
    m_withTime = new QCheckBox(QStringLiteral("Time"), this);
    m_amPm = new QCheckBox(QStringLiteral("AM/PM"), this);
    m_curDate = new QCheckBox(QStringLiteral("Cur. data"), this);
    m_curTime = new QCheckBox(QStringLiteral("Cur. time"), this);
    m_withDate->setChecked(true);
    m_withTime->setChecked(true);

    m_dateTime = new QLabel(this);
    m_dateTime->setObjectName(QStringLiteral("dateTime"));
    m_dateTime->setMinimumWidth(180);

    auto* putTime = new QPushButton(QStringLiteral("Put Time"), this);
    auto* putText = new QPushButton(QStringLiteral("Put text"), this);
    auto* exitButton = new QPushButton(QStringLiteral("Exit"), this);
    // Enter in the text box must neither stamp nor close by accident.
    for (QPushButton* b : {fontButton, putTime, putText, exitButton}) b->setAutoDefault(false);
    connect(putTime, &QPushButton::clicked, this, &CAddTextDlg::PutTime);
    connect(putText, &QPushButton::clicked, this, &CAddTextDlg::PutText);
    connect(exitButton, &QPushButton::clicked, this, &QDialog::reject);

    for (QComboBox* c : {m_format, m_day, m_month, m_year, m_hour, m_minute})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { Recompose(); });
    for (QCheckBox* c : {m_withDate, m_withTime, m_amPm})
        connect(c, &QCheckBox::toggled, this, [this] { Recompose(); });
    connect(m_curDate, &QCheckBox::toggled, this, &CAddTextDlg::UseCurrentDate);
    connect(m_curTime, &QCheckBox::toggled, this, &CAddTextDlg::UseCurrentTime);

    auto* side = new QVBoxLayout;
    side->addWidget(fontButton);
    side->addWidget(m_format);
    auto* date = new QHBoxLayout;
    date->addWidget(m_day);
    date->addWidget(m_month);
    date->addWidget(m_year);
    side->addLayout(date);
    auto* time = new QHBoxLayout;
    time->addWidget(m_hour);
    time->addWidget(new QLabel(QStringLiteral(":"), this));
    time->addWidget(m_minute);
    time->addStretch(1);
    side->addLayout(time);
    auto* checks = new QGridLayout;
    checks->addWidget(m_withDate, 0, 0);
    checks->addWidget(m_withTime, 0, 1);
    checks->addWidget(m_amPm, 0, 2);
    checks->addWidget(m_curDate, 1, 0);
    checks->addWidget(m_curTime, 1, 1);
    side->addLayout(checks);
    side->addWidget(m_dateTime);
    side->addWidget(putTime);
    side->addStretch(1);
    side->addWidget(putText);
    side->addWidget(exitButton);

    auto* main = new QHBoxLayout(this);
    main->addWidget(m_scroll, 1);
    main->addLayout(side);
}

QRect CAddTextDlg::StampRect() const {
    return m_textBox->geometry();
}

void CAddTextDlg::MoveTextBox(QPoint topLeft) {
    m_textBox->move(topLeft);
    m_picture->update();
}

QFont CAddTextDlg::TextFont() const {
    return m_textBox->font();
}

QColor CAddTextDlg::TextColor() const {
    return m_textBox->palette().color(QPalette::Text);
}

void CAddTextDlg::SetTextFont(const QFont& font) {
    m_textBox->setFont(font);
    FitTextBox();
}

void CAddTextDlg::SetTextColor(const QColor& color) {
    // The box has no background of its own: the picture under it shows through
    // on the screen, and the image's own pixels show through when stamping.
    QPalette pal = m_textBox->palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Window, Qt::transparent);
    pal.setColor(QPalette::Text, color);
    m_textBox->setPalette(pal);
    m_picture->update();
}

QString CAddTextDlg::DateTimeText() const {
    return m_dateTime->text();
}

void CAddTextDlg::FitTextBox() {
    // Wide enough that the line edit never scrolls its text out of sight (the
    // stamp is what the box shows), at least a few characters wide so that an
    // empty box can be clicked into.
    const QFontMetrics fm(m_textBox->font());
    const int margins = fm.averageCharWidth() * 2 + 12;
    const int width = std::max(fm.horizontalAdvance(m_textBox->text()) + margins,
                               fm.averageCharWidth() * 4 + margins);
    m_textBox->resize(width, m_textBox->sizeHint().height());
    m_picture->update();
}

DateTimeValue CAddTextDlg::SelectedValue() const {
    DateTimeValue v;
    v.day = m_day->currentIndex() + 1;
    v.month = m_month->currentIndex() + 1;
    v.year = kFirstListedYear + m_year->currentIndex();
    v.hour = m_hour->currentIndex();
    v.minute = m_minute->currentIndex();
    return v;
}

void CAddTextDlg::Recompose() {
    m_dateTime->setText(QString::fromStdString(
        ComposeDateTime(m_format->currentIndex(), SelectedValue(), m_withDate->isChecked(),
                        m_withTime->isChecked(), m_amPm->isChecked())));
}

void CAddTextDlg::UseCurrentDate(bool on) {
    if (on) {
        const QDate today = QDate::currentDate();
        SelectValue(m_day, today.day(), 1);
        SelectValue(m_month, today.month(), 1);
        SelectValue(m_year, today.year(), kFirstListedYear);
    }
    for (QComboBox* c : {m_day, m_month, m_year}) c->setEnabled(!on);
    Recompose();
}

void CAddTextDlg::UseCurrentTime(bool on) {
    if (on) {
        const QTime now = QTime::currentTime();
        SelectValue(m_hour, now.hour(), 0);
        SelectValue(m_minute, now.minute(), 0);
    }
    for (QComboBox* c : {m_hour, m_minute}) c->setEnabled(!on);
    Recompose();
}

void CAddTextDlg::ChooseFont() {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, m_textBox->font(), this, QStringLiteral("Font"));
    if (!ok) return;
    SetTextFont(font);
    const QColor color = QColorDialog::getColor(TextColor(), this, QStringLiteral("Color"));
    if (color.isValid()) SetTextColor(color);
}

void CAddTextDlg::PutTime() {
    m_textBox->setText(m_dateTime->text());
}

void CAddTextDlg::PutText() {
    const QRect rect = StampRect();
    if (rect.isEmpty() || m_textBox->text().isEmpty()) return;
    // The stamping state: no selection and no cursor in the box, only its text.
    m_textBox->deselect();
    if (m_textBox->hasFocus()) m_textBox->clearFocus();
    StampInto(m_original, rect);
    StampInto(m_noiseReduced, rect);
    RefreshPicture();
    if (m_reprocess) m_reprocess();
    m_textBox->setFocus();
    m_textBox->selectAll();
}

void CAddTextDlg::StampInto(BMP_File& image, const QRect& rect) {
    if (image.Empty()) return;
    QImage buffer(rect.size(), QImage::Format_RGB32);
    if (buffer.isNull()) return;
    const IntRect r = ToIntRect(rect);
    const size_t stride = size_t(buffer.bytesPerLine());
    ReadRegionBGRA(image, r, buffer.bits(), stride);
    {
        QPainter painter(&buffer);
        // Without DrawWindowBackground only the box's own painting lands: its
        // transparent panel and its text.
        m_textBox->render(&painter, QPoint(0, 0), QRegion(), QWidget::DrawChildren);
    }
    WriteRegionBGRA(image, r, buffer.constBits(), stride);
}

void CAddTextDlg::RefreshPicture() {
    m_picture->SetImage(ToRgb32(m_original));
    // Large pictures scroll; small ones are shown whole.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize avail = screen ? screen->availableGeometry().size() : QSize(1024, 768);
    const int frame = 2 * m_scroll->frameWidth();
    const QSize want = m_picture->size() + QSize(frame, frame);
    m_scroll->setMinimumSize(std::min(want.width(), std::max(200, avail.width() - 400)),
                             std::min(want.height(), std::max(200, avail.height() - 160)));
}

void OpenAddTextDialog(ImageSet& images, std::function<void()> reprocess, QWidget* parent) {
    if (images.original.Empty()) return;
    CAddTextDlg dlg(images.original, images.noiseReduced, std::move(reprocess), parent);
    dlg.exec();
}
