#include "app/noise/spin_edit.h"

#include "app/noise/noise_filter.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

CSpinEdit::CSpinEdit(const QString& name, QWidget* parent) : QWidget(parent) {
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(name);
    m_edit->setMinimumWidth(64);
    m_edit->installEventFilter(this);
    auto makeButton = [&](Qt::ArrowType arrow, const QString& suffix, int delta) {
        auto* b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setObjectName(name + suffix);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(18, 12);
        connect(b, &QToolButton::clicked, this, [this, delta] { Step(delta); });
        return b;
    };
    m_up = makeButton(Qt::UpArrow, "Up", +1);
    m_down = makeButton(Qt::DownArrow, "Down", -1);

    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    arrows->addWidget(m_up);
    arrows->addWidget(m_down);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(m_edit, 1);
    row->addLayout(arrows);
}

void CSpinEdit::SetRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = std::max(minimum, maximum);
}

void CSpinEdit::SetText(int value) {
    const QSignalBlocker block(m_edit);
    m_edit->setText(QString::asprintf("%d", value));
}

void CSpinEdit::Step(int delta) {
    // The number in the edit is where the button starts from; one outside the
    // range comes back into it first.
    const int64_t current =
        std::clamp<int64_t>(LeadingInt(m_edit->text().toStdString()), m_min, m_max);
    const int next = int(std::clamp<int64_t>(current + delta, m_min, m_max));
    SetText(next);
    emit Stepped(next);
}

bool CSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
