// The wizard window's frame and navigation: building the side panel, the
// page stack and the button bar; start-up; showing a step; Next, Back,
// Close, Stop and Help, also from the keyboard; the language; closing; the
// options read from and shown on the pages.
#include "wizard/wizard_window.h"

#include "settings/job_file.h"
#include "settings/unattended_run.h"
#include "wizard/clickable_image.h"
#include "wizard/controls.h"
#include "wizard/help_window.h"
#include "wizard/log_page.h"
#include "wizard/log_view.h"
#include "wizard/message_box.h"
#include "wizard/option_pages.h"
#include "wizard/password_keyring.h"
#include "wizard/shortcut_window.h"
#include "wizard/table_page.h"
#include "wizard/unattended_steps.h"
#include "wizard/welcome_page.h"
#include "wizard/window_preferences.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextStream>
#include <QTimer>
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
constexpr QSize kDefaultSize(594, 425);  // also the smallest
constexpr int kStepLabelPitch = 50;
constexpr int kSteps[] = {1, 2, 4, 5, 6};
}  // namespace

WizardWindow::WizardWindow(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      m_arguments(arguments)
{
    initWizardResources();
    setObjectName(QStringLiteral("wizardWindow"));
    buildWindow();
    startUp();
    // Created after the wizard, reused for every "Create Shortcut File".
    m_shortcutWindow = new ShortcutWindow(this);
    m_shortcutWindow->applyTexts([this](const QString& key) { return m_texts.text(key); });
}

WizardWindow::~WizardWindow() = default;

// ---------------------------------------------------------------- building

void WizardWindow::buildWindow()
{
    // It may grow: the lists and the log grow with it, the side panel stays.
    setMinimumSize(kDefaultSize);
    resize(kDefaultSize);

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
    addLanguageChoice(m_welcomePage);
    m_connectionPage = new ConnectionPage;
    m_secondServerPage = new SecondServerPage;
    m_optionsPage = new OptionsPage;
    m_tablePage = new TablePage;
    m_logPage = new LogPage(m_stopRequested, [this](const QString& key) { return m_texts.text(key); });
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

    // Alt with a letter is a mnemonic, also in a field (where Qt would take
    // Alt+B and Alt+F as word moves on X11).
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->installEventFilter(this);

    // Wherever the focus is: F1 is Help, Esc the Close (or Stop) question.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &WizardWindow::openHelp);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, [this] {
        if (m_close->isEnabled())
            closeOrStop();
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
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* steps = new QWidget(panel);
    int row = 0;
    for (const char* name : {"Label1", "Label2", "Label4", "Label5", "Label6"}) {
        QLabel* label = makeLabel(steps, name);
        label->setWordWrap(true);
        label->setGeometry(16, 24 + row++ * kStepLabelPitch, kSidePanelWidth - 24, 40);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_stepLabels.append(label);
    }
    steps->setFixedHeight(24 + row * kStepLabelPitch);
    column->addWidget(steps);
    column->addStretch(1);
    // At the panel's foot, however tall the window grows.
    auto* picture = new ClickableImage(QPixmap(QStringLiteral(":/wizard/side_picture.png")), panel);
    picture->setObjectName(QStringLiteral("Image1"));
    column->addWidget(picture, 0, Qt::AlignLeft | Qt::AlignBottom);
    // Also on the last step, where Help itself is disabled.
    connect(picture, &ClickableImage::clicked, this, &WizardWindow::openHelp);
    return panel;
}

void WizardWindow::addLanguageChoice(QWidget* page)
{
    // At the foot of the welcome page, where a person starts.
    QLabel* languageLabel = makeLabel(page, "labellanguage");
    m_languageChoice = new QComboBox(page);
    m_languageChoice->setObjectName(QStringLiteral("cblanguage"));
    // Each language by its own name, whatever the current one.
    m_languageChoice->addItem(QStringLiteral("English"), QStringLiteral("en"));
    m_languageChoice->addItem(QString::fromUtf8("中文"), QStringLiteral("cn"));
    languageLabel->setBuddy(m_languageChoice);
    connect(m_languageChoice, &QComboBox::activated, this,
            [this](int index) { setLanguage(m_languageChoice->itemData(index).toString()); });
    auto* row = new QHBoxLayout;
    row->addWidget(languageLabel);
    row->addWidget(m_languageChoice);
    row->addStretch();
    qobject_cast<QBoxLayout*>(page->layout())->addLayout(row);
}

QWidget* WizardWindow::buildButtonBar()
{
    auto* barPanel = new QWidget(this);
    barPanel->setObjectName(QStringLiteral("Panel3"));
    auto* bar = new QHBoxLayout(barPanel);
    bar->setContentsMargins(10, 8, 10, 10);
    bar->setSpacing(6);
    m_back = makeButton(barPanel, "btback", QStringLiteral("< &Back"));
    m_next = makeButton(barPanel, "btnext", QStringLiteral("&Next >"));
    m_close = makeButton(barPanel, "btcancel", QStringLiteral("&Close"));
    m_help = makeButton(barPanel, "bthelp", QStringLiteral("&Help"));
    // Enter presses it (keyPressEvent); drawn as the default button.
    m_next->setDefault(true);
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
    // The language chosen last, or at a first start the system's.
    const WindowPreferences preferences = loadWindowPreferences();
    setLanguage(preferences.language.isEmpty() ? languageOfLocale(QLocale()) : preferences.language);
    if (preferences.size.isValid()) {
        QSize size = preferences.size.expandedTo(kDefaultSize);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize()).expandedTo(kDefaultSize);
        resize(size);
    }
    m_connectionPage->setRememberPassword(preferences.rememberPassword);
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
            // No run; the message goes into the log beside the job.
            report(start.message);
            break;
        case JobStart::LogUnwritable:
            // Nobody would answer a box: the error goes to standard error.
            QTextStream(stderr) << start.message << "\n";
            m_unattendedEnded = true;
            m_exitStatus = JobNotStarted;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            break;
        case JobStart::EndProgram:
            // The log is beside the job already.
            m_unattendedEnded = true;
            m_exitStatus = JobNotStarted;
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
    if (step == 1)
        m_back->setEnabled(false);
    if (step == 6) {
        m_back->setEnabled(false);
        m_close->setEnabled(false);
        m_help->setEnabled(false);
    }
    m_currentStepShown = step;
    showBarCaptions();

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
        report(e.message(), e.kind() == ErrorKind::Input);
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
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
    // Outside a run no Stop is pending any more.
    if (!m_running)
        m_stopRequested = false;
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
    if (m_connecting)
        cancelConnecting();
    else if (m_stopMode)
        confirmStop();
    else
        confirmClose();
}

void WizardWindow::showBarCaptions()
{
    m_next->setText(m_texts.text(m_currentStepShown == 6 ? QStringLiteral("finish") : QStringLiteral("btnext")));
    m_close->setText(m_texts.text(m_stopMode ? QStringLiteral("stop") : QStringLiteral("btcancel")));
}

void WizardWindow::confirmClose()
{
    if (askYesNo(this, m_closeQuestion->text(), m_texts.text(QStringLiteral("information"))))
        close();
}

void WizardWindow::confirmStop()
{
    if (askYesNo(this, m_texts.text(QStringLiteral("querystop")), m_texts.text(QStringLiteral("info")))) {
        // A Stop after the run has ended (the button still reads "Stop") has
        // nothing to stop: left set, it would hold back every later Next.
        m_stopRequested = m_running;
        m_back->setEnabled(true);
        m_stopMode = false;
        showBarCaptions();
    } else {
        m_stopRequested = false;
    }
}

void WizardWindow::openHelp()
{
    // The help that ships with the program: no browser or network needed.
    if (!m_helpWindow)
        m_helpWindow = new HelpWindow(this);
    m_helpWindow->showHelp(m_languageCode, m_texts.text(QStringLiteral("helptitle")),
                           m_texts.text(QStringLiteral("helponline")), m_helpUrl->text(),
                           m_texts.text(QStringLiteral("btcancel")));
}

bool WizardWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::AltModifier && key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
            return true;  // not accepted: the window's shortcuts get the key
    }
    return QWidget::eventFilter(watched, event);
}

void WizardWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter: the focused push button, else the default one (Next or Finish).
    // Fields and lists pass Enter on to here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = focused && focused->isEnabled() ? focused : m_next;
        if (target->isEnabled() && target->isVisible())
            target->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WizardWindow::closeEvent(QCloseEvent* event)
{
    // A login still running aside is left behind.
    if (m_connecting)
        cancelConnecting();
    // During a run the window stays until a Stop has been confirmed.
    if (m_running && !m_stopRequested) {
        event->ignore();
        if (m_stopMode)
            confirmStop();
        return;
    }
    const bool remember = m_connectionPage->rememberPassword();
    saveWindowPreferences({m_languageCode, isMaximized() ? normalGeometry().size() : size(), remember});
    // The password: in the keyring when there is one, else in the owner-only
    // file; not at all when it is not to be remembered.
    StoredSettings stored = storedFromControls();
    if (!remember) {
        stored.mysqlp.clear();
        forgetKeyringPassword();
    } else if (!stored.mysqlp.isEmpty() && storeKeyringPassword(stored.mysqlp)) {
        stored.mysqlp.clear();
    }
    SaveSettings(stored, m_optionsPage->accessFileName());
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
    m_texts.apply(this, code);
    if (code != QLatin1String("en") && code != QLatin1String("cn"))
        return;
    m_languageCode = code;
    showBarCaptions();
    const QSignalBlocker quiet(m_languageChoice);
    m_languageChoice->setCurrentIndex(m_languageChoice->findData(code));
    setMessageButtonTexts(text(QStringLiteral("yes")), text(QStringLiteral("no")), text(QStringLiteral("ok")));
    m_optionsPage->setDialogTexts(text(QStringLiteral("savedialogtitle")), text(QStringLiteral("savedialogfilter")));
    m_logPage->log().showDetails();
    if (m_shortcutWindow)
        m_shortcutWindow->applyTexts([this](const QString& key) { return m_texts.text(key); });
    if (m_helpWindow && m_helpWindow->isVisible())
        openHelp();
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
    StoredSettings stored = LoadSettings();
    // A password kept in the keyring leaves the file's value empty.
    if (stored.mysqlp.isEmpty() && m_connectionPage->rememberPassword())
        stored.mysqlp = readKeyringPassword().value_or(QString());
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
                          .skipindex = s.skipindex, .blobtotext = s.blobtotext, .timetotext = s.timetotext,
                          .autonumber = s.autonumber, .required = s.required, .defaults = s.defaults,
                          .descriptions = s.descriptions, .relationships = s.relationships,
                          .accessformat = s.accessformat,
                          .defaultaccessdir = m_optionsPage->storedFolder()};
    if (stored.characterSet == -1)
        stored.characterSetName = s.character_set;  // typed, no entry of the list
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

}  // namespace ferrowane
