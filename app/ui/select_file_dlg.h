#pragma once
// "Select File": a list of picture files that the user gathers from folders and
// single files, and from which one is picked to be loaded.

#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;
class QPushButton;

class CSelectFileDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSelectFileDlg(QWidget* parent = nullptr);

    // The selected entry, or empty when nothing is selected or the dialog was
    // cancelled. The caller loads it when the dialog closes.
    QString CurrentFile() const;

    // The whole list, so that the caller can keep it for the next opening.
    QStringList Files() const;
    void SetFiles(const QStringList& files);

    // What the buttons do once the user has chosen in the file dialogs. A file
    // already in the list is not added twice. Return how many were added.
    int AddFolder(const QString& folder);
    int AddFiles(const QStringList& files);
    // Removes the selected entry; the current file is then cleared.
    void RemoveSelectedFile();

    // The filter last chosen in "Add File(s)..."'s dialog (1-based).
    int FilterIndex() const { return m_filterIndex; }

protected:
    void done(int result) override;

private:
    void OnAddFolder();
    void OnAddFiles();
    void UpdateButtons();

    QListWidget* m_list;
    QPushButton* m_remove;
    QString m_current;
    int m_filterIndex = 1;
};
