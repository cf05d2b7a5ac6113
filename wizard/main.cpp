// ferrowane: the wizard. With a job file as its argument it runs that job unattended.
#include "wizard/aaform1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrowane"));
    QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(ferrowane::kApplicationTitle));

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();

    ferrowane::Taaform1 form(arguments);
    form.show();
    return app.exec();
}
