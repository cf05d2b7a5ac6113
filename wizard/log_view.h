// The progress log as the window shows it: whole lines in the read-only text view,
// the current table's rows on a bar beneath it, and the window's events let
// through at the run's progress points.
#pragma once

#include "engine/progress_log.h"

#include <QElapsedTimer>
#include <QStringList>

class QPlainTextEdit;
class QProgressBar;

namespace ferrowane {

class LogView : public ProgressLog {
public:
    LogView(QPlainTextEdit* view, QProgressBar* bar, bool& stopRequested);

    void appendLine(const QString& line) override;
    void replaceLastLine(const QString& line) override;
    QString lastLine() const override;
    bool progressPoint(qint64 rowsWritten) override;
    bool stopRequested() const override { return m_stop; }
    void clearStopRequest() override { m_stop = false; }
    void rowTotal(const QString& sourceTable, qint64 total) override;

    const QStringList& lines() const { return m_lines; }
    void clear();
    void resetBar();
    // The last table's transfer ended: show it complete (progress points come
    // only every 100 rows).
    void finishBar();
    // Puts a replaced last line that is still waiting into the view.
    void flush();

private:
    void showLastLine();

    QPlainTextEdit* m_view;
    QProgressBar* m_bar;
    bool& m_stop;
    QStringList m_lines;
    int m_lastLineBlock = 0;  // first block of the last line (a line may hold line breaks)
    // A progress line changes every 100 rows; repainting it each time would
    // cost more than the rows themselves, so the view and the event loop are
    // brought up to date a few times a second. The lines themselves are
    // always current.
    bool m_lastLinePending = false;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_sinceEvents;
};

}  // namespace ferrowane
