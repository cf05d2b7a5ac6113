// The progress log as the window shows it (the log page): each line kept
// whole, shown in the read-only log view, the current table's rows on a bar
// and the run's details and summary beneath it.
#include "wizard/log_view.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace ferrowane {

LogView::LogView(QPlainTextEdit* view, QProgressBar* bar, QLabel* details, bool& stopRequested, Texts texts)
    : m_view(view), m_bar(bar), m_details(details), m_stop(stopRequested), m_texts(std::move(texts))
{
}

namespace {
constexpr qint64 kRepaintMs = 100;
constexpr qint64 kEventsMs = 20;

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}
}  // namespace

QString durationText(qint64 milliseconds)
{
    const qint64 s = milliseconds / 1000;
    const QLatin1Char zero('0');
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, zero).arg(s % 60, 2, 10, zero);
}

void LogView::appendLine(const QString& line)
{
    flush();
    // An empty document already has one (empty) block, which the first line fills.
    m_lastLineBlock = m_lines.isEmpty() ? 0 : m_view->document()->blockCount();
    m_lines.append(line);
    m_view->appendPlainText(line);
}

void LogView::replaceLastLine(const QString& line)
{
    if (m_lines.isEmpty()) {
        appendLine(line);
        return;
    }
    m_lines.last() = line;
    m_lastLinePending = true;
    if (!m_sinceShown.isValid() || m_sinceShown.elapsed() >= kRepaintMs)
        showLastLine();
}

void LogView::flush()
{
    if (m_lastLinePending)
        showLastLine();
}

void LogView::showLastLine()
{
    QTextCursor cursor(m_view->document()->findBlockByNumber(m_lastLineBlock));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(m_lines.last());
    m_lastLinePending = false;
    m_sinceShown.start();
}

QString LogView::lastLine() const
{
    return m_lines.isEmpty() ? QString() : m_lines.last();
}

bool LogView::progressPoint(qint64 rowsWritten)
{
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventsMs)
        return m_stop;
    if (m_bar->maximum() > 0)
        m_bar->setValue(int(std::min<qint64>(rowsWritten, m_bar->maximum())));
    m_tableRows = rowsWritten;
    showDetails();
    if (m_lastLinePending && m_sinceShown.elapsed() >= kRepaintMs)
        showLastLine();
    // The one place during a run where clicks (Stop, Help) get through.
    QCoreApplication::processEvents();
    m_sinceEvents.start();
    return m_stop;
}

void LogView::rowTotal(const QString& sourceTable, qint64 total)
{
    // The table's place in the run: the next selected name that matches
    // (names may have been upper-cased for the run).
    int at = -1;
    for (int i = m_tableIndex + 1; i < m_tables.size() && at < 0; ++i)
        if (m_tables[i].compare(sourceTable, Qt::CaseInsensitive) == 0)
            at = i;
    m_tableIndex = at >= 0 ? at : m_tableIndex + 1;
    m_table = sourceTable;
    m_tableTotal = total;
    m_tableRows = 0;
    m_tableClock.start();
    showDetails();
    m_bar->setFormat(sourceTable + QStringLiteral(": %v / %m"));
    if (total < 0 || total > std::numeric_limits<int>::max()) {
        m_bar->setRange(0, 0);  // busy: the count is not known
    } else {
        // An empty table is a bar with nothing to do, not a busy one.
        m_bar->setRange(0, int(std::max<qint64>(total, 1)));
        m_bar->setValue(0);
        if (total == 0)
            m_bar->setFormat(sourceTable + QStringLiteral(": 0 / 0"));
    }
}

void LogView::transferEnded(const QString&, qint64 rowsWritten, qint64 valuesLost)
{
    if (m_tableTotal == 0)
        m_bar->setValue(m_bar->maximum());
    m_tableRows = rowsWritten;
    m_rowsDone += rowsWritten;
    m_valuesLost += valuesLost;
    showDetails();
}

void LogView::startRun(const QStringList& tables)
{
    m_tables = tables;
    m_tableIndex = -1;
    m_table.clear();
    m_tableTotal = -1;
    m_tableRows = m_rowsDone = m_valuesLost = 0;
    m_runMs = 0;
    m_ended = false;
    m_stopped = false;
    m_result = RunResult();
    m_runClock.start();
    m_details->clear();
}

void LogView::finishRun(const RunResult& result, bool stopped)
{
    m_runMs = m_runClock.isValid() ? m_runClock.elapsed() : 0;
    m_ended = true;
    m_result = result;
    m_stopped = stopped;
    showDetails();
}

void LogView::showDetails()
{
    if (m_ended) {
        QString summary = m_texts(QStringLiteral("summary"))
                              .arg(m_result.convertedTables)
                              .arg(m_tables.size())
                              .arg(m_result.failedTables)
                              .arg(count(m_rowsDone), durationText(m_runMs));
        if (m_valuesLost > 0)
            summary += u' ' + m_texts(QStringLiteral("summarylost")).arg(count(m_valuesLost));
        if (m_stopped)
            summary += u' ' + m_texts(QStringLiteral("summarystopped"));
        m_details->setText(summary);
        return;
    }
    if (m_tableIndex < 0 || !m_runClock.isValid())
        return;
    QStringList parts;
    parts << m_texts(QStringLiteral("progresstable")).arg(m_tableIndex + 1).arg(std::max<qsizetype>(m_tables.size(), m_tableIndex + 1));
    if (m_tableTotal >= 0)
        parts << m_texts(QStringLiteral("progressrows")).arg(m_table, count(m_tableRows), count(m_tableTotal));
    else
        parts << m_texts(QStringLiteral("progressrowsunknown")).arg(m_table, count(m_tableRows));
    const qint64 tableMs = std::max<qint64>(m_tableClock.elapsed(), 1);
    const qint64 rate = m_tableRows * 1000 / tableMs;
    parts << m_texts(QStringLiteral("progressrate")).arg(count(rate));
    parts << m_texts(QStringLiteral("progresselapsed")).arg(durationText(m_runClock.elapsed()));
    if (m_tableTotal >= 0 && rate > 0)
        parts << m_texts(QStringLiteral("progressremaining"))
                     .arg(durationText(std::max<qint64>(m_tableTotal - m_tableRows, 0) * 1000 / rate));
    m_details->setText(parts.join(QStringLiteral("  ·  ")));
}

void LogView::clear()
{
    m_lastLinePending = false;
    m_lines.clear();
    m_lastLineBlock = 0;
    m_view->clear();
}

void LogView::finishBar()
{
    if (m_bar->maximum() > 0)
        m_bar->setValue(m_bar->maximum());
}

void LogView::resetBar()
{
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setFormat(QString());
    m_details->clear();
}

}  // namespace ferrowane
