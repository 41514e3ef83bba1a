#include "app/ui/pellorin_app.h"

#include "app/ui/pellorin_dlg.h"

#include <QScreen>

CPellorinApp::CPellorinApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Pellorin");
    setOrganizationName("Quorvel");
    setApplicationVersion(PELLORIN_VERSION);
    setDesktopFileName("pellorin");
}

CPellorinApp::~CPellorinApp() = default;

int CPellorinApp::Run(const QString& file, const QString& config) {
    m_dlg = std::make_unique<CPellorinDlg>();
    if (QScreen* screen = m_dlg->screen()) m_dlg->FitOnScreen(screen->availableGeometry());
    m_dlg->show();
    if (!config.isEmpty()) m_dlg->LoadConfiguration(config);
    if (!file.isEmpty()) m_dlg->LoadFile(file);
    const int rc = exec();
    m_dlg.reset(); // writes the device choices
    return rc;
}
