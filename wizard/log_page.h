// The wizard's last page: the progress log of the run with the current
// table's bar and its details line, and the completion captions the run
// copies into the log.
#pragma once

#include "engine/conversion_run.h"
#include "wizard/log_view.h"

#include <QWidget>

#include <memory>

class QLabel;

namespace ferrowane {

class LogPage : public QWidget {
    Q_OBJECT

public:
    // stopRequested: the window's Stop flag, which the log reports to the run;
    // texts: the interface texts in the current language.
    LogPage(bool& stopRequested, LogView::Texts texts, QWidget* parent = nullptr);
    ~LogPage() override;

    LogView& log() { return *m_log; }
    const LogView& log() const { return *m_log; }
    // The three completion lines in the current language.
    RunTexts completionTexts() const;

private:
    QLabel* m_completed = nullptr;
    QLabel* m_migrated = nullptr;
    QLabel* m_finish = nullptr;
    // The captions of a run that did not all go through, by RunTexts field.
    QList<QPair<QLabel*, QString RunTexts::*>> m_endCaptions;
    std::unique_ptr<LogView> m_log;
};

}  // namespace ferrowane
