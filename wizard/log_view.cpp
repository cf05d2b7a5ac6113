// The progress log as the window shows it (the log page): each line kept
// whole, shown in the read-only log view, the current table's rows on a bar.
#include "wizard/log_view.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace ferrowane {

LogView::LogView(QPlainTextEdit* view, QProgressBar* bar, bool& stopRequested)
    : m_view(view), m_bar(bar), m_stop(stopRequested)
{
}

namespace {
constexpr qint64 kRepaintMs = 100;
constexpr qint64 kEventsMs = 20;
}  // namespace

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
    if (m_lastLinePending && m_sinceShown.elapsed() >= kRepaintMs)
        showLastLine();
    // The one place during a run where clicks (Stop, Help) get through.
    QCoreApplication::processEvents();
    m_sinceEvents.start();
    return m_stop;
}

void LogView::rowTotal(const QString& sourceTable, qint64 total)
{
    m_bar->setFormat(sourceTable + QStringLiteral(": %v / %m"));
    if (total < 0 || total > std::numeric_limits<int>::max()) {
        m_bar->setRange(0, 0);  // busy: the count is not known
    } else {
        m_bar->setRange(0, int(total));
        m_bar->setValue(0);
    }
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
}

}  // namespace ferrowane
