#include "settings/job_file.h"

#include <QFile>
#include <QStringDecoder>

namespace ferrowane {

QStringList jobLines(const JobContent& job)
{
    QStringList lines{
        QStringLiteral("accessmode=") + encodeChoice(job.accessmode),
        QStringLiteral("mysqldatabase=") + job.mysqldatabase,
        QStringLiteral("port=") + job.port,
        QStringLiteral("mysqlu=") + job.mysqlu,
        QStringLiteral("mysqlp=") + job.mysqlp,
        QStringLiteral("host=") + job.host,
        QStringLiteral("accessfilename=") + job.accessfilename,
        QStringLiteral("accessformat=") + encodeChoice(job.accessformat),
        QStringLiteral("processtable=") + encodeChoice(job.processtable),
        QStringLiteral("character_set=") + job.character_set,
        QStringLiteral("tabledefonly=") + encodeFlag(job.tabledefonly),
        QStringLiteral("skipindex=") + encodeFlag(job.skipindex),
        QStringLiteral("blobtotext=") + encodeFlag(job.blobtotext),
    };
    if (job.timetotext)
        lines.append(QStringLiteral("timetotext=") + encodeFlag(true));
    lines.append(QStringLiteral("alltables=") + encodeChoice(job.alltables));
    if (job.alltables == 0) {
        for (qsizetype i = 0; i < job.tables.size(); ++i)
            lines.append(QStringLiteral("tables%1=%2").arg(i + 1).arg(job.tables[i]));
    }
    // Last, so that the lines older jobs have keep their places.
    lines << QStringLiteral("autonumber=") + encodeFlag(job.autonumber)
          << QStringLiteral("required=") + encodeFlag(job.required)
          << QStringLiteral("defaults=") + encodeFlag(job.defaults)
          << QStringLiteral("descriptions=") + encodeFlag(job.descriptions)
          << QStringLiteral("relationships=") + encodeFlag(job.relationships);
    return lines;
}

namespace {

// The name with its line breaks made visible, for the message.
QString visibleBreaks(QString text)
{
    return text.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
}

}  // namespace

QString jobLineBreakError(const JobContent& job)
{
    for (const QString& line : jobLines(job)) {
        if (!line.contains(u'\r') && !line.contains(u'\n'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq);
        if (key.startsWith(QLatin1String("tables")))
            return QStringLiteral("Cannot save the job: the table name \"%1\" holds a line break, which a job file "
                                  "cannot carry. Leave that table out or choose \"All database tables\".")
                .arg(visibleBreaks(line.mid(eq + 1)));
        // The value itself may be a password: only its key is named.
        return QStringLiteral("Cannot save the job: the value of \"%1\" holds a line break, which a job file "
                              "cannot carry.")
            .arg(key);
    }
    return QString();
}

QString writeJobFile(const QString& path, const JobContent& job)
{
    if (QString error = jobLineBreakError(job); !error.isEmpty())
        return error;
    QByteArray bytes;
    for (const QString& line : jobLines(job))
        bytes += line.toUtf8() + "\r\n";
    // The password must never be readable by others, not even for a moment:
    // a new file is created owner-only, an old one is narrowed before it is emptied.
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    if (file.exists() && !file.setPermissions(owner))
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, owner))
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString());
    file.close();
    return QString();
}

std::optional<JobFile> JobFile::read(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return fromBytes(bytes);
}

JobFile JobFile::fromBytes(const QByteArray& bytes)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // The decoder reads the mark and its byte order.
        QStringDecoder decoder(QStringDecoder::Utf16);
        text = decoder(bytes);
        if (!text.isEmpty() && text[0] == QChar(0xFEFF))
            text.remove(0, 1);
    } else {
        text = QString::fromUtf8(bytes);
    }
    // Lines end at CR LF, LF or a lone CR; a final line end opens no new line.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.append(text.mid(start, i - start));
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return JobFile(lines);
}

QString JobFile::value(const QString& key) const
{
    for (const QString& line : m_lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return QString();
}

QStringList JobFile::tableEntries() const
{
    QStringList names;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QString name = value(QStringLiteral("tables") + QString::number(i));
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

QString ApplyJobSettings(const JobFile& job, JobSettingsSink& sink)
{
    // The message names the value, its key and the values the key takes.
    auto choice = [&job](const char* key, const char* allowed, std::optional<int>& out) -> QString {
        const QString text = job.value(QLatin1String(key));
        out = decodeChoice(text);
        return out ? QString()
                   : QStringLiteral("'%1' is not a valid integer value for \"%2\" in the job file: use %3.")
                         .arg(text, QLatin1String(key), QLatin1String(allowed));
    };

    std::optional<int> position;
    if (QString bad = choice("accessmode", "0 (Local) or 1 (Remote)", position); !bad.isEmpty())
        return bad;
    sink.setAccessMode(*position);

    sink.setDatabase(job.value(QStringLiteral("mysqldatabase")));
    sink.setUser(job.value(QStringLiteral("mysqlu")));
    sink.setPassword(job.value(QStringLiteral("mysqlp")));
    sink.setHost(job.value(QStringLiteral("host")));
    sink.setPort(job.value(QStringLiteral("port")));
    sink.setOracle(job.value(QStringLiteral("oracleh")), job.value(QStringLiteral("oracleu")),
                   job.value(QStringLiteral("oraclep")));

    if (QString bad = choice("accessformat", "0 (MS Access 95/97) or 1 (MS Access 2000)", position); !bad.isEmpty())
        return bad;
    sink.setAccessFormat(*position);

    sink.setAccessFileName(job.value(QStringLiteral("accessfilename")));
    sink.setCharacterSet(job.value(QStringLiteral("character_set")));

    if (QString bad = choice("processtable", "0 (Overwrite), 1 (Merge) or 2 (Skip)", position); !bad.isEmpty())
        return bad;
    sink.setProcessTable(*position);

    sink.setFlags(decodeFlag(job.value(QStringLiteral("tabledefonly"))),
                  decodeFlag(job.value(QStringLiteral("nameuppercase"))),
                  decodeFlag(job.value(QStringLiteral("skipindex"))),
                  decodeFlag(job.value(QStringLiteral("blobtotext"))));
    sink.setTimeAsText(decodeFlag(job.value(QStringLiteral("timetotext"))));
    // Missing keys read as off: jobs saved before these options convert as they did.
    sink.setSchemaOptions(decodeFlag(job.value(QStringLiteral("autonumber"))),
                          decodeFlag(job.value(QStringLiteral("required"))),
                          decodeFlag(job.value(QStringLiteral("defaults"))),
                          decodeFlag(job.value(QStringLiteral("descriptions"))),
                          decodeFlag(job.value(QStringLiteral("relationships"))));
    return QString();
}

}  // namespace ferrowane
