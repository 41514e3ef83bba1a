#pragma once
// The effect list of the main window: one row per entry of "Array Of Effects",
// a check box per row (its tick is the entry's on/off state) and an editable
// label. The rows and the arrays of the settings record always move together.

#include "app/settings.h"

#include <QDialog>
#include <QWidget>

#include <functional>

class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;

// "Select Effect": the 34 effects in identifier order; those not available yet
// are listed but cannot be chosen.
class CSelectEffectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSelectEffectDlg(QWidget* parent = nullptr);
    int SelectedId() const { return m_id; }
    QString SelectedName() const { return m_name; }
    QTreeWidget* List() const { return m_list; }

public slots:
    void accept() override;

private:
    QTreeWidget* m_list;
    int m_id = -1;
    QString m_name;
};

class CEffectList : public QWidget {
    Q_OBJECT
public:
    CEffectList(ProcessingSettings& settings, QWidget* parent = nullptr);

    // Called after any change that affects processing.
    std::function<void()> onChanged;
    // Opens the parameter dialog of an effect; returns false when it has none.
    std::function<bool(int id)> onEdit;

    // Rebuilds the rows from the arrays (after a configuration load). No change
    // notifications are sent while it runs.
    void Refill();
    // Reads every row's tick into "Array_Of_Effects_Checks".
    void SyncChecks();

    // The commands, usable without the buttons.
    void Insert(int id);
    bool EditSelected();
    void MoveUp();
    void MoveDown();
    void RemoveSelected();
    void RemoveAll();

    QTreeWidget* Tree() const { return m_tree; }
    int SelectedRow() const;
    void SelectRow(int row);

private:
    QTreeWidgetItem* MakeRow(int id, bool ticked, const QString& label);
    void MoveRow(int from, int to);
    void Changed();

    ProcessingSettings& m_settings;
    QTreeWidget* m_tree;
    QPushButton* m_insert;
    bool m_filling = false;
};
