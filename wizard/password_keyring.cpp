// Keyring calls made synchronous: each QtKeychain job runs in a local event
// loop with a time limit, so that a keyring that does not answer cannot hold
// the window's start or close for long.
#include "wizard/password_keyring.h"

#ifdef FERROWANE_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>
#endif

#include <cstdlib>

namespace ferrowane {

#ifdef FERROWANE_HAVE_KEYCHAIN
namespace {
const QString kService = QStringLiteral("Ferrowane");
const QString kKey = QStringLiteral("mysqlp");
constexpr int kWaitMs = 5000;

// Runs the job to its end; false when it failed or took too long.
bool finish(QKeychain::Job& job)
{
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    if (!done)
        loop.exec();
    return done && job.error() == QKeychain::NoError;
}
}  // namespace
#endif

bool keyringAvailable()
{
#ifdef FERROWANE_HAVE_KEYCHAIN
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return bus && *bus;
#else
    return true;
#endif
#else
    return false;
#endif
}

std::optional<QString> readKeyringPassword()
{
#ifdef FERROWANE_HAVE_KEYCHAIN
    if (!keyringAvailable())
        return std::nullopt;
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(kKey);
    if (finish(job))
        return job.textData();
#endif
    return std::nullopt;
}

bool storeKeyringPassword(const QString& password)
{
#ifdef FERROWANE_HAVE_KEYCHAIN
    if (!keyringAvailable())
        return false;
    QKeychain::WritePasswordJob job(kService);
    job.setKey(kKey);
    job.setTextData(password);
    return finish(job);
#else
    (void)password;
    return false;
#endif
}

void forgetKeyringPassword()
{
#ifdef FERROWANE_HAVE_KEYCHAIN
    if (!keyringAvailable())
        return;
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(kKey);
    finish(job);
#endif
}

}  // namespace ferrowane
