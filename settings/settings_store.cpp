// The stored options: read and written as strings through QSettings.
#include "settings/settings_store.h"

#include "engine/conversion_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ferrowane {

namespace {

QSettings openStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"),
                     QStringLiteral("Ferrowane"));
}

// A value as text; an absent value is empty. An ini line holding unquoted
// commas comes back as a list: put it together again rather than lose it.
QString readText(const QSettings& store, const QString& name)
{
    const QVariant value = store.value(name);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// A choice; anything but a decimal integer stored as text counts as unreadable.
int readChoice(const QSettings& store, const QString& name)
{
    const QVariant value = store.value(name);
    if (value.typeId() != QMetaType::QString)
        return 0;
    return decodeChoice(value.toString()).value_or(0);
}

bool readFlag(const QSettings& store, const QString& name)
{
    const QVariant value = store.value(name);
    return value.typeId() == QMetaType::QString && decodeFlag(value.toString());
}

// A flag that is on when the store has never held it.
bool readFlagOr(const QSettings& store, const QString& name, bool missing)
{
    return store.contains(name) ? readFlag(store, name) : missing;
}

const QString kSchemaFlags[] = {QStringLiteral("autonumber"), QStringLiteral("required"), QStringLiteral("defaults"),
                                QStringLiteral("descriptions"), QStringLiteral("relationships")};

#ifndef Q_OS_WIN
// The file holds a password: it must never be readable by others, not even
// for the moment between its creation and the first sync.
void restrictToOwner(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    ::chmod(native.constData(), 0600);
}
#endif

}  // namespace

QString settingsLocation()
{
    return openStore().fileName();
}

QString folderOfPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype backslash = path.lastIndexOf(u'\\');
    const qsizetype last = std::max(slash, backslash);
    return last < 0 ? QString() : path.left(last + 1);
}

StoredSettings LoadSettings()
{
    const QSettings store = openStore();
    StoredSettings s;
    s.accessmode = readChoice(store, QStringLiteral("accessmode"));
    s.mysqldatabase = readText(store, QStringLiteral("mysqldatabase"));
    s.mysqlu = readText(store, QStringLiteral("mysqlu"));
    s.mysqlp = readText(store, QStringLiteral("mysqlp"));
    s.host = readText(store, QStringLiteral("host"));
    s.port = readText(store, QStringLiteral("port"));
    if (s.port.isEmpty())
        s.port = QStringLiteral("3306");
    s.defaultaccessdir = readText(store, QStringLiteral("defaultaccessdir"));
    s.characterSet = readChoice(store, QStringLiteral("Character Set"));
    if (s.characterSet == -1)
        s.characterSetName = readText(store, QStringLiteral("Character Set Name"));
    s.oracleh = readText(store, QStringLiteral("oracleh"));
    s.oracleu = readText(store, QStringLiteral("oracleu"));
    s.oraclep = readText(store, QStringLiteral("oraclep"));
    s.processtable = readChoice(store, QStringLiteral("processtable"));
    s.tabledefonly = readFlag(store, QStringLiteral("tabledefonly"));
    s.nameuppercase = readFlag(store, QStringLiteral("nameuppercase"));
    s.skipindex = readFlag(store, QStringLiteral("skipindex"));
    s.blobtotext = readFlag(store, QStringLiteral("blobtotext"));
    s.timetotext = readFlag(store, QStringLiteral("timetotext"));
    bool* schema[] = {&s.autonumber, &s.required, &s.defaults, &s.descriptions, &s.relationships};
    for (int i = 0; i < 5; ++i)
        *schema[i] = readFlagOr(store, kSchemaFlags[i], true);
    s.accessformat = readChoice(store, QStringLiteral("accessformat"));
    return s;
}

bool SaveSettings(const StoredSettings& v, const QString& accessFileName)
{
    QSettings store = openStore();
#ifndef Q_OS_WIN
    const QString path = store.fileName();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    restrictToOwner(path);
#endif
    store.setValue(QStringLiteral("accessmode"), encodeChoice(v.accessmode));
    store.setValue(QStringLiteral("mysqldatabase"), v.mysqldatabase);
    store.setValue(QStringLiteral("mysqlu"), v.mysqlu);
    store.setValue(QStringLiteral("mysqlp"), v.mysqlp);
    store.setValue(QStringLiteral("host"), v.host);
    store.setValue(QStringLiteral("port"), v.port);
    store.setValue(QStringLiteral("Character Set"), encodeChoice(v.characterSet));
    // A typed name that is no entry of the list would be lost as "-1" alone.
    if (v.characterSet == -1)
        store.setValue(QStringLiteral("Character Set Name"), v.characterSetName);
    else
        store.remove(QStringLiteral("Character Set Name"));
    store.setValue(QStringLiteral("oracleh"), v.oracleh);
    store.setValue(QStringLiteral("oraclep"), v.oraclep);
    store.setValue(QStringLiteral("oracleu"), v.oracleu);
    store.setValue(QStringLiteral("processtable"), encodeChoice(v.processtable));
    store.setValue(QStringLiteral("tabledefonly"), encodeFlag(v.tabledefonly));
    store.setValue(QStringLiteral("nameuppercase"), encodeFlag(v.nameuppercase));
    store.setValue(QStringLiteral("skipindex"), encodeFlag(v.skipindex));
    store.setValue(QStringLiteral("blobtotext"), encodeFlag(v.blobtotext));
    store.setValue(QStringLiteral("timetotext"), encodeFlag(v.timetotext));
    const bool schema[] = {v.autonumber, v.required, v.defaults, v.descriptions, v.relationships};
    for (int i = 0; i < 5; ++i)
        store.setValue(kSchemaFlags[i], encodeFlag(schema[i]));
    if (!accessFileName.isEmpty())
        store.setValue(QStringLiteral("defaultaccessdir"), folderOfPath(accessFileName));
    store.setValue(QStringLiteral("accessformat"), encodeChoice(v.accessformat));
    store.sync();
#ifndef Q_OS_WIN
    restrictToOwner(path);
#endif
    return store.status() == QSettings::NoError;
}

}  // namespace ferrowane
