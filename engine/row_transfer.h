// Copying the rows of one MySQL table into one Access table.
#pragma once

#include <QList>
#include <QString>

namespace ferrowane {

class AccessConnection;
class AccessDataset;
class MySqlConnection;
class ProgressLog;

// Values of one source column that were not stored as they were.
struct ColumnLoss {
    QString column;      // the source column name
    qint64 count = 0;
    QString firstReason;
};

// The log line of a column's losses.
QString columnLossLine(const ColumnLoss& loss);

// The message a Stop ends a transfer with.
QString operationAbortedText();

// Copies every row of sourceTable (read forward with one query) into the
// existing Access table targetTable through dataset, committing at rows 100,
// 5100, 10100, ... and at the end. Every 100 rows the log's last line becomes
// "Insert table S n Rows " and the log's progress point runs; a Stop there
// ends the transfer with "Operation aborted". Source columns go to the target
// columns the create step made from them (names cut to 60 characters).
// On failure: ok false, error the message, the message appended to the log
// twice (rows committed before stay). Values not stored as they were are
// counted per column in losses. With blobtotext a NULL BLOB going into a
// text column becomes an empty text, like an empty one.
void TransferRows(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset,
                  const QString& sourceTable, const QString& targetTable, bool blobtotext, ProgressLog& log,
                  bool& ok, QString& error, QList<ColumnLoss>* losses = nullptr);

}  // namespace ferrowane
