// Launchers of a job: a shell link on Windows, an executable script elsewhere.
#include "settings/launcher.h"

#include "engine/conversion_job.h"  // replaceExtension

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>
#endif

namespace ferrowane {

QString shellQuote(const QString& text)
{
    QString quoted = QStringLiteral("'");
    for (const QChar c : text) {
        if (c == u'\'')
            quoted += QStringLiteral("'\\''");
        else
            quoted += c;
    }
    return quoted + u'\'';
}

QString launcherScript(const QString& programPath, const QString& jobPath)
{
    // In the program's folder, as a shortcut starts it: a relative path in the
    // job means the same wherever the launcher is run from.
    const QString folder = QFileInfo(programPath).absolutePath();
    return QStringLiteral("#!/bin/sh\n# Runs a Ferrowane job unattended.\ncd %1 || exit 2\nexec %2 %3\n")
        .arg(shellQuote(folder), shellQuote(programPath), shellQuote(jobPath));
}

QString launcherPathClash(const QString& launcherPath)
{
    const QString launcher = QFileInfo(launcherPath).absoluteFilePath();
#ifdef _WIN32
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    for (const char* extension : {".frwjob", ".log"}) {
        const QString other = QFileInfo(replaceExtension(launcherPath, QLatin1String(extension))).absoluteFilePath();
        if (launcher.compare(other, cs) == 0)
            return other;
    }
    return QString();
}

#ifdef _WIN32
void CreateShellLink(const QString& programPathGiven, const QString& arguments, const QString& linkPathGiven)
{
    // The shell takes only its own separators; Qt hands paths with "/".
    const QString programPath = QDir::toNativeSeparators(programPathGiven);
    const QString linkPath = QDir::toNativeSeparators(linkPathGiven);
    const qsizetype separator = programPath.lastIndexOf(u'\\');
    const QString folder = separator >= 0 ? programPath.left(separator + 1) : QString();
    const HRESULT init = CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))
        && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        // As with the link object itself, the results of these steps are not examined.
        link->SetPath(reinterpret_cast<const wchar_t*>(programPath.utf16()));
        link->SetArguments(reinterpret_cast<const wchar_t*>(arguments.utf16()));
        link->SetWorkingDirectory(reinterpret_cast<const wchar_t*>(folder.utf16()));
        file->Save(reinterpret_cast<const wchar_t*>(linkPath.utf16()), FALSE);
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
}
#endif

QString writeLauncher(const QString& programPath, const QString& jobPath, const QString& launcherPath)
{
#ifdef _WIN32
    CreateShellLink(programPath, u'"' + QDir::toNativeSeparators(jobPath) + u'"', launcherPath);
    return QString();
#else
    QFile file(launcherPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("Cannot create file \"%1\". %2").arg(launcherPath, file.errorString());
    const QByteArray bytes = launcherScript(programPath, jobPath).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("Cannot write file \"%1\". %2").arg(launcherPath, file.errorString());
    file.close();
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                             | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                             | QFileDevice::ExeOther))
        return QStringLiteral("Cannot make \"%1\" executable. %2").arg(launcherPath, file.errorString());
    return QString();
#endif
}

}  // namespace ferrowane
