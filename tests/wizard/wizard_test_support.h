// Shared by the wizard's Qt tests: a private configuration folder, message
// boxes answered by the test, the MariaDB server of the test run, and the
// controls of a window by their Qt object names.
#pragma once

#include "wizard/message_box.h"
#include "wizard/wizard_window.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>

namespace wiztest {

// Every box the code shows is recorded and answered from a queue (Yes/OK when empty).
class MessageBoxes {
public:
    MessageBoxes()
    {
        ferrowane::setMessageBoxHandler([this](const ferrowane::MessageRequest& r) {
            shown.append(r);
            if (onShow)
                onShow(r);
            if (!answers.empty()) {
                const auto answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return (r.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        });
    }
    ~MessageBoxes() { ferrowane::setMessageBoxHandler({}); }

    void clear()
    {
        shown.clear();
        answers.clear();
        onShow = nullptr;
    }
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }

    QList<ferrowane::MessageRequest> shown;
    std::deque<QMessageBox::StandardButton> answers;
    std::function<void(const ferrowane::MessageRequest&)> onShow;
};

struct MySqlEnv {
    QString host, port, user, password, client;
    bool valid() const { return !host.isEmpty() && !port.isEmpty() && !user.isEmpty(); }

    static MySqlEnv fromEnvironment()
    {
        const auto env = QProcessEnvironment::systemEnvironment();
        return {env.value("FERROWANE_MYSQL_HOST"), env.value("FERROWANE_MYSQL_PORT"),
                env.value("FERROWANE_MYSQL_USER"), env.value("FERROWANE_MYSQL_PASSWORD"),
                env.value("FERROWANE_MYSQL_CLIENT")};
    }
    static bool required() { return qgetenv("FERROWANE_REQUIRE_MYSQL") == "1"; }

    // Runs SQL through the root client; true on success.
    bool run(const QByteArray& sql) const
    {
        QStringList args = QProcess::splitCommand(client);
        if (args.isEmpty())
            return false;
        const QString program = args.takeFirst();
        QProcess p;
        p.start(program, args);
        if (!p.waitForStarted())
            return false;
        p.write(sql);
        p.closeWriteChannel();
        p.waitForFinished(300000);
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning("client failed: %s", p.readAllStandardError().constData());
            return false;
        }
        return true;
    }
};

// Points the user's configuration and data folders at a temporary folder; must
// run before the first QSettings or QStandardPaths use of the process. No
// session bus either: the window never reaches the developer's own keyring.
inline void isolateUserFolders(const QTemporaryDir& dir)
{
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir.path() + "/data").toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The wizard window's own control of that object name (not one of a dialog it owns).
template <class T>
T* control(const ferrowane::WizardWindow& window, const char* name)
{
    T* found = window.control<T>(QString::fromLatin1(name));
    if (!found)
        qFatal("the wizard window has no control %s", name);
    return found;
}

// A child of any other window by its object name.
template <class T>
T* child(const QObject& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

}  // namespace wiztest

#define WIZ_REQUIRE_MYSQL(env)                                                             \
    do {                                                                                    \
        if (!(env).valid()) {                                                               \
            if (wiztest::MySqlEnv::required())                                              \
                QFAIL("FERROWANE_MYSQL_* are not set and FERROWANE_REQUIRE_MYSQL=1");        \
            QSKIP("FERROWANE_MYSQL_* are not set");                                          \
        }                                                                                   \
    } while (0)
