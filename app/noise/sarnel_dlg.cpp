#include "app/noise/sarnel_dlg.h"

#include "app/noise/sarnel_worker.h"
#include "app/noise/spin_edit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The mode panels' place and size in the dialog.
constexpr int kPanelWidth = 179;
constexpr int kPanelHeight = 117;

// The Wiener values are held in the spin buttons as ten thousand times the value.
constexpr double kWienerScale = 10000.0;

QString WienerText(int position) {
    return QString::asprintf("%.4f", double(position) / kWienerScale);
}

QSlider* NewSlider(const QString& name, int min, int max) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(min, max);
    s->setObjectName(name);
    s->setMinimumWidth(120);
    return s;
}

QLabel* NewValueLabel(const QString& name) {
    auto* l = new QLabel;
    l->setObjectName(name + "Value");
    l->setMinimumWidth(36);
    return l;
}

// Caption, slider and value label in one row of `grid`.
QSlider* AddSlider(QGridLayout* grid, int row, const QString& caption, const QString& name, int min,
                   int max, QLabel** value) {
    QSlider* s = NewSlider(name, min, max);
    grid->addWidget(new QLabel(caption), row, 0);
    grid->addWidget(s, row, 1);
    if (value) {
        *value = NewValueLabel(name);
        grid->addWidget(*value, row, 2);
    }
    return s;
}

// Labels spread under a slider at its ends (and middle).
QWidget* ScaleLabels(std::initializer_list<const char*> texts) {
    auto* w = new QWidget;
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    bool first = true;
    for (const char* t : texts) {
        if (!first) row->addStretch();
        first = false;
        row->addWidget(new QLabel(t));
    }
    return w;
}

CSpinEdit* AddSpinEdit(QGridLayout* grid, int row, const QString& caption, const QString& name) {
    auto* e = new CSpinEdit(name);
    grid->addWidget(new QLabel(caption), row, 0);
    grid->addWidget(e, row, 1);
    return e;
}

} // namespace

// ---------------------------------------------------------------------------

CSRModePanel::CSRModePanel(const Channel (&channels)[3], QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* group = new QGroupBox("Value filtering", this);
    auto* column = new QVBoxLayout(group);
    for (int i = 0; i < 3; ++i) {
        m_channels[i] = channels[i].channel;
        m_boxes[i] = new QCheckBox(channels[i].name, group);
        m_boxes[i]->setChecked(true);
        connect(m_boxes[i], &QCheckBox::toggled, this, [this, i](bool on) { m_on[i] = on; });
        column->addWidget(m_boxes[i]);
    }
    outer->addWidget(group);
}

std::vector<SR_FilterType> CSRModePanel::Channels() const {
    std::vector<SR_FilterType> out;
    for (int i = 0; i < 3; ++i)
        if (m_on[i]) out.push_back(m_channels[i]);
    return out;
}

namespace {
const CSRModePanel::Channel kRgbChannels[3] = {
    {"Red", SR_CHANNEL_RED}, {"Green", SR_CHANNEL_GREEN}, {"Blue", SR_CHANNEL_BLUE}};
const CSRModePanel::Channel kHsvChannels[3] = {{"Hue", SR_CHANNEL_HUE},
                                               {"Saturation", SR_CHANNEL_SATURATION},
                                               {"Value(Brightness)", SR_CHANNEL_VALUE}};
const CSRModePanel::Channel kLabChannels[3] = {
    {"L*", SR_CHANNEL_L}, {"a*", SR_CHANNEL_A}, {"b*", SR_CHANNEL_B}};
} // namespace

CSRRgbModeDlg::CSRRgbModeDlg(QWidget* parent) : CSRModePanel(kRgbChannels, parent) {
    setObjectName("rgbPanel");
}
CSRHsvModeDlg::CSRHsvModeDlg(QWidget* parent) : CSRModePanel(kHsvChannels, parent) {
    setObjectName("hsvPanel");
}
CSRLabModeDlg::CSRLabModeDlg(QWidget* parent) : CSRModePanel(kLabChannels, parent) {
    setObjectName("labPanel");
}

// ---------------------------------------------------------------------------

CSarnelDlg::CSarnelDlg(const BMP_File& original, BMP_File& noiseReduced,
                       std::function<void()> reprocess, QWidget* parent)
    : QDialog(parent), m_noiseReduced(noiseReduced), m_saved(noiseReduced),
      m_reprocess(std::move(reprocess)), m_worker(std::make_unique<CSarnelWorker>(original)),
      m_pictureWidth(original.Width()), m_pictureHeight(original.Height()) {
    setWindowTitle("Noise Reduce");
    if (parent) setWindowIcon(parent->windowIcon());
    BuildUi();
    // The handle is made on the worker, in RGB; the RGB panel is the one shown.
    m_worker->Reload(SR_MODE_RGB, Report([] {}));
    m_modeButtons[0]->setChecked(true);
    m_mode = 0;
    for (int m = 0; m < 3; ++m) m_panels[m]->setVisible(m == 0);
    SetStartValues();
    for (auto [button, filter] : m_filterButtons)
        if (filter == kSarnelNormal) button->setChecked(true);
    m_filter = kSarnelNormal;
    UpdateEnabling();
    ShowBusy();

    // Handlers last, so that setting the start values triggers none of them.
    for (int m = 0; m < 3; ++m)
        connect(m_modeButtons[m], &QRadioButton::toggled, this, [this, m](bool on) {
            if (on) SetMode(m);
        });
    for (auto [button, filter] : m_filterButtons)
        connect(button, &QRadioButton::toggled, this, [this, filter = filter](bool on) {
            if (on) SetFilter(filter);
        });
    for (QSlider* s :
         {m_apertureWidth, m_apertureHeight, m_order, m_percentile, m_truncation, m_minAperture,
          m_maxAperture, m_noiseDispersion, m_rejectOrder, m_notchOrder})
        connect(s, &QSlider::valueChanged, this, [this] { Recompute(); });
    for (WienerValue* v : {&m_deblur, &m_turbulenceNoise, &m_moveX, &m_moveY, &m_motionNoise}) {
        // Each edit rewrites the other only when the user changes it, so the
        // two never update each other in a loop.
        QLineEdit* real = v->real;
        CSpinEdit* scaled = v->scaled;
        connect(scaled->Edit(), &QLineEdit::textEdited, real, [real](const QString& t) {
            real->setText(WienerText(LeadingInt(t.toStdString())));
        });
        connect(scaled, &CSpinEdit::Stepped, real,
                [real](int position) { real->setText(WienerText(position)); });
        connect(real, &QLineEdit::textEdited, scaled, [scaled](const QString& t) {
            scaled->SetText(WienerSpinPosition(LeadingReal(t.toStdString())));
        });
    }
    connect(m_applyButton, &QPushButton::clicked, this, &CSarnelDlg::Apply);
    connect(m_resetButton, &QPushButton::clicked, this, &CSarnelDlg::Reset);
    connect(m_okButton, &QPushButton::clicked, this, &CSarnelDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CSarnelDlg::reject);
}

CSarnelDlg::~CSarnelDlg() {
    // The worker finishes (or drops) its work before anything it reports to
    // goes away; reports still queued for this object die with it.
    m_worker.reset();
}

void CSarnelDlg::BuildUi() {
    // The filters sit in several group boxes but exclude one another.
    m_filterGroup = new QButtonGroup(this);
    auto* left = new QVBoxLayout;
    left->addWidget(BuildColourSpaces());
    auto* panelArea = new QWidget(this);
    panelArea->setMinimumSize(kPanelWidth, kPanelHeight);
    auto* panelStack = new QGridLayout(panelArea);
    panelStack->setContentsMargins(0, 0, 0, 0);
    m_panels[0] = new CSRRgbModeDlg(panelArea);
    m_panels[1] = new CSRHsvModeDlg(panelArea);
    m_panels[2] = new CSRLabModeDlg(panelArea);
    for (CSRModePanel* p : m_panels) panelStack->addWidget(p, 0, 0);
    left->addWidget(panelArea);

    auto* apertures = new QGridLayout;
    m_apertureWidth =
        AddSlider(apertures, 0, "Aperture width:", "apertureWidth", 1, 10, &m_apertureWidthValue);
    m_apertureHeight = AddSlider(apertures, 1, "Aperture height:", "apertureHeight", 1, 10,
                                 &m_apertureHeightValue);
    left->addLayout(apertures);
    left->addStretch();

    auto* middle = new QVBoxLayout;
    middle->addWidget(BuildSimple());
    middle->addWidget(BuildOrderStatistics());
    middle->addWidget(BuildAdaptive());
    middle->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(BuildReject());
    right->addWidget(BuildNarrowBand());
    right->addWidget(BuildWiener());
    right->addStretch();

    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(middle);
    columns->addLayout(right);

    // The busy indicator keeps its place while hidden, so nothing jumps.
    m_busy = new QProgressBar(this);
    m_busy->setObjectName("busy");
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setMaximumWidth(160);
    m_busyText = new QLabel("Filtering...", this);
    m_busyText->setObjectName("busyText");
    for (QWidget* w : {static_cast<QWidget*>(m_busy), static_cast<QWidget*>(m_busyText)}) {
        QSizePolicy p = w->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        w->setSizePolicy(p);
    }
    auto makeButton = [this](const QString& text, const QString& name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    m_applyButton = makeButton("Apply", "apply");
    m_resetButton = makeButton("Reset", "reset");
    m_okButton = makeButton("OK", "ok");
    m_cancelButton = makeButton("Cancel", "cancel");
    m_okButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_busy);
    buttons->addWidget(m_busyText);
    buttons->addStretch();
    for (QPushButton* b : {m_applyButton, m_resetButton, m_okButton, m_cancelButton})
        buttons->addWidget(b);

    auto* top = new QVBoxLayout(this);
    top->addLayout(columns);
    top->addLayout(buttons);
}

QWidget* CSarnelDlg::BuildColourSpaces() {
    auto* box = new QGroupBox(this);
    auto* column = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    const char* texts[3] = {"RGB", "HSV", "CIE L*a*b*"};
    const char* names[3] = {"rgb", "hsv", "lab"};
    for (int m = 0; m < 3; ++m) {
        m_modeButtons[m] = new QRadioButton(texts[m], box);
        m_modeButtons[m]->setObjectName(names[m]);
        group->addButton(m_modeButtons[m]);
        column->addWidget(m_modeButtons[m]);
    }
    return box;
}

QRadioButton* CSarnelDlg::AddFilterButton(const QString& text, const QString& name, int filter) {
    auto* b = new QRadioButton(text);
    b->setObjectName(name);
    m_filterGroup->addButton(b);
    m_filterButtons.emplace_back(b, filter);
    return b;
}

QWidget* CSarnelDlg::BuildSimple() {
    auto* box = new QGroupBox("Simple Normal Filters", this);
    auto* grid = new QGridLayout(box);
    grid->addWidget(AddFilterButton("Normal Filter", "normal", kSarnelNormal), 0, 0, 1, 3);
    grid->addWidget(AddFilterButton("Normal Geometric Filter", "geometric", kSarnelGeometric), 1, 0,
                    1, 3);
    grid->addWidget(AddFilterButton("Normal Garmonic Filter", "harmonic", kSarnelHarmonic), 2, 0, 1,
                    3);
    grid->addWidget(
        AddFilterButton("Normal Contr Garmonic Filter", "contraharmonic", kSarnelContraharmonic), 3,
        0, 1, 3);
    m_order = AddSlider(grid, 4, "Filter rang:", "order", 0, 100, &m_orderValue);
    grid->addWidget(ScaleLabels({"-5", "5"}), 5, 1);
    return box;
}

QWidget* CSarnelDlg::BuildOrderStatistics() {
    auto* box = new QGroupBox("Order Statistics Filters", this);
    auto* grid = new QGridLayout(box);
    grid->addWidget(
        AddFilterButton("Procentil(median) Filter", "percentileFilter", kSarnelPercentile), 0, 0, 1,
        3);
    m_percentile = NewSlider("percentile", 0, 2);
    m_percentile->setTickPosition(QSlider::TicksBelow);
    grid->addWidget(m_percentile, 1, 1);
    grid->addWidget(ScaleLabels({"0", "50", "100"}), 2, 1);
    grid->addWidget(AddFilterButton("Midpoint Filter", "midpoint", kSarnelMidpoint), 3, 0, 1, 3);
    grid->addWidget(AddFilterButton("Trimmed Mean Filter", "trimmedMean", kSarnelTrimmedMean), 4, 0,
                    1, 3);
    m_truncation = AddSlider(grid, 5, "Truncation:", "truncation", 1, 6, &m_truncationValue);
    return box;
}

QWidget* CSarnelDlg::BuildAdaptive() {
    auto* box = new QGroupBox("Adaptive Filters", this);
    auto* grid = new QGridLayout(box);
    grid->addWidget(AddFilterButton("Adaptive Local Filter", "adaptiveLocal", kSarnelAdaptiveLocal),
                    0, 0, 1, 3);
    m_noiseDispersion =
        AddSlider(grid, 1, "Noise Dispersion", "noiseDispersion", 1, 50, &m_noiseDispersionValue);
    grid->addWidget(
        AddFilterButton("Adaptive Median Filter", "adaptiveMedian", kSarnelAdaptiveMedian), 2, 0, 1,
        3);
    m_minAperture =
        AddSlider(grid, 3, "Minimal Apperture Size", "minAperture", 2, 11, &m_minApertureValue);
    m_maxAperture =
        AddSlider(grid, 4, "Maximal Apperture Size", "maxAperture", 2, 11, &m_maxApertureValue);
    return box;
}

QWidget* CSarnelDlg::BuildReject() {
    auto* box = new QGroupBox("Reject Filters", this);
    auto* grid = new QGridLayout(box);
    grid->addWidget(AddFilterButton("Butterworth Filter", "butterworth", kSarnelButterworth), 0, 0,
                    1, 3);
    grid->addWidget(AddFilterButton("Gauss Filter", "gauss", kSarnelGauss), 1, 0, 1, 3);
    grid->addWidget(new QLabel("Common reject options:"), 2, 0, 1, 3);
    m_rejectOrder = AddSlider(grid, 3, "", "rejectOrder", 1, 10, &m_rejectOrderValue);
    m_rejectD0 = AddSpinEdit(grid, 4, "D0:", "rejectD0");
    m_rejectW = AddSpinEdit(grid, 5, "W:", "rejectW");
    return box;
}

QWidget* CSarnelDlg::BuildNarrowBand() {
    auto* box = new QGroupBox("Narrow-band Reject Filters", this);
    auto* grid = new QGridLayout(box);
    // Both buttons select the one notch filter of the library.
    grid->addWidget(AddFilterButton("Butterworth Filter", "notchButterworth", kSarnelNotchGauss), 0,
                    0, 1, 3);
    grid->addWidget(AddFilterButton("Gauss Filter", "notchGauss", kSarnelNotchGauss), 1, 0, 1, 3);
    grid->addWidget(new QLabel("Common narrow-band options:"), 2, 0, 1, 3);
    m_notchOrder = AddSlider(grid, 3, "Filter rang:", "notchOrder", 1, 100, &m_notchOrderValue);
    m_notchD0 = AddSpinEdit(grid, 4, "D0:", "notchD0");
    m_notchU0 = AddSpinEdit(grid, 5, "U0:", "notchU0");
    m_notchV0 = AddSpinEdit(grid, 6, "V0:", "notchV0");
    return box;
}

QWidget* CSarnelDlg::BuildWiener() {
    auto* box = new QGroupBox("Wiener Filters", this);
    auto* grid = new QGridLayout(box);
    int row = 0;
    auto addValue = [&](const QString& caption, const QString& name) {
        WienerValue v;
        v.real = new QLineEdit(box);
        v.real->setObjectName(name);
        v.real->setMinimumWidth(64);
        v.scaled = new CSpinEdit(name + "Scaled", box);
        v.scaled->SetRange(0, 10000);
        grid->addWidget(new QLabel(caption), row, 0);
        grid->addWidget(v.real, row, 1);
        grid->addWidget(v.scaled, row++, 2);
        return v;
    };
    grid->addWidget(
        AddFilterButton("Wiener Vorticity", "wienerTurbulence", kSarnelWienerTurbulence), row++, 0,
        1, 3);
    m_deblur = addValue("De-blur:", "deblur");
    m_turbulenceNoise = addValue("Noise Factor:", "turbulenceNoise");
    grid->addWidget(AddFilterButton("Wiener Motion", "wienerMotion", kSarnelWienerMotion), row++, 0,
                    1, 3);
    m_moveX = addValue("Moving to X:", "moveX");
    m_moveY = addValue("Moving to Y:", "moveY");
    m_motionNoise = addValue("Noise Factor:", "motionNoise");
    return box;
}

void CSarnelDlg::SetStartValues() {
    m_apertureWidth->setValue(1);
    m_apertureHeight->setValue(1);
    m_order->setValue(50);
    m_percentile->setValue(1);
    m_truncation->setValue(1);
    m_minAperture->setValue(m_minAperture->minimum());
    m_maxAperture->setValue(m_maxAperture->minimum());
    m_noiseDispersion->setValue(10);
    m_rejectOrder->setValue(4);
    m_notchOrder->setValue(16);

    auto spin = [](CSpinEdit* e, int min, int max, int start) {
        e->SetRange(min, max);
        e->SetText(start);
    };
    spin(m_rejectD0, 1, 3000, 150);
    spin(m_rejectW, 1, 3000, 50);
    spin(m_notchD0, 1, 3000, 150);
    spin(m_notchU0, 0, m_pictureWidth / 4, m_pictureWidth / 4);
    spin(m_notchV0, -(m_pictureWidth / 2), m_pictureHeight / 2, m_pictureHeight / 4);

    for (auto [v, start] :
         {std::pair{&m_deblur, 25}, std::pair{&m_turbulenceNoise, 100}, std::pair{&m_moveX, 1000},
          std::pair{&m_moveY, 1000}, std::pair{&m_motionNoise, 100}}) {
        v->scaled->SetText(start);
        v->real->setText(WienerText(start));
    }
    Recompute();
}

int CSarnelDlg::ApertureWidth() const {
    return 2 * m_apertureWidth->value() + 1;
}

int CSarnelDlg::ApertureHeight() const {
    return 2 * m_apertureHeight->value() + 1;
}

void CSarnelDlg::Recompute() {
    // Resetting a range or raising a slider moves it again; one pass sets all.
    if (m_recomputing) return;
    m_recomputing = true;
    const int w = ApertureWidth(), h = ApertureHeight();
    m_apertureWidthValue->setText(QString::asprintf("%d", w));
    m_apertureHeightValue->setText(QString::asprintf("%d", h));
    const float q = float(double(m_order->value()) / 10.0 - 5.0);
    m_orderValue->setText(QString::asprintf("%.1f", double(q)));
    // The trimmed mean can drop at most all but three samples of the window.
    m_truncation->setRange(1, w * h - 3);
    m_truncationValue->setText(QString::asprintf("%d", std::min(m_truncation->value(), w * h - 3)));
    // The maximal aperture stays at least two above the minimal one.
    if (m_maxAperture->value() < m_minAperture->value())
        m_maxAperture->setValue(m_minAperture->value());
    m_minApertureValue->setText(QString::asprintf("%d", 2 * m_minAperture->value() - 1));
    m_maxApertureValue->setText(QString::asprintf("%d", 2 * m_maxAperture->value() + 1));
    m_noiseDispersionValue->setText(QString::asprintf("%d", 100 * m_noiseDispersion->value()));
    m_rejectOrderValue->setText(QString::asprintf("%d", m_rejectOrder->value()));
    m_notchOrderValue->setText(QString::asprintf("%d", m_notchOrder->value()));
    m_recomputing = false;
}

void CSarnelDlg::UpdateEnabling() {
    const int f = m_filter;
    const bool closing = m_closing != Closing::No;
    m_percentile->setEnabled(f == kSarnelPercentile);
    m_order->setEnabled(f == kSarnelContraharmonic);
    m_truncation->setEnabled(f == kSarnelTrimmedMean);
    m_minAperture->setEnabled(f == kSarnelAdaptiveMedian);
    m_maxAperture->setEnabled(f == kSarnelAdaptiveMedian);
    m_apertureWidth->setEnabled(f != kSarnelAdaptiveMedian);
    m_apertureHeight->setEnabled(f != kSarnelAdaptiveMedian);
    m_noiseDispersion->setEnabled(f == kSarnelAdaptiveLocal);
    const bool reject = f == kSarnelButterworth || f == kSarnelGauss;
    m_rejectD0->setEnabled(reject);
    m_rejectW->setEnabled(reject);
    m_rejectOrder->setEnabled(f == kSarnelButterworth);
    const bool notch = f == kSarnelNotchButterworth || f == kSarnelNotchGauss;
    m_notchOrder->setEnabled(notch);
    m_notchD0->setEnabled(notch);
    m_notchU0->setEnabled(notch);
    m_notchV0->setEnabled(notch);
    for (WienerValue* v : {&m_deblur, &m_turbulenceNoise}) {
        v->real->setEnabled(f == kSarnelWienerTurbulence);
        v->scaled->setEnabled(f == kSarnelWienerTurbulence);
    }
    for (WienerValue* v : {&m_moveX, &m_moveY, &m_motionNoise}) {
        v->real->setEnabled(f == kSarnelWienerMotion);
        v->scaled->setEnabled(f == kSarnelWienerMotion);
    }
    // Without a picture there is nothing to filter; once the dialog is
    // closing, nothing more is started.
    const bool picture = !m_worker->Source().Empty();
    m_applyButton->setEnabled(picture && !closing);
    m_resetButton->setEnabled(picture && !closing);
    m_okButton->setEnabled(!closing);
    m_cancelButton->setEnabled(!closing);
    for (QRadioButton* b : m_modeButtons) b->setEnabled(!closing);
}

SarnelParams CSarnelDlg::Params() const {
    SarnelParams p;
    p.filter = m_filter;
    p.apertureWidth = ApertureWidth();
    p.apertureHeight = ApertureHeight();
    p.orderQ = float(double(m_order->value()) / 10.0 - 5.0);
    p.percentile = m_percentile->value();
    p.truncation = std::min(m_truncation->value(), p.apertureWidth * p.apertureHeight - 3);
    p.minAperture = 2 * m_minAperture->value() - 1;
    p.maxAperture = 2 * m_maxAperture->value() + 1;
    p.noiseVariance = 100 * m_noiseDispersion->value();
    p.rejectOrder = m_rejectOrder->value();
    auto integer = [](const CSpinEdit* e) { return LeadingInt(e->Edit()->text().toStdString()); };
    p.rejectD0 = integer(m_rejectD0);
    p.rejectW = integer(m_rejectW);
    p.notchOrder = m_notchOrder->value();
    p.notchD0 = integer(m_notchD0);
    p.notchU0 = integer(m_notchU0);
    p.notchV0 = integer(m_notchV0);
    auto real = [](const WienerValue& v) { return LeadingReal(v.real->text().toStdString()); };
    p.turbulenceK = real(m_deblur);
    p.turbulenceNoise = real(m_turbulenceNoise);
    p.motionA = real(m_moveX);
    p.motionB = real(m_moveY);
    p.motionNoise = real(m_motionNoise);
    return p;
}

// ---------------------------------------------------------------------------
// Operations on the handle

std::function<void()> CSarnelDlg::Report(std::function<void()> then) {
    ++m_outstanding;
    ShowBusy();
    return [this, then = std::move(then)] {
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                then();
                Reported();
            },
            Qt::QueuedConnection);
    };
}

std::function<void(std::shared_ptr<BMP_File>)>
CSarnelDlg::Report(std::function<void(std::shared_ptr<BMP_File>)> then) {
    ++m_outstanding;
    ShowBusy();
    return [this, then = std::move(then)](std::shared_ptr<BMP_File> result) {
        QMetaObject::invokeMethod(
            this,
            [this, then, result] {
                then(result);
                Reported();
            },
            Qt::QueuedConnection);
    };
}

void CSarnelDlg::Reported() {
    --m_outstanding;
    ShowBusy();
    if (m_outstanding == 0 && m_closing != Closing::No) FinishClosing();
}

void CSarnelDlg::ShowBusy() {
    const bool busy = m_outstanding > 0;
    m_busy->setVisible(busy);
    m_busyText->setVisible(busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void CSarnelDlg::SetMode(int mode) {
    if (m_closing != Closing::No) return;
    m_worker->Convert(mode, Report([] {}));
    m_mode = mode;
    for (int m = 0; m < 3; ++m) m_panels[m]->setVisible(m == mode);
    UpdateEnabling();
}

void CSarnelDlg::SetFilter(int filter) {
    m_filter = filter;
    UpdateEnabling();
}

void CSarnelDlg::Apply() {
    if (m_closing != Closing::No || m_worker->Source().Empty()) return;
    m_applied = true;
    // The values and channels as they are at the press; the filter runs when
    // the worker gets to it.
    m_worker->Filter(Params(), m_panels[m_mode]->Channels(),
                     Report([this](std::shared_ptr<BMP_File> result) {
                         // A cancelled dialog puts the opening picture back instead.
                         if (m_closing == Closing::Reject) return;
                         if (result) m_noiseReduced = std::move(*result);
                         m_reprocess();
                     }));
    UpdateEnabling();
}

void CSarnelDlg::Reset() {
    if (m_closing != Closing::No || m_worker->Source().Empty()) return;
    m_applied = false;
    // The new handle is brought to the colour space shown, so that the panel's
    // channels have planes and the next Apply filters at once.
    m_worker->Reload(m_mode, Report([this] {
                         if (m_closing == Closing::Reject) return;
                         m_noiseReduced = m_worker->Source();
                         m_reprocess();
                     }));
}

// ---------------------------------------------------------------------------
// Closing

void CSarnelDlg::accept() {
    if (m_closing != Closing::No) return;
    // Presses of Apply already made are kept: the dialog closes once they are in.
    m_closing = Closing::Accept;
    UpdateEnabling();
    if (!Busy()) FinishClosing();
}

void CSarnelDlg::reject() {
    if (m_closing != Closing::No) return;
    // What has not started is dropped; the running filter cannot be stopped
    // inside the library, so the dialog closes when it returns.
    m_closing = Closing::Reject;
    m_outstanding -= int(m_worker->DropPending());
    ShowBusy();
    UpdateEnabling();
    if (!Busy()) FinishClosing();
}

void CSarnelDlg::FinishClosing() {
    const Closing how = m_closing;
    m_closing = Closing::No;
    UpdateEnabling();
    if (how == Closing::Reject) {
        if (!m_noiseReduced.Empty()) {
            m_noiseReduced = m_saved;
            m_reprocess();
        }
        QDialog::reject();
    } else {
        QDialog::accept();
    }
}

int OpenSarnelDialog(ImageSet& images, std::function<void()> reprocess, QWidget* parent) {
    if (images.original.Empty()) return QDialog::Rejected;
    CSarnelDlg dlg(images.original, images.noiseReduced, std::move(reprocess), parent);
    return dlg.exec();
}
