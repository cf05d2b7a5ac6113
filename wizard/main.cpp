// ferrowane: the wizard. With a job file as its argument it runs that job
// unattended; without a display it runs the job with no window at all.
#include "settings/unattended_run.h"
#include "wizard/command_line.h"
#include "wizard/wizard_window.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char** argv)
{
    if (const auto status = ferrowane::answerWizardInfoOption(argc, argv))
        return *status;
    // A job with no display (cron, systemd timers): no window, messages go to the log.
    if (argc > 1 && !ferrowane::displayAvailable()) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Ferrowane"));
        QCoreApplication::setOrganizationName(QStringLiteral("Tarnwick"));
        return ferrowane::runJobHeadless(QCoreApplication::arguments().at(1));
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrowane"));
    QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(ferrowane::kApplicationTitle));

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();

    // The wizard, which makes its shortcut-file window after itself.
    ferrowane::WizardWindow window(arguments);
    window.show();
    const int status = app.exec();
    return status != 0 ? status : window.unattendedExitStatus();
}
