// The upload dialogs driven as a user would: the remembered addresses and
// server, the question for a server, a whole upload with its files, Cancel,
// failures that keep the dialog open, the size limit, the links dialog and the
// main window's button.

#include "app/image_files.h"
#include "app/ui/pellorin_dlg.h"
#include "tests/app_ui/ui_test_util.h"
#include "tests/upload/test_server.h"
#include "upload/ui/upload_dlg.h"
#include "upload/ui/upload_links_dlg.h"
#include "upload/ui/upload_process_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kPage = "<html><body>\n"
                          "<a href=\"http://pics.test/images/abc.png\"><img src=\"t.png\"></a>\n"
                          "<a href=\"http://pics.test/albums/me\">album</a>\n"
                          "</body></html>\n";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

template <class W> W* Named(QWidget* parent, const char* name) {
    return parent->findChild<W*>(name);
}

QPushButton* Button(QWidget* parent, const QString& text) {
    for (QPushButton* b : parent->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

// Records the URLs handed to the desktop for opening.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// Answers the next message box and keeps its text.
void AnswerNextMessage(QString* text) {
    WithNextModal<QMessageBox>([text](QMessageBox* m) {
        *text = m->text();
        m->accept();
    });
}

class UploadDialogs : public ::testing::Test {
protected:
    fs::path dir;
    std::vector<std::pair<const char*, std::string>> savedEnv;
    std::vector<std::string> savedPaths;

    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        dir = fs::temp_directory_path() /
              ("pellorin-upload-ui-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "tmp");
        SetEnv("XDG_CONFIG_HOME", (dir / "config").string());
        SetEnv("XDG_DATA_HOME", (dir / "data").string());
        SetEnv("TMPDIR", (dir / "tmp").string());
    }
    void TearDown() override {
        for (auto& [name, value] : savedEnv) {
            if (value == "\x01unset")
                ::unsetenv(name);
            else
                ::setenv(name, value.c_str(), 1);
        }
        fs::remove_all(dir);
    }
    void SetEnv(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        savedEnv.emplace_back(name, old ? old : "\x01unset");
        ::setenv(name, value.c_str(), 1);
    }
    fs::path ConfigFile() const { return dir / "config" / "pellorin" / "config.ini"; }

    // A saver that writes `bytes` and remembers where.
    UploadPictureSaver Saver(std::string bytes) {
        return [this, bytes](const std::string& path, std::string*) {
            savedPaths.push_back(path);
            WriteFile(path, bytes);
            return true;
        };
    }
    static UploadOptions Loopback(uint16_t port) {
        UploadOptions o;
        o.lookup = LoopbackLookup(port);
        o.limits.connect = 5s;
        o.limits.idle = 5s;
        o.limits.answer = 10s;
        return o;
    }
    // The temporary folders the dialogs made.
    int TempFolders() const {
        int n = 0;
        for (auto& e : fs::directory_iterator(dir / "tmp")) n += e.is_directory();
        return n;
    }
};

} // namespace

TEST_F(UploadDialogs, ShowsTheRememberedAddressesAndServer) {
    fs::create_directories(ConfigFile().parent_path());
    WriteFile(ConfigFile(), "; Pellorin upload settings\r\n\r\n[User emails]\r\n"
                            "m_arrEMails=2 a@x.test\x01"
                            "b@x.test\x01\r\n"
                            "m_strLastEMail=b@x.test\r\n\r\n[Upload]\r\n"
                            "m_strServer=https://pics.test\r\n");
    CUploadDlg dlg(Saver("x"));
    EXPECT_EQ(dlg.windowTitle(), "Upload to External Server");
    QStringList formats;
    for (QRadioButton* r : dlg.findChildren<QRadioButton*>()) formats << r->text();
    EXPECT_EQ(formats,
              (QStringList{".ico", ".ani", ".gif", ".bmp", ".jpg", ".png", ".tga", ".tif"}));
    EXPECT_EQ(dlg.Format(), 5);
    auto* email = Named<QComboBox>(&dlg, "email");
    ASSERT_TRUE(email);
    ASSERT_EQ(email->count(), 2);
    EXPECT_EQ(email->itemText(0), "a@x.test");
    EXPECT_EQ(email->itemText(1), "b@x.test");
    EXPECT_EQ(email->currentText(), "b@x.test");
    EXPECT_EQ(Named<QLineEdit>(&dlg, "server")->text(), "https://pics.test");
    EXPECT_TRUE(Button(&dlg, "Upload"));
    EXPECT_TRUE(Button(&dlg, "Cancel"));
}

TEST_F(UploadDialogs, WithoutAServerTheDialogAsksForOne) {
    CUploadDlg dlg(Saver("x"));
    dlg.show();
    QString text;
    AnswerNextMessage(&text);
    dlg.Upload();
    EXPECT_TRUE(text.contains("Please enter the upload server")) << text.toStdString();
    EXPECT_TRUE(savedPaths.empty());
    EXPECT_TRUE(dlg.isVisible());

    Named<QLineEdit>(&dlg, "server")->setText("bad host\r\nX-Evil: 1");
    AnswerNextMessage(&text);
    dlg.Upload();
    EXPECT_TRUE(text.contains("is not an upload server")) << text.toStdString();
    EXPECT_TRUE(savedPaths.empty());
    EXPECT_FALSE(fs::exists(ConfigFile()));
}

TEST_F(UploadDialogs, SuccessfulUploadSavesThePageTheLinksAndTheAddress) {
    CTestServer server(Answering("HTTP/1.1 200 OK\r\n\r\n" + kPage));
    CUploadDlg dlg(Saver("JPEGDATA"));
    dlg.SetUploadOptions(Loopback(server.Port()));
    dlg.show();
    Named<QLineEdit>(&dlg, "server")->setText("upload.test");
    Named<QLineEdit>(&dlg, "description")->setText("a b&c");
    Named<QComboBox>(&dlg, "email")->setEditText("me@x.test");
    dlg.findChildren<QRadioButton*>()[4]->setChecked(true); // .jpg
    dlg.Upload();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    const std::string request = server.Request();
    EXPECT_NE(request.find("Host: upload.test\r\n"), std::string::npos);
    EXPECT_NE(request.find("name=\"desc\"\r\n\r\na%20b%26c\r\n"), std::string::npos);
    EXPECT_NE(request.find("name=\"email\"\r\n\r\nme@x.test\r\n"), std::string::npos);
    EXPECT_NE(request.find("filename=\"ru-select.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n"
                           "JPEGDATA\r\n"),
              std::string::npos);

    // The picture went through a file of its own in the temporary folder, which
    // is gone now.
    ASSERT_EQ(savedPaths.size(), 1u);
    EXPECT_EQ(fs::path(savedPaths[0]).filename(), "utemp48924086719482.jpg");
    EXPECT_EQ(fs::path(savedPaths[0]).parent_path().parent_path(), dir / "tmp");
    EXPECT_FALSE(fs::exists(savedPaths[0]));

    const fs::path page = dir / "data" / "pellorin" / "_receive.html";
    EXPECT_EQ(dlg.ReceivedPage(), page.string());
    EXPECT_EQ(ReadFile(page), kPage);
    EXPECT_EQ(dlg.ImageLink(), "http://pics.test/images/abc.png");
    EXPECT_EQ(dlg.AlbumLink(), "http://pics.test/albums/me");

    CUploadSettings stored;
    ASSERT_TRUE(stored.Load(ConfigFile().string()));
    EXPECT_EQ(stored.m_arrEMails, std::vector<std::string>{"me@x.test"});
    EXPECT_EQ(stored.m_strLastEMail, "me@x.test");
    EXPECT_EQ(stored.m_strServer, "upload.test");
}

TEST_F(UploadDialogs, CancelKeepsTheDialogAndThePictureForAnotherTry) {
    ServerScript script;
    script.stallUntilReleased = true;
    script.receiveBuffer = 4096;
    CTestServer server(script);
    auto dlg = std::make_unique<CUploadDlg>(Saver(std::string(size_t(kMaxUploadBytes), 'p')));
    dlg->SetUploadOptions(Loopback(server.Port()));
    dlg->show();
    Named<QLineEdit>(dlg.get(), "server")->setText("upload.test");

    QString title, label, percent, message;
    std::chrono::steady_clock::time_point cancelledAt, closedAt;
    WithNextModal<CUploadProcessDlg>([&](CUploadProcessDlg* p) {
        title = p->windowTitle();
        const auto labels = p->findChildren<QLabel*>();
        if (labels.size() == 2) {
            label = labels[0]->text();
            percent = labels[1]->text();
        }
        QTimer::singleShot(400, p, [&, p] {
            cancelledAt = std::chrono::steady_clock::now();
            Button(p, "Cancel")->click();
            closedAt = std::chrono::steady_clock::now();
            AnswerNextMessage(&message);
        });
    });
    dlg->Upload();
    EXPECT_EQ(title, "Uploading");
    EXPECT_EQ(label, "Image uploading. Please wait...");
    EXPECT_EQ(percent, "0%");
    EXPECT_LT(closedAt - cancelledAt, 2s);
    EXPECT_EQ(message, "Uploading aborted.");
    EXPECT_TRUE(dlg->isVisible());
    ASSERT_EQ(savedPaths.size(), 1u);
    EXPECT_TRUE(fs::exists(savedPaths[0])) << "the picture stays after Cancel";
    server.Release();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_TRUE(server.SawEnd()) << "the connection was left open";
    EXPECT_FALSE(fs::exists(dir / "data" / "pellorin" / "_receive.html"));
    // The dialog takes its temporary folder with it.
    dlg.reset();
    EXPECT_EQ(TempFolders(), 0);
}

TEST_F(UploadDialogs, FailuresSayWhyAndKeepTheDialogOpen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);

    CUploadDlg dlg(Saver("PNG"));
    dlg.SetUploadOptions(Loopback(ntohs(a.sin_port)));
    dlg.show();
    Named<QLineEdit>(&dlg, "server")->setText("upload.test");
    QString message;
    AnswerNextMessage(&message);
    dlg.Upload();
    ::close(fd);
    EXPECT_TRUE(message.contains("Connection refused")) << message.toStdString();
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(savedPaths.size(), 1u);
    EXPECT_FALSE(fs::exists(savedPaths[0])) << "the picture is removed after a failure";

    UploadOptions none;
    none.lookup = NoHostLookup();
    dlg.SetUploadOptions(none);
    Named<QLineEdit>(&dlg, "server")->setText("nowhere.test");
    AnswerNextMessage(&message);
    dlg.Upload();
    EXPECT_EQ(message,
              "The upload server \"nowhere.test\" was not found (Name or service not known).");
    EXPECT_TRUE(dlg.isVisible());

    CTestServer refusing(Answering("HTTP/1.1 500 Internal Server Error\r\n\r\n"));
    dlg.SetUploadOptions(Loopback(refusing.Port()));
    AnswerNextMessage(&message);
    dlg.Upload();
    EXPECT_EQ(message,
              "The upload server did not accept the picture:\nHTTP/1.1 500 Internal Server Error");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    // The server is remembered all the same.
    CUploadSettings stored;
    ASSERT_TRUE(stored.Load(ConfigFile().string()));
    EXPECT_EQ(stored.m_strServer, "nowhere.test");
    EXPECT_TRUE(stored.m_arrEMails.empty());
}

TEST_F(UploadDialogs, PicturesOverEightMegabytesAreNotSent) {
    CTestServer server(Answering("HTTP/1.1 200 OK\r\n\r\n" + kPage));
    CUploadDlg dlg(Saver(std::string(size_t(kMaxUploadBytes) + 1, 'p')));
    dlg.SetUploadOptions(Loopback(server.Port()));
    dlg.show();
    Named<QLineEdit>(&dlg, "server")->setText("upload.test");
    QString message;
    AnswerNextMessage(&message);
    dlg.Upload();
    EXPECT_EQ(message, "The File is too big (more than 8M)!");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(server.Accepted(), 0);
    ASSERT_EQ(savedPaths.size(), 1u);
    EXPECT_FALSE(fs::exists(savedPaths[0]));
}

TEST_F(UploadDialogs, LinksDialogCopiesAndOpensWebLinksOnly) {
    const fs::path page = dir / "page.html";
    WriteFile(page, kPage);
    CUploadLinksDlg dlg("http://pics.test/images/abc.png", "",
                        QString::fromStdString(page.string()));
    EXPECT_EQ(dlg.windowTitle(), "Image has been uploaded!");
    EXPECT_TRUE(dlg.Page()->toPlainText().contains("album"));
    EXPECT_TRUE(Button(&dlg, "Copy Image Link to Clipboard")->isEnabled());
    EXPECT_TRUE(Button(&dlg, "Open Image Link in Browser...")->isEnabled());
    EXPECT_FALSE(Button(&dlg, "Copy Album Link to Clipboard")->isEnabled());
    EXPECT_FALSE(Button(&dlg, "Open Album Link in Browser...")->isEnabled());
    EXPECT_TRUE(Button(&dlg, "Close"));

    QString message;
    AnswerNextMessage(&message);
    Button(&dlg, "Copy Image Link to Clipboard")->click();
    EXPECT_EQ(message, "The URL of image is in Clipboard:\nhttp://pics.test/images/abc.png");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://pics.test/images/abc.png");

    UrlRecorder recorder;
    for (const char* scheme : {"http", "https", "file"})
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    Button(&dlg, "Open Image Link in Browser...")->click();
    // A link the server made up may not open local files.
    AnswerNextMessage(&message);
    dlg.OpenLink("file:///etc/passwd");
    for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(scheme);
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened[0], QUrl("http://pics.test/images/abc.png"));
    EXPECT_TRUE(message.contains("not a web address"));
}

TEST_F(UploadDialogs, MainWindowUploadsTheFullSizeResult) {
    BMP_File picture;
    picture.Create(37, 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            picture.Pixel(x, y) = CColor24(uint8_t(x * 7), uint8_t(y * 11), 99);
    const std::string source = (dir / "source.bmp").string();
    ASSERT_TRUE(SaveImageFile(source, picture));

    CTestServer server(Answering("HTTP/1.1 200 OK\r\n\r\n" + kPage));
    CPellorinDlg main;
    main.resize(1200, 700);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_TRUE(main.LoadFile(QString::fromStdString(source)));

    QPushButton* upload = Button(&main, "Upload Image to External Server....");
    ASSERT_TRUE(upload);
    bool linksShown = false;
    WithNextModal<CUploadDlg>([&](CUploadDlg* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Upload to External Server");
        dlg->SetUploadOptions(Loopback(server.Port()));
        Named<QLineEdit>(dlg, "server")->setText("upload.test");
        WithNextModal<CUploadLinksDlg>([&](CUploadLinksDlg* links) {
            linksShown = true;
            EXPECT_EQ(links->windowTitle(), "Image has been uploaded!");
            links->accept();
        });
        dlg->Upload();
    });
    upload->click();
    EXPECT_TRUE(linksShown);
    ASSERT_TRUE(server.WaitDone());

    // The server got a PNG of the full-size result.
    const std::string request = server.Request();
    const std::string marker = "Content-Type: image/png\r\n\r\n";
    const size_t start = request.find(marker);
    ASSERT_NE(start, std::string::npos);
    const std::string closing = "\r\n--1992308652479883908774655630--\r\n\r\n";
    const std::string png = request.substr(start + marker.size(),
                                           request.size() - start - marker.size() - closing.size());
    const fs::path received = dir / "received.png";
    WriteFile(received, png);
    BMP_File got;
    ASSERT_TRUE(LoadImageFile(received.string(), got));
    ASSERT_TRUE(main.RunFinal());
    const BMP_File& work = main.Images().work;
    ASSERT_EQ(got.Width(), work.Width());
    ASSERT_EQ(got.Height(), work.Height());
    EXPECT_EQ(got.Width(), 37);
    bool same = true;
    for (int y = 0; y < work.Height(); ++y)
        for (int x = 0; x < work.Width(); ++x) same = same && got.Pixel(x, y) == work.Pixel(x, y);
    EXPECT_TRUE(same);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "test_upload_dialogs.moc"
