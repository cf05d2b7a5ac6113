// The progress log a conversion run writes to, and the run's link back to its
// front end (window or command line): progress points, Stop requests, row totals.
#pragma once

#include <QString>
#include <QStringList>

namespace ferrowane {

// An ordered list of whole text lines. The window shows it in the log memo, the
// command line prints it; both see the same lines because the run only talks to
// this interface. Not thread-safe: the run calls it from the thread it runs on.
class ProgressLog {
public:
    virtual ~ProgressLog() = default;

    // Adds a line at the end (an empty text is an empty line).
    virtual void appendLine(const QString& line) = 0;
    // Puts a new text in place of the last line; with no line yet, appends it.
    virtual void replaceLastLine(const QString& line) = 0;
    // The whole last line, or an empty text when the log is empty.
    virtual QString lastLine() const = 0;

    // Called by the row transfer every 100 rows (rowsWritten is the number of
    // rows appended to the table so far). The front end may let its queued
    // events through here; this is the only place during a run where that
    // happens. Returns true when the user asked to stop.
    virtual bool progressPoint(qint64 rowsWritten) = 0;

    // Whether a Stop was asked (tested by the run before each table) and its
    // clearing (at the start of a run, and when the run leaves on a Stop).
    virtual bool stopRequested() const = 0;
    virtual void clearStopRequest() = 0;

    // The row count of the table whose transfer is starting (from the count
    // query), for progress bars; -1 when it is not known. No log line.
    virtual void rowTotal(const QString& sourceTable, qint64 total) { (void)sourceTable; (void)total; }

    // A table's row transfer ended (also by a failure or a Stop): the rows
    // appended to it and the values not stored as they were. No log line.
    virtual void transferEnded(const QString& sourceTable, qint64 rowsWritten, qint64 valuesLost)
    {
        (void)sourceTable;
        (void)rowsWritten;
        (void)valuesLost;
    }
};

// A log held in memory: what tests, the command line and the job runner use
// underneath. A Stop can be asked by calling requestStop(), also from inside
// onProgress (which runs at every progress point).
class MemoryProgressLog : public ProgressLog {
public:
    void appendLine(const QString& line) override { m_lines.append(line); }
    void replaceLastLine(const QString& line) override
    {
        if (m_lines.isEmpty())
            m_lines.append(line);
        else
            m_lines.last() = line;
    }
    QString lastLine() const override { return m_lines.isEmpty() ? QString() : m_lines.last(); }

    bool progressPoint(qint64 rowsWritten) override
    {
        ++m_progressPoints;
        onProgress(rowsWritten);
        return m_stop;
    }
    bool stopRequested() const override { return m_stop; }
    void clearStopRequest() override { m_stop = false; }
    void rowTotal(const QString&, qint64 total) override { m_lastTotal = total; }

    virtual void onProgress(qint64 rowsWritten) { (void)rowsWritten; }

    void requestStop() { m_stop = true; }
    const QStringList& lines() const { return m_lines; }
    void clear() { m_lines.clear(); }
    int progressPoints() const { return m_progressPoints; }
    qint64 lastRowTotal() const { return m_lastTotal; }

private:
    QStringList m_lines;
    bool m_stop = false;
    int m_progressPoints = 0;
    qint64 m_lastTotal = -1;
};

}  // namespace ferrowane
