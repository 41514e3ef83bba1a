#include "app/ui/pellorin_app.h"

#include <QIcon>

#include <cstdio>

// pellorin [--config FILE.qvc] [PICTURE]
int main(int argc, char** argv) {
    CPellorinApp app(argc, argv);
    app.setWindowIcon(QIcon::fromTheme("pellorin"));
    QStringList args = app.arguments();
    args.removeFirst();
    QString config, file;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == "--config" && !args.isEmpty()) {
            config = args.takeFirst();
        } else if (a == "--help" || a == "-h") {
            std::printf("Usage: pellorin [--config FILE.qvc] [PICTURE]\n");
            return 0;
        } else {
            file = a;
        }
    }
    return app.Run(file, config);
}
