// "Select File": folders and files fill the list without duplicates, the
// selected entry is the current file, "Remove File" trims the list.

#include "app/ui/select_file_dlg.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QPushButton* Button(QWidget& w, const QString& text) {
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

} // namespace

TEST(SelectFileDlg, AddFolderAddFilesRemove) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"b.jpg", "a.png", "c.bmp", "notes.txt", "clip.avi"})
        Touch(dir.filePath(QString::fromLatin1(name)));

    CSelectFileDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Select File");
    ASSERT_NE(Button(dlg, "Add Folder..."), nullptr);
    ASSERT_NE(Button(dlg, "Add File(s)..."), nullptr);
    QPushButton* remove = Button(dlg, "Remove File");
    ASSERT_NE(remove, nullptr);
    auto* list = dlg.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);

    // The folder's pictures in folder-list order: *.png, then *.bmp, then *.jpg.
    EXPECT_EQ(dlg.AddFolder(dir.path()), 3);
    const QString png = dir.path() + "/a.png", bmp = dir.path() + "/c.bmp",
                  jpg = dir.path() + "/b.jpg";
    EXPECT_EQ(dlg.Files(), (QStringList{png, bmp, jpg}));
    EXPECT_EQ(dlg.AddFolder(dir.path()), 0) << "a second time adds nothing";

    const QString other = dir.filePath("elsewhere.gif");
    EXPECT_EQ(dlg.AddFiles({other, png}), 1);
    EXPECT_EQ(dlg.Files().size(), 4);
    EXPECT_TRUE(dlg.CurrentFile().isEmpty());
    EXPECT_FALSE(remove->isEnabled()) << "nothing selected, nothing to remove";

    // Selecting an entry makes it the current file.
    list->setCurrentRow(2);
    EXPECT_EQ(dlg.CurrentFile(), jpg);
    list->setCurrentRow(1);
    EXPECT_EQ(dlg.CurrentFile(), bmp);
    EXPECT_TRUE(remove->isEnabled());

    // The button removes exactly the selected entry; no neighbour is picked.
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(dlg.Files(), (QStringList{png, jpg, other}));
    EXPECT_TRUE(dlg.CurrentFile().isEmpty());
    EXPECT_FALSE(remove->isEnabled());

    // OK keeps the selection as the file to load; Cancel loads nothing.
    list->setCurrentRow(0);
    dlg.accept();
    EXPECT_EQ(dlg.CurrentFile(), png);
    list->setCurrentRow(1);
    dlg.reject();
    EXPECT_TRUE(dlg.CurrentFile().isEmpty());
}

TEST(SelectFileDlg, ListCanBeCarriedToTheNextOpening) {
    CSelectFileDlg first;
    first.AddFiles({"/pictures/one.png", "/pictures/two.jpg", "/pictures/one.png"});
    EXPECT_EQ(first.Files().size(), 2);
    CSelectFileDlg second;
    second.SetFiles(first.Files());
    EXPECT_EQ(second.Files(), (QStringList{"/pictures/one.png", "/pictures/two.jpg"}));
    EXPECT_EQ(second.AddFolder(QString()), 0);
    EXPECT_EQ(second.AddFolder("/no/such/folder"), 0);
}
