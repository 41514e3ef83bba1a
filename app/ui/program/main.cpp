#include "app/ui/pellorin_app.h"

#include <QIcon>

int main(int argc, char** argv) {
    CPellorinApp app(argc, argv);
    app.setWindowIcon(QIcon::fromTheme("pellorin"));
    const QStringList args = app.arguments();
    return app.Run(args.size() > 1 ? args.at(1) : QString());
}
