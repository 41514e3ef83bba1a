#include "imageops/ui/displacement_dialogs.h"
#include "imageops/ui/dialog_buttons.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>

namespace {

QString Number(int v) {
    return QString::number(v);
}

// A slider row bound to an integer setting: the slider starts at the
// setting's value, and each move writes the setting and previews.
void BindSlider(QDialog* dlg, QGridLayout* grid, int row, const QString& caption, int min, int max,
                const QString& name, std::function<QString(int)> format, int32_t& field,
                CDialogHost& host) {
    SliderRow r = AddSliderRow(grid, row, caption, min, max, name, std::move(format));
    r.slider->setValue(field);
    r.Show();
    QObject::connect(r.slider, &QSlider::valueChanged, dlg, [r, &field, &host](int v) {
        field = v;
        r.Show();
        host.Reprocess();
    });
}

// A check box bound to a flag setting.
QCheckBox* BindCheck(QDialog* dlg, const QString& text, const QString& name, uint8_t& field,
                     CDialogHost& host) {
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    box->setChecked(field != 0);
    QObject::connect(box, &QCheckBox::toggled, dlg, [&field, &host](bool on) {
        field = on ? 1 : 0;
        host.Reprocess();
    });
    return box;
}

// Radio buttons laid out in a row, the one whose value the setting holds
// checked; choosing one writes its value and previews.
template <class Field>
QWidget* BindRadios(QDialog* dlg, const QString& title,
                    std::initializer_list<std::pair<const char*, int>> choices, Field& field,
                    CDialogHost& host) {
    auto* group = new QGroupBox(title);
    auto* row = new QHBoxLayout(group);
    auto* buttons = new QButtonGroup(dlg);
    for (const auto& [text, value] : choices) {
        auto* b = new QRadioButton(text);
        b->setObjectName(QString(text).toLower().remove(' '));
        b->setChecked(int(field) == value);
        buttons->addButton(b, value);
        row->addWidget(b);
    }
    row->addStretch();
    QObject::connect(buttons, &QButtonGroup::idToggled, dlg, [&field, &host](int id, bool on) {
        if (!on) return;
        field = Field(id);
        host.Reprocess();
    });
    return group;
}

} // namespace

CWaveEffectDlg::CWaveEffectDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(Read()) {
    setWindowTitle("Waves");
    ProcessingSettings& s = host.Settings();
    auto* grid = new QGridLayout;
    BindSlider(this, grid, 0, "Amplitude:", 0, 100, "amplitude", Number, s.m_nAmplitudeWave, host);
    BindSlider(this, grid, 1, "Wavelength:", 0, 50, "wavelength", Number, s.m_nWavelengthWave,
               host);
    BindSlider(this, grid, 2, "Phase:", 0, 360, "phase", Number, s.m_nPhaseWave, host);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(
        BindRadios(this, QString(), {{"Smear", 1}, {"Transparency", 0}}, s.m_bSmearWave, host));
    layout->addWidget(BindCheck(this, "Reflective", "reflective", s.m_bReflectiveWave, host));
    layout->addWidget(AcceptCancelButtons(this));
}

CWaveEffectDlg::Values CWaveEffectDlg::Read() const {
    const ProcessingSettings& s = host_.Settings();
    return {s.m_nAmplitudeWave, s.m_nWavelengthWave, s.m_nPhaseWave, s.m_bSmearWave,
            s.m_bReflectiveWave};
}

void CWaveEffectDlg::Write(const Values& v) {
    ProcessingSettings& s = host_.Settings();
    s.m_nAmplitudeWave = v.amplitude;
    s.m_nWavelengthWave = v.wavelength;
    s.m_nPhaseWave = v.phase;
    s.m_bSmearWave = v.smear;
    s.m_bReflectiveWave = v.reflective;
}

void CWaveEffectDlg::reject() {
    Write(opening_);
    host_.Reprocess();
    QDialog::reject();
}

CRippleEffectDlg::CRippleEffectDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(Read()) {
    setWindowTitle("Ripple");
    ProcessingSettings& s = host.Settings();
    auto* grid = new QGridLayout;
    BindSlider(this, grid, 0, "Amplitude:", 0, 200, "amplitude", Number, s.m_nAmplitudeRipple,
               host);
    BindSlider(this, grid, 1, "Period:", 1, 200, "period", Number, s.m_nPeriodRipple, host);
    BindSlider(this, grid, 2, "Phase shift:", 0, 360, "phaseShift", Number, s.m_nPShiftRipple,
               host);

    auto* checks = new QHBoxLayout;
    checks->addWidget(
        BindCheck(this, "Antialiasing", "antialiasing", s.m_bAntialiasingRipple, host));
    checks->addWidget(
        BindCheck(this, "Retain tilability", "retainTilability", s.m_bRetainRipple, host));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(checks);
    layout->addWidget(BindRadios(this, "Wave Type", {{"Horizontal", 0}, {"Vertical", 1}},
                                 s.m_nHorizontalRipple, host));
    layout->addWidget(BindRadios(this, "Edges", {{"Smear", 0}, {"Wrap", 1}, {"Blank", 2}},
                                 s.m_nEdgesRipple, host));
    layout->addWidget(
        BindRadios(this, QString(), {{"Sawtooth", 0}, {"Sine", 1}}, s.m_nSawtoothRipple, host));
    layout->addWidget(AcceptCancelButtons(this));
}

CRippleEffectDlg::Values CRippleEffectDlg::Read() const {
    const ProcessingSettings& s = host_.Settings();
    return {s.m_nAmplitudeRipple,    s.m_nPeriodRipple, s.m_nPShiftRipple,     s.m_nEdgesRipple,
            s.m_bAntialiasingRipple, s.m_bRetainRipple, s.m_nHorizontalRipple, s.m_nSawtoothRipple};
}

void CRippleEffectDlg::Write(const Values& v) {
    ProcessingSettings& s = host_.Settings();
    s.m_nAmplitudeRipple = v.amplitude;
    s.m_nPeriodRipple = v.period;
    s.m_nPShiftRipple = v.phaseShift;
    s.m_nEdgesRipple = v.edges;
    s.m_bAntialiasingRipple = v.antialias;
    s.m_bRetainRipple = v.retain;
    s.m_nHorizontalRipple = v.horizontal;
    s.m_nSawtoothRipple = v.sawtooth;
}

void CRippleEffectDlg::reject() {
    Write(opening_);
    host_.Reprocess();
    QDialog::reject();
}

CWhirlPinchEffectDlg::CWhirlPinchEffectDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), radius_(host.Settings().m_nRadiusWhirlPinch),
      pinch_(host.Settings().m_nPinchWhirlPinch), whirl_(host.Settings().m_nWhirlWhirlPinch) {
    setWindowTitle("Whirl & Pinch");
    ProcessingSettings& s = host.Settings();
    auto* grid = new QGridLayout;
    BindSlider(this, grid, 0, "Radius:", 0, 200, "radius", PercentText, s.m_nRadiusWhirlPinch,
               host);
    BindSlider(this, grid, 1, "Pinch:", -100, 100, "pinch", PercentText, s.m_nPinchWhirlPinch,
               host);
    BindSlider(this, grid, 2, "Whirl:", -720, 720, "whirl", Number, s.m_nWhirlWhirlPinch, host);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this));
}

void CWhirlPinchEffectDlg::reject() {
    ProcessingSettings& s = host_.Settings();
    s.m_nRadiusWhirlPinch = radius_;
    s.m_nPinchWhirlPinch = pinch_;
    s.m_nWhirlWhirlPinch = whirl_;
    host_.Reprocess();
    QDialog::reject();
}
