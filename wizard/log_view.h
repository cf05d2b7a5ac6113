// The progress log as the window shows it: whole lines in the read-only text view,
// the current table's rows on a bar beneath it with a line of details (table k
// of n, rows, rate, elapsed and remaining time) that becomes the run's summary
// at its end, and the window's events let through at the run's progress points.
#pragma once

#include "engine/conversion_run.h"
#include "engine/progress_log.h"

#include <QElapsedTimer>
#include <QStringList>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace ferrowane {

class LogView : public ProgressLog {
public:
    // texts: the interface text of a key in the current language.
    using Texts = std::function<QString(const QString& key)>;
    LogView(QPlainTextEdit* view, QProgressBar* bar, QLabel* details, bool& stopRequested, Texts texts);

    void appendLine(const QString& line) override;
    void replaceLastLine(const QString& line) override;
    QString lastLine() const override;
    bool progressPoint(qint64 rowsWritten) override;
    bool stopRequested() const override { return m_stop; }
    void clearStopRequest() override { m_stop = false; }
    void rowTotal(const QString& sourceTable, qint64 total) override;
    void transferEnded(const QString& sourceTable, qint64 rowsWritten, qint64 valuesLost) override;

    const QStringList& lines() const { return m_lines; }
    void clear();
    void resetBar();
    // The last table's transfer ended: show it complete (progress points come
    // only every 100 rows).
    void finishBar();
    // Puts a replaced last line that is still waiting into the view.
    void flush();

    // A run of these tables starts: the counts and the clock start from zero.
    void startRun(const QStringList& tables);
    // The run ended (normally, by a Stop or by an error): the details line
    // becomes the summary of what the run reported.
    void finishRun(const RunResult& result, bool stopped);
    // The details line again, in the current language.
    void showDetails();

private:
    void showLastLine();

    QPlainTextEdit* m_view;
    QProgressBar* m_bar;
    QLabel* m_details;
    bool& m_stop;
    Texts m_texts;
    QStringList m_lines;
    int m_lastLineBlock = 0;  // first block of the last line (a line may hold line breaks)
    // A progress line changes every 100 rows; repainting it each time would
    // cost more than the rows themselves, so the view and the event loop are
    // brought up to date a few times a second. The lines themselves are
    // always current.
    bool m_lastLinePending = false;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_sinceEvents;

    // The run as the details line tells it.
    QStringList m_tables;        // in conversion order
    int m_tableIndex = -1;       // of the table whose rows are moving
    QString m_table;
    qint64 m_tableTotal = -1;    // -1 unknown
    qint64 m_tableRows = 0;
    qint64 m_rowsDone = 0;       // of the tables whose transfer ended
    qint64 m_valuesLost = 0;
    QElapsedTimer m_runClock;
    QElapsedTimer m_tableClock;
    qint64 m_runMs = 0;          // frozen at the end
    bool m_ended = false;
    RunResult m_result;
    bool m_stopped = false;
};

// "m:ss", or "h:mm:ss" from an hour on.
QString durationText(qint64 milliseconds);

}  // namespace ferrowane
