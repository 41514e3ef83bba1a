#include "app/ui/select_file_dlg.h"

#include "app/folder_list.h"
#include "app/ui/open_image_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CSelectFileDlg::CSelectFileDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select File"));
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setMinimumSize(480, 300);

    auto* addFolder = new QPushButton(QStringLiteral("Add Folder..."), this);
    auto* addFiles = new QPushButton(QStringLiteral("Add File(s)..."), this);
    m_remove = new QPushButton(QStringLiteral("Remove File"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* side = new QVBoxLayout;
    side->addWidget(addFolder);
    side->addWidget(addFiles);
    side->addWidget(m_remove);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_list, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);

    connect(addFolder, &QPushButton::clicked, this, &CSelectFileDlg::OnAddFolder);
    connect(addFiles, &QPushButton::clicked, this, &CSelectFileDlg::OnAddFiles);
    connect(m_remove, &QPushButton::clicked, this, &CSelectFileDlg::RemoveSelectedFile);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> sel = m_list->selectedItems();
        m_current = sel.isEmpty() ? QString() : sel.first()->text();
        UpdateButtons();
    });
    // A double click picks the entry and closes, as in any file list.
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        m_current = item->text();
        accept();
    });
    UpdateButtons();
}

QString CSelectFileDlg::CurrentFile() const {
    return m_current;
}

QStringList CSelectFileDlg::Files() const {
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i) out << m_list->item(i)->text();
    return out;
}

void CSelectFileDlg::SetFiles(const QStringList& files) {
    m_list->clear();
    m_current.clear();
    AddFiles(files);
}

int CSelectFileDlg::AddFiles(const QStringList& files) {
    QStringList present = Files();
    int added = 0;
    for (const QString& f : files) {
        if (f.isEmpty() || present.contains(f)) continue;
        m_list->addItem(f);
        present << f;
        ++added;
    }
    UpdateButtons();
    return added;
}

int CSelectFileDlg::AddFolder(const QString& folder) {
    if (folder.isEmpty()) return 0;
    QStringList files;
    for (const std::string& f : ListFolderImages(QFile::encodeName(folder).toStdString(), 1))
        files << QFile::decodeName(QByteArray::fromStdString(f));
    return AddFiles(files);
}

void CSelectFileDlg::RemoveSelectedFile() {
    const QList<QListWidgetItem*> sel = m_list->selectedItems();
    if (sel.isEmpty()) return;
    // Block the selection signal: removing the row must not quietly make its
    // neighbour the file to load.
    m_list->blockSignals(true);
    delete m_list->takeItem(m_list->row(sel.first()));
    m_list->clearSelection();
    m_list->blockSignals(false);
    m_current.clear();
    UpdateButtons();
}

void CSelectFileDlg::done(int result) {
    if (result != QDialog::Accepted) m_current.clear();
    QDialog::done(result);
}

void CSelectFileDlg::OnAddFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Add Folder"), RememberedFolder(dialog_folder::kSelectFolder),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (folder.isEmpty()) return;
    RememberFolder(dialog_folder::kSelectFolder, folder);
    AddFolder(folder);
}

void CSelectFileDlg::OnAddFiles() {
    AddFiles(GetOpenImageFiles(this, m_filterIndex));
}

void CSelectFileDlg::UpdateButtons() {
    m_remove->setEnabled(!m_list->selectedItems().isEmpty());
}
