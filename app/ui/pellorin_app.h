#pragma once
// The application object: starts the main window, hands it the file named on
// the command line and ends when it closes.

#include <QApplication>

#include <memory>

class CPellorinDlg;

class CPellorinApp : public QApplication {
    Q_OBJECT
public:
    CPellorinApp(int& argc, char** argv);
    ~CPellorinApp() override;
    // Shows the main window, loads the configuration and opens the file when
    // they are given.
    int Run(const QString& file, const QString& config = {});
    CPellorinDlg* MainWindow() const { return m_dlg.get(); }

private:
    std::unique_ptr<CPellorinDlg> m_dlg;
};
