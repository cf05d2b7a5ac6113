// Runs the table-level statements on the target file; type_map.h builds their
// texts.
#include "engine/target_operations.h"

#include "engine/access_provider.h"
#include "engine/mysql_source.h"
#include "engine/type_map.h"

#include "jet/database.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QFileInfo>

namespace ferrowane {

void TargetOperations::PrepareTargetFile(const QString& path, int formatPosition)
{
    if (QFileInfo::exists(path))
        return;
    if (formatPosition == 1)
        WriteTemplate(QStringLiteral("mdb2000"), QStringLiteral("mdbfile"), path);
    else
        WriteTemplate(QStringLiteral("mdb95"), QStringLiteral("mdbfile"), path);
}

void TargetOperations::WriteTemplate(const QString& resourceName, const QString& resourceType, const QString& path)
{
    if (resourceType.compare(QLatin1String("mdbfile"), Qt::CaseInsensitive) != 0)
        throw AccessError(QStringLiteral("The resource %1 of type %2 was not found.").arg(resourceName, resourceType));
    jet::Version version;
    if (resourceName.compare(QLatin1String("mdb2000"), Qt::CaseInsensitive) == 0)
        version = jet::Version::Jet4;
    else if (resourceName.compare(QLatin1String("mdb95"), Qt::CaseInsensitive) == 0)
        version = jet::Version::Jet3;
    else
        throw AccessError(QStringLiteral("The resource %1 of type %2 was not found.").arg(resourceName, resourceType));

    std::vector<uint8_t> bytes;
    try {
        bytes = jet::Database::templateBytes(version);
    } catch (const std::exception& e) {
        throw AccessError(QString::fromUtf8(e.what()));
    }
    // The template appears under its name whole or not at all: a program
    // killed while writing it must not leave a short file that the next run
    // would take as the target.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AccessError(QStringLiteral("Cannot create file %1. %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const qint64 written = file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    if (written != qint64(bytes.size()) || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw AccessError(QStringLiteral("Cannot write file %1. %2").arg(QDir::toNativeSeparators(path), reason));
    }
}

bool TargetOperations::TargetTableExists(AccessDataset& dataset, const QString& name)
{
    dataset.close();
    dataset.setCommandText(QStringLiteral("Select 1 from [") + name + QStringLiteral("] where 1=0"));
    try {
        dataset.open();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TargetOperations::DropTargetTable(AccessConnection& command, const QString& name, bool& ok, QString& error)
{
    ok = true;
    try {
        command.execute(QStringLiteral("drop table [") + name + QStringLiteral("]"));
    } catch (const AccessError& e) {
        error = e.message();
        ok = false;
    }
}

namespace {

QList<SourceField> readFields(MySqlConnection& source, const QString& sourceTable)
{
    MySqlResult r = source.query(showFieldsStatement(sourceTable));
    const int field = r.columnIndex(QStringLiteral("field"));
    const int type = r.columnIndex(QStringLiteral("type"));
    const int collation = r.columnIndex(QStringLiteral("collation"));
    if (field < 0 || type < 0)
        throw MySqlError(QStringLiteral("The column list of %1 has no Field or Type column").arg(sourceTable));
    QList<SourceField> fields;
    while (r.next())
        fields.append(SourceField{r.text(field), r.text(type), collation >= 0 ? r.text(collation) : QString()});
    return fields;
}

}  // namespace

void TargetOperations::CreateTargetTable(MySqlConnection& source, AccessConnection& target, const QString& sourceTable,
                            const QString& targetTable, bool blobtotext, bool& ok, QString& error)
{
    ok = true;
    m_lastCreateStatement.clear();
    m_lastRenamedColumns.clear();
    const QList<SourceField> fields = readFields(source, sourceTable);
    m_lastCreateStatement = createTableStatement(targetTable, fields, blobtotext, target.format(), m_timeAsText);
    QStringList names;
    for (const SourceField& f : fields)
        names.append(f.field);
    const QStringList targets = targetColumnNames(names, target.format());
    for (qsizetype i = 0; i < names.size(); ++i)
        if (accessLegalName(names.at(i), target.format()) != names.at(i))
            m_lastRenamedColumns.append({names.at(i), targets.at(i)});
    // The run gives only legal table names; a "]" would end the bracketed
    // name early and change the statement around it.
    if (targetTable.contains(QLatin1Char(']'))) {
        error = QStringLiteral("The table name '%1' is invalid").arg(targetTable);
        ok = false;
        return;
    }
    try {
        target.execute(m_lastCreateStatement);
    } catch (const AccessError& e) {
        error = e.message();
        ok = false;
    }
}

QList<KeyStatement> TargetOperations::ReadKeys(MySqlConnection& source, const QString& sourceTable,
                                               const QString& targetTable, AccessFormat format)
{
    QStringList fieldNames;
    for (const SourceField& f : readFields(source, sourceTable))
        fieldNames.append(f.field);

    QList<IndexRow> rows;
    MySqlResult r = source.query(showIndexStatement(sourceTable));
    const int table = r.columnIndex(QStringLiteral("Table"));
    const int key = r.columnIndex(QStringLiteral("Key_name"));
    const int seq = r.columnIndex(QStringLiteral("Seq_in_index"));
    const int column = r.columnIndex(QStringLiteral("Column_name"));
    const int nonUnique = r.columnIndex(QStringLiteral("Non_unique"));
    if (table < 0 || key < 0 || seq < 0 || column < 0)
        throw MySqlError(QStringLiteral("The index list of %1 lacks a column").arg(sourceTable));
    while (r.next()) {
        IndexRow row{r.text(table), r.text(key), r.text(seq), r.text(column)};
        if (nonUnique >= 0)
            row.nonUnique = r.text(nonUnique);
        rows.append(row);
    }
    return indexStatements(rows, sourceTable, targetTable, fieldNames, format);
}

TargetOperations::KeyOutcome TargetOperations::MakeKey(AccessConnection& target, const KeyStatement& key)
{
    KeyOutcome outcome;
    try {
        target.execute(key.statement);
        return outcome;
    } catch (const AccessError& e) {
        outcome.result = KeyOutcome::NotMade;
        outcome.message = e.message();
    }
    if (key.plainStatement.isEmpty())
        return outcome;
    try {
        target.execute(key.plainStatement);
        outcome.result = KeyOutcome::MadePlain;
    } catch (const AccessError&) {
        // The refusal of the key as asked says more than the plain one's.
    }
    return outcome;
}

}  // namespace ferrowane
