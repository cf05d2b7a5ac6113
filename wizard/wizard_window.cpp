// The wizard window's frame and navigation: building the side panel, the
// page stack and the button bar; start-up; showing a step; Next, Back,
// Close, Stop and Help; closing; the options read from and shown on the pages.
#include "wizard/wizard_window.h"

#include "settings/job_file.h"
#include "wizard/clickable_image.h"
#include "wizard/controls.h"
#include "wizard/log_page.h"
#include "wizard/log_view.h"
#include "wizard/message_box.h"
#include "wizard/option_pages.h"
#include "wizard/shortcut_window.h"
#include "wizard/table_page.h"
#include "wizard/unattended_steps.h"
#include "wizard/welcome_page.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

static void initWizardResources()
{
    Q_INIT_RESOURCE(wizard);
}

namespace ferrowane {

namespace {
constexpr int kSidePanelWidth = 177;
constexpr int kStepLabelPitch = 50;
constexpr int kSteps[] = {1, 2, 4, 5, 6};
}  // namespace

WizardWindow::WizardWindow(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_arguments(arguments)
{
    initWizardResources();
    setObjectName(QStringLiteral("wizardWindow"));
    buildWindow();
    startUp();
    // Created after the wizard, reused for every "Create Shortcut File".
    m_shortcutWindow = new ShortcutWindow(this);
}

WizardWindow::~WizardWindow() = default;

// ---------------------------------------------------------------- building

void WizardWindow::buildWindow()
{
    setFixedSize(594, 425);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(buildSidePanel());

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    outer->addLayout(right, 1);

    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("pg"));
    m_welcomePage = buildWelcomePage();
    m_connectionPage = new ConnectionPage;
    m_secondServerPage = new SecondServerPage;
    m_optionsPage = new OptionsPage;
    m_tablePage = new TablePage;
    m_logPage = new LogPage(m_stopRequested);
    m_job = std::make_unique<ConversionJob>(&m_logPage->log());
    for (QWidget* page : std::initializer_list<QWidget*>{m_welcomePage, m_connectionPage, m_secondServerPage,
                                                         m_optionsPage, m_tablePage, m_logPage})
        m_pages->addWidget(page);
    right->addWidget(m_pages, 1);
    connect(m_tablePage, &TablePage::selectionChanged, this, &WizardWindow::updateNextForSelection);
    connect(m_tablePage, &TablePage::shortcutWindowRequested, this, &WizardWindow::openShortcutWindow);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    right->addWidget(rule);
    right->addWidget(buildButtonBar());

    // The message texts of the language tables, never shown.
    m_helpUrl = makeLabel(this, "helpurl");
    m_closeQuestion = makeLabel(this, "queryclose");
    QLabel* accessDenied = makeLabel(this, "linkmysqlerror");  // carried by the tables, shown by nothing
    m_noAccessFileName = makeLabel(this, "nullaccessname");
    for (QLabel* message : {m_helpUrl, m_closeQuestion, accessDenied, m_noAccessFileName})
        message->hide();

    m_unattendedStart = new QTimer(this);
    m_unattendedStart->setObjectName(QStringLiteral("Timer1"));
    m_unattendedStart->setInterval(1000);
    connect(m_unattendedStart, &QTimer::timeout, this, [this] {
        m_unattendedStart->stop();
        goNext();
    });
}

QWidget* WizardWindow::buildSidePanel()
{
    // The step labels at a fixed pitch, the picture at the foot.
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedWidth(kSidePanelWidth);
    panel->setAutoFillBackground(true);
    QPalette side = panel->palette();
    side.setColor(QPalette::Window, QColor(22, 78, 99));
    side.setColor(QPalette::WindowText, QColor(236, 242, 246));
    panel->setPalette(side);
    int row = 0;
    for (const char* name : {"Label1", "Label2", "Label4", "Label5", "Label6"}) {
        QLabel* label = makeLabel(panel, name);
        label->setWordWrap(true);
        label->setGeometry(16, 24 + row++ * kStepLabelPitch, kSidePanelWidth - 24, 40);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_stepLabels.append(label);
    }
    auto* picture = new ClickableImage(QPixmap(QStringLiteral(":/wizard/side_picture.png")), panel);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->move(0, height() - picture->height());
    // Also on the last step, where Help itself is disabled.
    connect(picture, &ClickableImage::clicked, this, &WizardWindow::openHelp);
    return panel;
}

QWidget* WizardWindow::buildButtonBar()
{
    auto* barPanel = new QWidget(this);
    barPanel->setObjectName(QStringLiteral("Panel3"));
    auto* bar = new QHBoxLayout(barPanel);
    bar->setContentsMargins(10, 8, 10, 10);
    bar->setSpacing(6);
    m_back = makeButton(barPanel, "btback", QStringLiteral("< Back"));
    m_next = makeButton(barPanel, "btnext", QStringLiteral("Next >"));
    m_close = makeButton(barPanel, "btcancel", QStringLiteral("Close"));
    m_help = makeButton(barPanel, "bthelp", QStringLiteral("Help"));
    bar->addStretch();
    bar->addWidget(m_back);
    bar->addWidget(m_next);
    bar->addSpacing(10);
    bar->addWidget(m_close);
    bar->addWidget(m_help);
    connect(m_next, &QPushButton::clicked, this, &WizardWindow::goNext);
    connect(m_back, &QPushButton::clicked, this, &WizardWindow::goBack);
    connect(m_close, &QPushButton::clicked, this, &WizardWindow::closeOrStop);
    connect(m_help, &QPushButton::clicked, this, &WizardWindow::openHelp);
    return barPanel;
}

bool WizardWindow::ownsDirectly(const QObject* object) const
{
    // Not inside another window (a dialog this one owns); the object may be a dialog itself.
    for (const QObject* up = object->parent(); up && up != this; up = up->parent())
        if (up->isWidgetType() && static_cast<const QWidget*>(up)->isWindow())
            return false;
    return true;
}

// ---------------------------------------------------------------- start-up

void WizardWindow::startUp()
{
    // Failure to make the folder is not ours to report: the dialog copes.
    QDir().mkpath(ConversionJob::dataFolder());
    m_unattended = !m_arguments.isEmpty();
    setLanguage(QStringLiteral("en"));
    m_stopRequested = false;
    m_stopMode = false;
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    loadStoredSettings();
    if (m_unattended) {
        progressLog().appendLine(QStringLiteral("Start time:") + ConversionJob::dateTimeText());
        const JobStart start = startJob(*this);
        switch (start.outcome) {
        case JobStart::Armed:
            m_unattendedStart->start();
            break;
        case JobStart::BadValue:
        case JobStart::LogUnwritable:
            // No run; the window stays for the user.
            showError(this, start.message);
            break;
        case JobStart::EndProgram:
            // The log is beside the job already.
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            break;
        }
    }
    m_currentStep = 1;
    showStep(1);
}

// ---------------------------------------------------------------- navigation

void WizardWindow::showStep(int step)
{
    for (QPushButton* b : {m_back, m_next, m_close, m_help})
        b->setEnabled(true);
    m_next->setText(QStringLiteral("Next >"));
    if (step == 1)
        m_back->setEnabled(false);
    if (step == 6) {
        m_back->setEnabled(false);
        m_next->setText(QStringLiteral("Finish"));
        m_close->setEnabled(false);
        m_help->setEnabled(false);
    }

    const int index = int(std::find(std::begin(kSteps), std::end(kSteps), step) - std::begin(kSteps));
    if (index == int(std::size(kSteps)))
        return;
    QWidget* const pages[] = {m_welcomePage, m_connectionPage, m_optionsPage, m_tablePage, m_logPage};
    m_pages->setCurrentWidget(pages[index]);
    for (QLabel* label : m_stepLabels) {
        QFont f = label->font();
        f.setBold(label == m_stepLabels[index]);
        label->setFont(f);
    }
    if (step == 5)
        m_next->setEnabled(m_tablePage->selectedCount() > 0);
    if (step == 2)
        m_connectionPage->focusDatabase();
    else if (step == 4)
        m_optionsPage->focusDatabases();
    else if (step == 5)
        m_tablePage->focusAvailable();
}

bool WizardWindow::runAction(const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const SilentAbort&) {
    } catch (const Error& e) {
        // Input the page refused is a note; what a server or the file said is an error.
        if (e.kind() == ErrorKind::Input)
            showInfo(this, e.message(), QString::fromLatin1(kApplicationTitle));
        else
            showError(this, e.message());
    } catch (const std::exception& e) {
        showError(this, QString::fromUtf8(e.what()));
    }
    return false;
}

void WizardWindow::goNext()
{
    std::function<void()> action;
    switch (m_currentStep) {
    case 2: action = [this] { logInAndListDatabases(); }; break;
    case 4: action = [this] { openDatabaseAndListTables(); }; break;
    case 5: action = [this] { runConversion(); }; break;
    case 6: action = [this] { finish(); }; break;
    default: break;
    }
    if (action && !runAction(action))
        return;
    if (m_stopRequested)
        return;
    if (m_currentStep < 6) {
        m_currentStep += m_currentStep == 2 ? 2 : 1;
        showStep(m_currentStep);
    } else if (!m_unattended) {
        m_currentStep = 1;
        showStep(1);
    }
    if (m_unattended)
        continueUnattendedRun(*this);
}

void WizardWindow::goBack()
{
    if (m_currentStep == 5)
        m_tablePage->emptyLists();
    m_currentStep -= m_currentStep == 4 ? 2 : 1;
    showStep(m_currentStep);
}

void WizardWindow::updateNextForSelection()
{
    if (m_currentStep == 5 && !m_running)
        m_next->setEnabled(m_tablePage->selectedCount() > 0);
}

void WizardWindow::closeOrStop()
{
    if (m_stopMode)
        confirmStop();
    else
        confirmClose();
}

void WizardWindow::confirmClose()
{
    if (askYesNo(this, m_closeQuestion->text(), QStringLiteral("Information")))
        close();
}

void WizardWindow::confirmStop()
{
    if (askYesNo(this, QStringLiteral("Stop"), QStringLiteral("Info"))) {
        m_stopRequested = true;
        m_back->setEnabled(true);
        m_close->setText(QStringLiteral("Close"));
        m_stopMode = false;
    } else {
        m_stopRequested = false;
    }
}

void WizardWindow::openHelp()
{
    QDesktopServices::openUrl(QUrl(m_helpUrl->text()));
}

void WizardWindow::closeEvent(QCloseEvent* event)
{
    // During a run the window stays until a Stop has been confirmed.
    if (m_running && !m_stopRequested) {
        event->ignore();
        if (m_stopMode)
            confirmStop();
        return;
    }
    SaveSettings(storedFromControls(), m_optionsPage->accessFileName());
    event->accept();
}

void WizardWindow::openShortcutWindow()
{
    m_shortcutWindow->fill(shortcutInputFrom(*this));
    m_shortcutWindow->exec();
}

// ---------------------------------------------------------------- texts

void WizardWindow::setLanguage(const QString& code)
{
    m_languageCode = code;
    m_texts.apply(this, code);
}

bool WizardWindow::exportLabelCaptions(const QString& folder)
{
    return m_texts.exportLabelCaptions(this, folder);
}

bool WizardWindow::exportAllCaptions(const QString& folder)
{
    return m_texts.exportAllCaptions(this, folder);
}

bool WizardWindow::exportLanguageTables(const QString& folder) const
{
    return m_texts.exportTables(folder);
}

// ---------------------------------------------------------------- options on the pages

void WizardWindow::loadStoredSettings()
{
    const StoredSettings stored = LoadSettings();
    m_connectionPage->showStored(stored);
    m_secondServerPage->showStored(stored);
    m_optionsPage->showStored(stored);
}

StoredSettings WizardWindow::storedFromControls() const
{
    const ConversionSettings s = conversionSettings();
    StoredSettings stored{.accessmode = s.accessmode, .mysqldatabase = s.mysqldatabase, .mysqlu = s.mysqlu,
                          .mysqlp = s.mysqlp, .host = s.host, .port = s.port, .characterSet = characterSetIndex(),
                          .processtable = s.processtable, .tabledefonly = s.tabledefonly,
                          .skipindex = s.skipindex, .blobtotext = s.blobtotext, .accessformat = s.accessformat,
                          .defaultaccessdir = m_optionsPage->storedFolder()};
    m_secondServerPage->readInto(stored);  // oracleh, oracleu, oraclep, nameuppercase
    return stored;
}

ConversionSettings WizardWindow::conversionSettings() const
{
    ConversionSettings s;
    m_connectionPage->readInto(s);
    m_optionsPage->readInto(s);
    s.alltables = 0;
    s.tables = m_tablePage->selectedTables();
    s.nameuppercase = m_secondServerPage->namesUpperCase();
    return s;
}

int WizardWindow::characterSetIndex() const
{
    return m_connectionPage->characterSetIndex();
}

QString WizardWindow::accessDialogFolder() const
{
    return m_optionsPage->accessDialogFolder();
}

QString WizardWindow::jobValue(const QString& key) const
{
    for (const QString& line : m_jobLines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return QString();
}

ProgressLog& WizardWindow::progressLog()
{
    return m_logPage->log();
}

QStringList WizardWindow::logLines() const
{
    return m_logPage->log().lines();
}

int WizardWindow::unattendedExitStatus() const
{
    return m_unattended ? m_job->exitStatus() : 0;
}

}  // namespace ferrowane
