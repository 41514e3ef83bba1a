#include "app/ui/effect_list.h"

#include "imageops/effect_table.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QTreeWidget* MakeEffectTree(QWidget* parent) {
    auto* tree = new QTreeWidget(parent);
    tree->setColumnCount(1);
    tree->setHeaderLabels({"Effects"});
    tree->setColumnWidth(0, 220);
    tree->setRootIsDecorated(false);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    return tree;
}

} // namespace

CSelectEffectDlg::CSelectEffectDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Select Effect");
    m_list = MakeEffectTree(this);
    for (const EffectRow& row : EffectTable()) {
        auto* item = new QTreeWidgetItem(m_list, {QString::fromUtf8(row.name)});
        if (!row.Available()) {
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            item->setToolTip(0, "Not available in this version");
        }
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSelectEffectDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelectEffectDlg::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(280, 480);
}

void CSelectEffectDlg::accept() {
    QTreeWidgetItem* item = m_list->currentItem();
    // OK without a chosen row keeps the dialog open.
    if (!item || !item->isSelected() || !(item->flags() & Qt::ItemIsEnabled)) return;
    m_id = m_list->indexOfTopLevelItem(item);
    m_name = item->text(0);
    QDialog::accept();
}

CEffectList::CEffectList(ProcessingSettings& settings, QWidget* parent)
    : QWidget(parent), m_settings(settings) {
    m_tree = MakeEffectTree(this);
    m_tree->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // A double click opens the row's settings, as "Edit Effect..." does; the
    // label is renamed with F2 or a click on the selected row.
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (!item) return;
        m_tree->setCurrentItem(item);
        EditSelected();
    });
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*) {
        if (m_filling) return;
        SyncChecks();
        Changed();
    });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_filling) Changed();
    });

    m_insert = new QPushButton("Insert Effect...", this);
    auto* edit = new QPushButton("Edit Effect...", this);
    auto* up = new QPushButton("Move Up", this);
    auto* down = new QPushButton("Move Down", this);
    auto* remove = new QPushButton("Remove", this);
    auto* removeAll = new QPushButton("Remove All", this);
    connect(m_insert, &QPushButton::clicked, this, [this] {
        CSelectEffectDlg dlg(this);
        if (dlg.exec() == QDialog::Accepted) Insert(dlg.SelectedId());
    });
    connect(edit, &QPushButton::clicked, this, [this] { EditSelected(); });
    connect(up, &QPushButton::clicked, this, &CEffectList::MoveUp);
    connect(down, &QPushButton::clicked, this, &CEffectList::MoveDown);
    connect(remove, &QPushButton::clicked, this, &CEffectList::RemoveSelected);
    connect(removeAll, &QPushButton::clicked, this, &CEffectList::RemoveAll);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_insert, edit, up, down, remove, removeAll}) buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree, 1);
    layout->addLayout(buttons);
}

QTreeWidgetItem* CEffectList::MakeRow(int id, bool ticked, const QString& label) {
    auto* item = new QTreeWidgetItem({label});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    item->setData(0, Qt::UserRole, id);
    return item;
}

void CEffectList::Refill() {
    m_filling = true;
    m_settings.NormalizeEffectChecks();
    m_tree->clear();
    for (size_t i = 0; i < m_settings.m_aEffects.size(); ++i) {
        const int id = m_settings.m_aEffects[i];
        const EffectRow* row = FindEffect(id);
        const QString name =
            row ? QString::fromUtf8(row->name) : QString("Unknown effect %1").arg(id);
        m_tree->addTopLevelItem(MakeRow(id, m_settings.m_aEffectChecks[i] != 0, name));
    }
    m_filling = false;
}

void CEffectList::SyncChecks() {
    m_settings.m_aEffectChecks.clear();
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        m_settings.m_aEffectChecks.push_back(
            m_tree->topLevelItem(i)->checkState(0) == Qt::Checked ? 1 : 0);
}

void CEffectList::Changed() {
    if (onChanged) onChanged();
}

int CEffectList::SelectedRow() const {
    const auto items = m_tree->selectedItems();
    return items.isEmpty() ? -1 : m_tree->indexOfTopLevelItem(items.first());
}

void CEffectList::SelectRow(int row) {
    if (QTreeWidgetItem* item = m_tree->topLevelItem(row)) {
        m_tree->setCurrentItem(item);
        item->setSelected(true);
    }
}

void CEffectList::Insert(int id) {
    const EffectRow* row = FindEffect(id);
    if (!row || !row->Available()) return;
    // New rows start unticked: they change nothing until the user ticks them.
    m_filling = true;
    m_tree->addTopLevelItem(MakeRow(id, false, QString::fromUtf8(row->name)));
    m_settings.m_aEffects.push_back(id);
    SyncChecks();
    m_filling = false;
    Changed();
}

bool CEffectList::EditSelected() {
    const int row = SelectedRow();
    if (row < 0 || !onEdit) return false;
    return onEdit(m_settings.m_aEffects[size_t(row)]);
}

void CEffectList::MoveRow(int from, int to) {
    m_filling = true;
    QTreeWidgetItem* item = m_tree->takeTopLevelItem(from);
    m_tree->insertTopLevelItem(to, item);
    const int32_t id = m_settings.m_aEffects[size_t(from)];
    m_settings.m_aEffects.erase(m_settings.m_aEffects.begin() + from);
    m_settings.m_aEffects.insert(m_settings.m_aEffects.begin() + to, id);
    SyncChecks();
    m_tree->clearSelection();
    SelectRow(to);
    m_filling = false;
    Changed();
}

void CEffectList::MoveUp() {
    const int row = SelectedRow();
    if (row > 0) MoveRow(row, row - 1);
}

void CEffectList::MoveDown() {
    const int row = SelectedRow();
    if (row >= 0 && row + 1 < m_tree->topLevelItemCount()) MoveRow(row, row + 1);
}

void CEffectList::RemoveSelected() {
    const int row = SelectedRow();
    if (row < 0) return;
    m_filling = true;
    delete m_tree->takeTopLevelItem(row);
    m_settings.m_aEffects.erase(m_settings.m_aEffects.begin() + row);
    SyncChecks();
    m_tree->clearSelection();
    m_filling = false;
    Changed();
}

void CEffectList::RemoveAll() {
    m_filling = true;
    m_tree->clear();
    m_settings.m_aEffects.clear();
    m_settings.m_aEffectChecks.clear();
    m_filling = false;
    Changed();
}
