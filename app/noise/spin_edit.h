#pragma once
// An edit field with a spin button beside it that works on the edit's text: a
// click (or the Up and Down keys in the edit) reads the number in the edit,
// steps it by one within the range and writes it back. The edit itself takes
// any text, so a value typed outside the range stays as typed; whoever reads
// the edit decides what the text means.

#include <QWidget>

class QLineEdit;
class QToolButton;

class CSpinEdit : public QWidget {
    Q_OBJECT
public:
    // The edit gets `name` as object name, the buttons name + "Up" and + "Down".
    explicit CSpinEdit(const QString& name, QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    int Minimum() const { return m_min; }
    int Maximum() const { return m_max; }
    // Writes the number into the edit ("%d"), without signals.
    void SetText(int value);
    QLineEdit* Edit() const { return m_edit; }
    // Steps the edit's number by `delta` within the range.
    void Step(int delta);

signals:
    // The spin button changed the edit's number.
    void Stepped(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_edit;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min = 0;
    int m_max = 100;
};
