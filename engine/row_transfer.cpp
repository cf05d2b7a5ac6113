#include "engine/row_transfer.h"

#include "engine/access_provider.h"
#include "engine/column_plan.h"
#include "engine/field_encoder.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"
#include "engine/value_convert.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace ferrowane {

QString operationAbortedText()
{
    return QStringLiteral("Operation aborted");
}

QString columnLossLine(const ColumnLoss& loss)
{
    return QStringLiteral("Column ") + loss.column + QStringLiteral(": ") + QString::number(loss.count)
           + (loss.count == 1 ? QStringLiteral(" value not stored as it was (first: ")
                              : QStringLiteral(" values not stored as they were (first: "))
           + loss.firstReason + QLatin1Char(')');
}

namespace {

class Aborted : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// What one column's values lost; the loss lines read them.
struct LossCount {
    qint64 count = 0;
    QString firstReason;

    void lose(const QString& reason)
    {
        if (count++ == 0)
            firstReason = reason;
    }
};

void openTarget(AccessDataset& dataset, const QString& targetTable)
{
    dataset.close();
    dataset.setCommandText(QStringLiteral("select * from [") + targetTable + QStringLiteral("] where 1=0"));
    dataset.open();
}

QString progressLine(const QString& sourceTable, qint64 rows)
{
    return QStringLiteral("Insert table ") + sourceTable + QLatin1Char(' ') + QString::number(rows)
           + QStringLiteral(" Rows ");
}

// A row read and converted ahead, with what its values lost (column, reason).
struct ReadRow {
    PreparedRow row;
    std::vector<std::pair<int, QString>> losses;
};

// Rows travel from the reader to the writer in batches. The last batch
// carries the end of the rows, or the failure that ended them.
struct Batch {
    std::vector<ReadRow> rows;
    size_t count = 0;
    size_t bytes = 0;  // what the server sent for them
    bool last = false;
    std::exception_ptr failure;
};

// Reads the source rows and converts their values on a thread of its own
// while the caller's thread writes the rows before them, so that the server,
// the conversion and the file writing overlap. The reader runs ahead by a
// few batches at most, and by one row only when rows are large.
class RowReader {
public:
    static constexpr size_t kBatchRows = 256;
    static constexpr size_t kBatchBytes = size_t(1) << 20;
    static constexpr size_t kQueuedBatches = 4;

    RowReader(MySqlResult& rows, const std::vector<ColumnPlan>& plan, const FieldEncoder& encoder,
              const QString& targetTable, bool blobtotext)
        : m_rows(rows), m_plan(plan), m_encoder(encoder), m_targetTable(targetTable), m_blobtotext(blobtotext)
    {
        m_spare = std::make_unique<Batch>();
        m_thread = std::thread([this] { run(); });
    }

    ~RowReader()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // The next batch in order; hand it back with done() once written.
    std::unique_ptr<Batch> next()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full.empty(); });
        std::unique_ptr<Batch> b = std::move(m_full.front());
        m_full.pop_front();
        m_changed.notify_all();
        return b;
    }

    void done(std::unique_ptr<Batch> b)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_inFlight -= b->bytes;
            m_inFlightBatches -= 1;
            b->count = 0;
            b->bytes = 0;
            m_free.push_back(std::move(b));
        }
        m_changed.notify_all();
    }

private:
    void run()
    {
        std::unique_ptr<Batch> batch = takeFree();
        try {
            const int columns = int(m_plan.size());
            while (batch && m_rows.next()) {
                size_t rowBytes = 0;
                for (int i = 0; i < columns; ++i)
                    rowBytes += size_t(m_rows.raw(i).size());
                if (batch->count > 0 && (batch->count == kBatchRows || batch->bytes + rowBytes > kBatchBytes)) {
                    if (!push(std::move(batch)))
                        return;
                    batch = takeFree();
                    if (!batch)
                        return;
                }
                // A large row is converted only when the writer holds nothing
                // else, so that large rows are in memory one at a time.
                if (rowBytes > kBatchBytes && !waitIdle())
                    return;
                if (batch->rows.size() <= batch->count)
                    batch->rows.emplace_back();
                convertRow(batch->rows[batch->count]);
                batch->count += 1;
                batch->bytes += rowBytes;
            }
        } catch (...) {
            if (!batch)
                batch = std::move(m_spare);
            if (batch)
                batch->failure = std::current_exception();
        }
        if (batch) {
            batch->last = true;
            push(std::move(batch));
        }
    }

    void convertRow(ReadRow& out)
    {
        m_encoder.clear(out.row);
        out.losses.clear();
        for (int i = 0; i < int(m_plan.size()); ++i) {
            const ColumnPlan& p = m_plan[size_t(i)];
            const QByteArrayView raw = m_rows.raw(i);
            if (p.field < 0) {
                if (!raw.isNull())
                    out.losses.emplace_back(i, QStringLiteral("the table %1 has no column for it").arg(m_targetTable));
                continue;
            }
            const TargetColumn& column = p.column;
            const bool emptyBlobText = m_blobtotext && p.source == SourceKind::Blob && raw.isNull()
                                       && (column.kind == TargetKind::Memo || column.kind == TargetKind::Text);
            if (!emptyBlobText && m_encoder.setRaw(out.row, p.field, p.fast, raw))
                continue;
            QVariant value = m_rows.value(i);
            if (emptyBlobText)
                value = QVariant(QByteArray(""));
            const Converted c = convertValue(p.source, value, column, p.bits);
            try {
                const QString changed = m_encoder.set(out.row, p.field, c.value);
                if (!c.loss.isEmpty())
                    out.losses.emplace_back(i, c.loss);
                else if (!changed.isEmpty())
                    out.losses.emplace_back(i, changed);
            } catch (const AccessError& e) {
                // The field stays unset; the row is still written.
                out.losses.emplace_back(i, e.message());
            }
        }
    }

    std::unique_ptr<Batch> takeFree()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || !m_free.empty() || m_inFlightBatches < kQueuedBatches; });
        if (m_stop)
            return nullptr;
        m_inFlightBatches += 1;
        if (m_free.empty())
            return std::make_unique<Batch>();
        std::unique_ptr<Batch> b = std::move(m_free.back());
        m_free.pop_back();
        return b;
    }

    bool push(std::unique_ptr<Batch> b)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return false;
        m_inFlight += b->bytes;
        m_full.push_back(std::move(b));
        m_changed.notify_all();
        return true;
    }

    // Waits until the writer has handed back every batch but the one being filled.
    bool waitIdle()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_inFlightBatches <= 1; });
        return !m_stop;
    }

    MySqlResult& m_rows;
    const std::vector<ColumnPlan>& m_plan;
    const FieldEncoder& m_encoder;
    const QString m_targetTable;
    const bool m_blobtotext;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_full;
    std::vector<std::unique_ptr<Batch>> m_free;
    std::unique_ptr<Batch> m_spare;  // carries a failure when no other batch can be had
    size_t m_inFlight = 0;         // bytes of batches pushed and not handed back
    size_t m_inFlightBatches = 0;  // batches taken by the reader and not handed back
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace

void TransferRows(MySqlConnection& source, AccessConnection& connection, AccessDataset& dataset,
                  const QString& sourceTable, const QString& targetTable, bool blobtotext, ProgressLog& log,
                  bool& ok, QString& error, QList<ColumnLoss>* losses)
{
    ok = true;
    bool failed = false;
    bool transactionBegun = false;
    QString lastError;
    std::vector<ColumnPlan> plan;
    std::vector<LossCount> lost;
    qint64 counter = 1;  // the number of the next row to append

    try {
        {
            MySqlResult count = source.query(countRowsStatement(sourceTable));
            qint64 total = -1;
            if (count.next())
                total = count.integer(0);
            count.close();
            log.rowTotal(sourceTable, total);
        }
        MySqlResult rows = source.query(selectAllStatement(sourceTable));

        openTarget(dataset, targetTable);
        connection.beginTransaction();
        transactionBegun = true;

        plan = planTransfer(rows.columns(), rows.characterSet(), dataset, connection.format());
        lost.resize(plan.size());

        // The table keeps its definition for the whole transfer.
        const FieldEncoder encoder(dataset);
        RowReader reader(rows, plan, encoder, targetTable, blobtotext);
        for (bool more = true; more;) {
            std::unique_ptr<Batch> batch = reader.next();
            more = !batch->last;
            for (size_t r = 0; r < batch->count; ++r) {
                ReadRow& row = batch->rows[r];
                dataset.checkAppendable();
                for (const auto& [column, reason] : row.losses)
                    lost[size_t(column)].lose(reason);
                dataset.postPrepared(row.row);

                // Every 5000 rows, and as soon as long rows fill a quarter
                // of the page cache (pages beyond it wait for their commit
                // in the journal).
                if (counter % 5000 == 100 || connection.transactionIsLarge()) {
                    connection.commitTransaction();
                    connection.beginTransaction();
                    openTarget(dataset, targetTable);
                }
                if (counter % 100 == 0) {
                    log.replaceLastLine(progressLine(sourceTable, counter));
                    if (log.progressPoint(counter))
                        throw Aborted();
                }
                ++counter;
            }
            if (batch->failure)
                std::rethrow_exception(batch->failure);
            reader.done(std::move(batch));
        }
        connection.commitTransaction();
        transactionBegun = false;
        log.replaceLastLine(progressLine(sourceTable, counter - 1));
        dataset.close();
    } catch (const std::exception& e) {
        const QString message = messageOf(e);
        error = message;
        ok = false;
        log.appendLine(message);
        if (transactionBegun) {
            // What was posted before the failure stays in the table.
            try {
                connection.commitTransaction();
            } catch (const std::exception&) {
            }
        }
        dataset.close();
        failed = true;
        lastError = message;
    }
    if (failed)
        log.appendLine(lastError);

    qint64 valuesLost = 0;
    for (size_t i = 0; i < lost.size(); ++i) {
        valuesLost += lost[i].count;
        if (losses && lost[i].count > 0)
            losses->append(ColumnLoss{plan[i].sourceName, lost[i].count, lost[i].firstReason});
    }
    log.transferEnded(sourceTable, counter - 1, valuesLost);
}

}  // namespace ferrowane
