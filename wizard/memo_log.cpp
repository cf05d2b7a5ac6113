#include "wizard/memo_log.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace ferrowane {

MemoLog::MemoLog(QPlainTextEdit* memo, QProgressBar* bar, bool& stopRequested)
    : m_memo(memo), m_bar(bar), m_stop(stopRequested)
{
}

void MemoLog::appendLine(const QString& line)
{
    // An empty document already has one (empty) block, which the first line fills.
    m_lastLineBlock = m_lines.isEmpty() ? 0 : m_memo->document()->blockCount();
    m_lines.append(line);
    m_memo->appendPlainText(line);
}

void MemoLog::replaceLastLine(const QString& line)
{
    if (m_lines.isEmpty()) {
        appendLine(line);
        return;
    }
    m_lines.last() = line;
    QTextCursor cursor(m_memo->document()->findBlockByNumber(m_lastLineBlock));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(line);
}

QString MemoLog::lastLine() const
{
    return m_lines.isEmpty() ? QString() : m_lines.last();
}

bool MemoLog::progressPoint(qint64 rowsWritten)
{
    if (m_bar->maximum() > 0)
        m_bar->setValue(int(std::min<qint64>(rowsWritten, m_bar->maximum())));
    // The one place during a run where clicks (Stop, Help) get through.
    QCoreApplication::processEvents();
    return m_stop;
}

void MemoLog::rowTotal(const QString& sourceTable, qint64 total)
{
    m_bar->setFormat(sourceTable + QStringLiteral(": %v / %m"));
    if (total < 0 || total > std::numeric_limits<int>::max()) {
        m_bar->setRange(0, 0);  // busy: the count is not known
    } else {
        m_bar->setRange(0, int(total));
        m_bar->setValue(0);
    }
}

void MemoLog::clear()
{
    m_lines.clear();
    m_lastLineBlock = 0;
    m_memo->clear();
}

void MemoLog::finishBar()
{
    if (m_bar->maximum() > 0)
        m_bar->setValue(m_bar->maximum());
}

void MemoLog::resetBar()
{
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_bar->setFormat(QString());
}

}  // namespace ferrowane
