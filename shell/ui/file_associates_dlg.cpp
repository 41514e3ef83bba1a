#include "shell/ui/file_associates_dlg.h"

#include "imageops/ui/dialog_buttons.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QVBoxLayout>

std::string MimeTypeOfExtension(const std::string& extension) {
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(
        QStringLiteral("x") + QString::fromStdString(extension), QMimeDatabase::MatchExtension);
    // The fallback type means the database does not know the extension; it must
    // never become a default, or Pellorin would open every unknown file.
    if (!type.isValid() || type.isDefault()) return {};
    return type.name().toStdString();
}

CFileAssociatesDlg::CFileAssociatesDlg(QWidget* parent, WasAssociatedFlags& flags)
    : QDialog(parent), m_associations(XdgDirs::FromEnvironment(), MimeTypeOfExtension),
      m_flags(flags) {
    setWindowTitle("File Associates");
    auto* layout = new QVBoxLayout(this);
    for (size_t i = 0; i < m_boxes.size(); ++i) {
        m_boxes[i] = new QCheckBox(QString::fromUtf8(AssociationBoxes()[i].text.data(),
                                                     qsizetype(AssociationBoxes()[i].text.size())),
                                   this);
        layout->addWidget(m_boxes[i]);
    }
    layout->addWidget(AcceptCancelButtons(this));

    const auto checked = m_associations.ReadBoxes(m_flags);
    for (size_t i = 0; i < m_boxes.size(); ++i) m_boxes[i]->setChecked(checked[i]);
}

void CFileAssociatesDlg::accept() {
    std::array<bool, kAssociationBoxCount> checked{};
    for (size_t i = 0; i < m_boxes.size(); ++i) checked[i] = m_boxes[i]->isChecked();
    const std::string program =
        QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    const std::vector<std::string> failures =
        m_associations.ApplyBoxes(checked, m_flags, m_associations.OwnEntry(program));
    if (!failures.empty()) {
        QString text = "The file associations could not be saved:\n";
        for (const std::string& f : failures) text += "\n" + QString::fromLocal8Bit(f.c_str());
        QMessageBox::warning(this, "Error", text);
    }
    QDialog::accept();
}
