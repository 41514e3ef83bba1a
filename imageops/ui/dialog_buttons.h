#pragma once
// The closing buttons every settings dialog has: an accepting one ("OK" or
// "Apply") and "Cancel", named after their texts so tests can find them.

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

inline QDialogButtonBox* AcceptCancelButtons(QDialog* dlg, const QString& acceptText = "OK") {
    auto* box = new QDialogButtonBox(dlg);
    QPushButton* accept = box->addButton(acceptText, QDialogButtonBox::AcceptRole);
    QPushButton* cancel = box->addButton("Cancel", QDialogButtonBox::RejectRole);
    accept->setObjectName(acceptText.toLower());
    cancel->setObjectName("cancel");
    accept->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    return box;
}
