#pragma once
// "File Associates": seven check boxes that make Pellorin the program the
// desktop opens these picture types with. OK applies them and rewrites the
// program's own desktop entry; Cancel changes nothing.

#include "shell/file_associations.h"

#include <QDialog>

#include <array>
#include <string>

class QCheckBox;

// The MIME type the shared MIME database gives files with this extension
// (".jpg"), or empty when it knows none.
std::string MimeTypeOfExtension(const std::string& extension);

class CFileAssociatesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFileAssociatesDlg(QWidget* parent = nullptr,
                                WasAssociatedFlags& flags = ProcessWasAssociatedFlags());

    // The box for AssociationBoxes()[index].
    QCheckBox* Box(int index) const { return m_boxes[size_t(index)]; }

    void accept() override;

private:
    CFileAssociations m_associations;
    WasAssociatedFlags& m_flags;
    std::array<QCheckBox*, kAssociationBoxCount> m_boxes{};
};
