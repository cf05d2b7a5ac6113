#include "wizard/aaform1.h"

#include "engine/conversion_run.h"
#include "settings/umarfrm_bat.h"
#include "wizard/clickable_image.h"
#include "wizard/memo_log.h"
#include "wizard/message_box.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

static void initWizardResources()
{
    Q_INIT_RESOURCE(wizard);
}

namespace ferrowane {

namespace {

constexpr int kSidePanelWidth = 177;
constexpr int kStepLabelPitch = 50;

// The per-user data folder: the first folder of the Access file dialog.
QString perUserDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Orvanel/");
}

// "Start time:" and "The end time:" carry the date and time in the user's
// short date and long time; at exactly midnight the time is left out.
QString localDateTimeText(const QDateTime& now)
{
    const QLocale locale = QLocale::system();
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time() != QTime(0, 0))
        text += u' ' + locale.toString(now.time(), QLocale::LongFormat);
    return text;
}

// The job file's path with its extension replaced by ".log".
QString logPathFor(const QString& jobPath)
{
    const qsizetype separator = std::max(jobPath.lastIndexOf(u'/'), jobPath.lastIndexOf(u'\\'));
    const qsizetype dot = jobPath.lastIndexOf(u'.');
    const QString stem = dot > separator ? jobPath.left(dot) : jobPath;
    return stem + QStringLiteral(".log");
}

bool writeLines(const QString& path, const QStringList& lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString& line : lines)
        file.write(line.toUtf8() + "\r\n");
    return file.commit();
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text = QString())
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLineEdit* makeEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QCheckBox* makeCheck(QWidget* parent, const char* name)
{
    auto* check = new QCheckBox(parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

// A radio group: a titled frame whose items are radio buttons numbered from 0.
QGroupBox* makeRadioGroup(QWidget* parent, const char* name, const QStringList& items,
                          Qt::Orientation orientation, QButtonGroup*& group)
{
    auto* box = new QGroupBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setProperty("radioGroup", true);
    QBoxLayout* layout = orientation == Qt::Horizontal
                             ? static_cast<QBoxLayout*>(new QHBoxLayout(box))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(box));
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(orientation == Qt::Horizontal ? 24 : 2);
    group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], box);
        group->addButton(radio, i);
        layout->addWidget(radio);
    }
    if (orientation == Qt::Horizontal)
        layout->addStretch();
    group->button(0)->setChecked(true);
    return box;
}

// Positions outside the group's range show the nearest item.
void setChoice(QButtonGroup* group, int position)
{
    const int last = int(group->buttons().size()) - 1;
    group->button(std::clamp(position, 0, last))->setChecked(true);
}

bool captionLess(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

}  // namespace

Taaform1::Taaform1(const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_arguments(arguments),
      m_english(englishTable()),
      m_chinese(chineseTable())
{
    initWizardResources();
    setObjectName(QStringLiteral("aaform1"));
    buildWindow();
    m_log = std::make_unique<MemoLog>(sc, pbtable, StopRequested);
    FormCreate();
}

Taaform1::~Taaform1() = default;

// ---------------------------------------------------------------- building

void Taaform1::buildWindow()
{
    setFixedSize(594, 425);

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Side panel: the step labels at a fixed pitch, the picture at the foot.
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedWidth(kSidePanelWidth);
    Panel1->setAutoFillBackground(true);
    QPalette side = Panel1->palette();
    side.setColor(QPalette::Window, QColor(22, 78, 99));
    side.setColor(QPalette::WindowText, QColor(236, 242, 246));
    Panel1->setPalette(side);
    QLabel** stepLabels[] = {&Label1, &Label2, &Label4, &Label5, &Label6};
    const char* stepNames[] = {"Label1", "Label2", "Label4", "Label5", "Label6"};
    for (int i = 0; i < 5; ++i) {
        QLabel* label = makeLabel(Panel1, stepNames[i]);
        label->setWordWrap(true);
        label->setGeometry(16, 24 + i * kStepLabelPitch, kSidePanelWidth - 24, 40);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        *stepLabels[i] = label;
    }
    Image1 = new ClickableImage(QPixmap(QStringLiteral(":/wizard/side_picture.png")), Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->move(0, height() - Image1->height());
    connect(Image1, &ClickableImage::clicked, this, &Taaform1::Image1Click);
    outer->addWidget(Panel1);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    outer->addLayout(right, 1);

    pg = new QStackedWidget(this);
    pg->setObjectName(QStringLiteral("pg"));
    TabSheet1 = buildWelcomePage();
    TabSheet2 = buildConnectionPage();
    TabSheet3 = buildHiddenPage();
    TabSheet4 = buildSettingsPage();
    TabSheet5 = buildTablePage();
    TabSheet6 = buildLogPage();
    for (QWidget* page : {TabSheet1, TabSheet2, TabSheet3, TabSheet4, TabSheet5, TabSheet6})
        pg->addWidget(page);
    right->addWidget(pg, 1);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    right->addWidget(rule);

    Panel3 = new QWidget(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    auto* bar = new QHBoxLayout(Panel3);
    bar->setContentsMargins(10, 8, 10, 10);
    bar->setSpacing(6);
    btback = makeButton(Panel3, "btback", QStringLiteral("< Back"));
    btnext = makeButton(Panel3, "btnext", QStringLiteral("Next >"));
    btcancel = makeButton(Panel3, "btcancel", QStringLiteral("Close"));
    bthelp = makeButton(Panel3, "bthelp", QStringLiteral("Help"));
    bar->addStretch();
    bar->addWidget(btback);
    bar->addWidget(btnext);
    bar->addSpacing(10);
    bar->addWidget(btcancel);
    bar->addWidget(bthelp);
    right->addWidget(Panel3);
    connect(btnext, &QPushButton::clicked, this, &Taaform1::btnextClick);
    connect(btback, &QPushButton::clicked, this, &Taaform1::btbackClick);
    connect(btcancel, &QPushButton::clicked, this, &Taaform1::btcancelClick);
    connect(bthelp, &QPushButton::clicked, this, &Taaform1::bthelpClick);

    // The message texts of the language tables, never shown.
    for (auto [slot, name] : {std::pair{&helpurl, "helpurl"}, {&queryclose, "queryclose"},
                              {&linkmysqlerror, "linkmysqlerror"}, {&nullaccessname, "nullaccessname"}}) {
        *slot = makeLabel(this, name);
        (*slot)->hide();
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        btnextClick();
    });
}

QWidget* Taaform1::buildWelcomePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 28, 24, 12);
    layout->setSpacing(4);
    Label7 = makeLabel(page, "Label7");
    Label8 = makeLabel(page, "Label8");
    for (QLabel* heading : {Label7, Label8}) {
        QFont f = heading->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.5);
        heading->setFont(f);
        heading->setWordWrap(true);
        layout->addWidget(heading);
    }
    layout->addSpacing(24);
    Label9 = makeLabel(page, "Label9");
    Label9->setWordWrap(true);
    layout->addWidget(Label9);
    layout->addSpacing(12);
    Label10 = makeLabel(page, "Label10");
    Label10->setWordWrap(true);
    layout->addWidget(Label10);
    layout->addStretch();
    return page;
}

QWidget* Taaform1::buildConnectionPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet2"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(5);

    Label11 = makeLabel(page, "Label11");
    Label11->setWordWrap(true);
    layout->addWidget(Label11);

    accessmode = makeRadioGroup(page, "accessmode", {QStringLiteral("&Local"), QStringLiteral("&Romote")},
                                Qt::Horizontal, accessmodeItems);
    layout->addWidget(accessmode);
    connect(accessmodeItems, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            accessmodeClick();
    });

    authorization = new QGroupBox(page);
    authorization->setObjectName(QStringLiteral("authorization"));
    auto* auth = new QGridLayout(authorization);
    auth->setContentsMargins(8, 4, 8, 6);
    auth->setVerticalSpacing(4);
    Label15 = makeLabel(authorization, "Label15");
    edtdatabase = makeEdit(authorization, "edtdatabase");
    Label12 = makeLabel(authorization, "Label12");
    edtname = makeEdit(authorization, "edtname");
    Label13 = makeLabel(authorization, "Label13");
    edtpassword = makeEdit(authorization, "edtpassword");
    edtpassword->setEchoMode(QLineEdit::Password);
    edtpassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
    auth->addWidget(Label15, 0, 0);
    auth->addWidget(edtdatabase, 0, 1);
    auth->addWidget(Label12, 1, 0);
    auth->addWidget(edtname, 1, 1);
    auth->addWidget(Label13, 2, 0);
    auth->addWidget(edtpassword, 2, 1);
    auth->setColumnStretch(1, 1);
    layout->addWidget(authorization);

    GroupBox2 = new QGroupBox(page);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    auto* remote = new QGridLayout(GroupBox2);
    remote->setContentsMargins(8, 4, 8, 6);
    remote->setVerticalSpacing(2);
    Label14 = makeLabel(GroupBox2, "Label14");
    edthost = makeEdit(GroupBox2, "edthost");
    Label16 = makeLabel(GroupBox2, "Label16");
    remote->addWidget(Label14, 0, 0);
    remote->addWidget(edthost, 0, 1);
    remote->addWidget(Label16, 1, 1);
    remote->setColumnStretch(1, 1);
    layout->addWidget(GroupBox2);

    GroupBox1 = new QGroupBox(page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* port = new QHBoxLayout(GroupBox1);
    port->setContentsMargins(8, 4, 8, 6);
    edtport111 = makeLabel(GroupBox1, "edtport111");
    edtport = makeEdit(GroupBox1, "edtport");
    edtport->setText(QStringLiteral("3306"));
    edtport->setFixedWidth(70);
    Label17 = makeLabel(GroupBox1, "Label17");
    port->addWidget(edtport111);
    port->addWidget(edtport);
    port->addSpacing(6);
    port->addWidget(Label17);
    port->addStretch();
    layout->addWidget(GroupBox1);

    auto* charset = new QHBoxLayout;
    Label33 = makeLabel(page, "Label33");
    cbcharset = new QComboBox(page);
    cbcharset->setObjectName(QStringLiteral("cbcharset"));
    cbcharset->setEditable(true);
    cbcharset->setInsertPolicy(QComboBox::NoInsert);
    cbcharset->setCompleter(nullptr);  // typed text stays as typed
    cbcharset->setMaxVisibleItems(6);
    cbcharset->addItems(characterSetNames());
    cbcharset->setCurrentIndex(0);
    cbcharset->setMinimumWidth(140);
    charset->addWidget(Label33);
    charset->addWidget(cbcharset);
    charset->addStretch();
    layout->addLayout(charset);
    layout->addStretch();

    // Keyboard order: the groups top to bottom, within them as laid out.
    setTabOrder(accessmodeItems->button(0), accessmodeItems->button(1));
    setTabOrder(accessmodeItems->button(1), edtdatabase);
    setTabOrder(edtdatabase, edtname);
    setTabOrder(edtname, edtpassword);
    setTabOrder(edtpassword, edthost);
    setTabOrder(edthost, edtport);
    setTabOrder(edtport, cbcharset);

    accessmodeClick();
    return page;
}

QWidget* Taaform1::buildHiddenPage()
{
    // Fields of a second server and the upper-case switch: stored and restored
    // with the settings, never shown.
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet3"));
    auto* layout = new QVBoxLayout(page);
    edtservice = makeEdit(page, "edtservice");
    edtoracleusername = makeEdit(page, "edtoracleusername");
    edtoraclepassword = makeEdit(page, "edtoraclepassword");
    edtoraclepassword->setEchoMode(QLineEdit::Password);
    chkuppercase = makeCheck(page, "chkuppercase");
    for (QWidget* w : std::initializer_list<QWidget*>{edtservice, edtoracleusername, edtoraclepassword, chkuppercase})
        layout->addWidget(w);
    return page;
}

QWidget* Taaform1::buildSettingsPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet4"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(6);

    Label24 = makeLabel(page, "Label24");
    Label24->setWordWrap(true);
    layout->addWidget(Label24);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(10);
    auto* left = new QVBoxLayout;
    left->setSpacing(3);
    Label25 = makeLabel(page, "Label25");
    mysqldblist = new QListWidget(page);
    mysqldblist->setObjectName(QStringLiteral("mysqldblist"));
    mysqldblist->setSelectionMode(QAbstractItemView::SingleSelection);
    left->addWidget(Label25);
    left->addWidget(mysqldblist, 1);
    middle->addLayout(left, 1);

    auto* options = new QVBoxLayout;
    options->setSpacing(3);
    processtable = makeRadioGroup(page, "processtable",
                                  {QStringLiteral("Overwrite"), QStringLiteral("Merge"), QStringLiteral("Skip")},
                                  Qt::Vertical, processtableItems);
    options->addWidget(processtable);
    chktabledefi = makeCheck(page, "chktabledefi");
    chkskipindex = makeCheck(page, "chkskipindex");
    chkblobtotext = makeCheck(page, "chkblobtotext");
    options->addSpacing(4);
    options->addWidget(chktabledefi);
    options->addWidget(chkskipindex);
    options->addWidget(chkblobtotext);
    options->addStretch();
    middle->addLayout(options, 1);
    layout->addLayout(middle, 1);

    auto* target = new QGridLayout;
    target->setVerticalSpacing(4);
    labelaccessformat = makeLabel(page, "labelaccessformat");
    cbaccessformat = new QComboBox(page);
    cbaccessformat->setObjectName(QStringLiteral("cbaccessformat"));
    cbaccessformat->addItems({QStringLiteral("MS Access 95/97"), QStringLiteral("MS Access 2000")});
    labelaccessname = makeLabel(page, "labelaccessname");
    editaccessname = makeEdit(page, "editaccessname");
    editaccessname->setReadOnly(true);
    btbrowse = makeButton(page, "btbrowse", QStringLiteral("Browse..."));
    target->addWidget(labelaccessformat, 0, 0, 1, 2);
    target->addWidget(cbaccessformat, 1, 0);
    target->addWidget(labelaccessname, 2, 0, 1, 2);
    target->addWidget(editaccessname, 3, 0);
    target->addWidget(btbrowse, 3, 1);
    target->setColumnStretch(0, 1);
    layout->addLayout(target);
    connect(btbrowse, &QPushButton::clicked, this, &Taaform1::btbrowseClick);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    // An existing file is a valid target: its tables are governed by processtable.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setOption(QFileDialog::HideNameFilterDetails);
    SaveDialog1->setNameFilter(QStringLiteral("MS Access Databases (.mdb) (*.mdb)"));
    SaveDialog1->setDefaultSuffix(QStringLiteral("mdb"));
    return page;
}

QWidget* Taaform1::buildTablePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet5"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(6);
    Label26 = makeLabel(page, "Label26");
    Label26->setWordWrap(true);
    layout->addWidget(Label26);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(3);
    Label27 = makeLabel(page, "Label27");
    Label28 = makeLabel(page, "Label28");
    availabletables = new QListWidget(page);
    availabletables->setObjectName(QStringLiteral("availabletables"));
    selecttables = new QListWidget(page);
    selecttables->setObjectName(QStringLiteral("selecttables"));
    for (QListWidget* list : {availabletables, selecttables})
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto* moves = new QVBoxLayout;
    moves->setSpacing(6);
    Button1 = makeButton(page, "Button1", QStringLiteral("Add >"));
    Button2 = makeButton(page, "Button2", QStringLiteral("Add all >"));
    Button3 = makeButton(page, "Button3", QStringLiteral("< Remove"));
    Button4 = makeButton(page, "Button4", QStringLiteral("< Remove all"));
    moves->addStretch();
    for (QPushButton* b : {Button1, Button2, Button3, Button4}) {
        b->setMinimumWidth(96);
        moves->addWidget(b);
    }
    moves->addStretch();

    btcreatebat = makeButton(page, "btcreatebat", QStringLiteral("Create Shortcut File"));
    grid->addWidget(Label27, 0, 0);
    grid->addWidget(Label28, 0, 2);
    grid->addWidget(availabletables, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(selecttables, 1, 2);
    grid->addWidget(btcreatebat, 2, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid, 1);

    connect(Button1, &QPushButton::clicked, this, &Taaform1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Taaform1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Taaform1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Taaform1::Button4Click);
    connect(availabletables, &QListWidget::itemDoubleClicked, this, &Taaform1::availabletablesDblClick);
    connect(selecttables, &QListWidget::itemDoubleClicked, this, &Taaform1::selecttablesDblClick);
    connect(btcreatebat, &QPushButton::clicked, this, &Taaform1::btcreatebatClick);
    return page;
}

QWidget* Taaform1::buildLogPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet6"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 4);
    layout->setSpacing(4);
    sc = new QPlainTextEdit(page);
    sc->setObjectName(QStringLiteral("sc"));
    sc->setReadOnly(true);
    sc->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    sc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(sc, 1);
    pbtable = new QProgressBar(page);
    pbtable->setObjectName(QStringLiteral("pbtable"));
    pbtable->setRange(0, 1);
    pbtable->setValue(0);
    pbtable->setFormat(QString());
    layout->addWidget(pbtable);

    // The completion captions, which the run copies into the log.
    Label29 = makeLabel(page, "Label29");
    Label30 = makeLabel(page, "Label30");
    Label32 = makeLabel(page, "Label32");
    for (QLabel* l : {Label29, Label30, Label32})
        l->hide();
    return page;
}

// ---------------------------------------------------------------- start-up

void Taaform1::FormCreate()
{
    // Failure to make the folder is not ours to report: the dialog copes.
    QDir().mkpath(perUserDataFolder());
    Unattended = !m_arguments.isEmpty();
    LanguageCode = QStringLiteral("en");
    ApplyLanguage();
    StopRequested = false;
    m_stopMode = false;
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    LoadSettings();
    if (Unattended) {
        m_log->appendLine(QStringLiteral("Start time:") + localDateTimeText(QDateTime::currentDateTime()));
        const JobStart start = startJob(*this);
        switch (start.outcome) {
        case JobStart::Armed:
            Timer1->start();
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
    CurrentStep = 1;
    ShowStep(1);
}

// ---------------------------------------------------------------- navigation

void Taaform1::ShowStep(int step)
{
    for (QPushButton* b : {btback, btnext, btcancel, bthelp})
        b->setEnabled(true);
    btnext->setText(QStringLiteral("Next >"));
    if (step == 1)
        btback->setEnabled(false);
    if (step == 6) {
        btback->setEnabled(false);
        btnext->setText(QStringLiteral("Finish"));
        btcancel->setEnabled(false);
        bthelp->setEnabled(false);
    }

    QWidget* page = nullptr;
    QLabel* mark = nullptr;
    switch (step) {
    case 1: page = TabSheet1; mark = Label1; break;
    case 2: page = TabSheet2; mark = Label2; break;
    case 4: page = TabSheet4; mark = Label4; break;
    case 5: page = TabSheet5; mark = Label5; break;
    case 6: page = TabSheet6; mark = Label6; break;
    default: return;
    }
    pg->setCurrentWidget(page);
    for (QLabel* label : {Label1, Label2, Label4, Label5, Label6}) {
        QFont f = label->font();
        f.setBold(label == mark);
        label->setFont(f);
    }
    if (step == 5)
        btnext->setEnabled(selecttables->count() > 0);
    if (step == 2)
        edtdatabase->setFocus();
    else if (step == 4)
        mysqldblist->setFocus();
    else if (step == 5)
        availabletables->setFocus();
}

bool Taaform1::runAction(const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const SilentAbort&) {
    } catch (const SourceInputError& e) {
        showInfo(this, e.message(), QString::fromLatin1(kApplicationTitle));
    } catch (const MySqlError& e) {
        showError(this, e.message());
    } catch (const AccessError& e) {
        showError(this, e.message());
    } catch (const std::exception& e) {
        showError(this, QString::fromUtf8(e.what()));
    }
    return false;
}

void Taaform1::btnextClick()
{
    std::function<void()> action;
    switch (CurrentStep) {
    case 2: action = [this] { step2Click(); }; break;
    case 4: action = [this] { step4Click(); }; break;
    case 5: action = [this] { step5Click(); }; break;
    case 6: action = [this] { step6Click(); }; break;
    default: break;
    }
    if (action && !runAction(action))
        return;
    if (StopRequested)
        return;
    if (CurrentStep < 6) {
        CurrentStep += CurrentStep == 2 ? 2 : 1;
        ShowStep(CurrentStep);
    } else if (!Unattended) {
        CurrentStep = 1;
        ShowStep(1);
    }
    if (Unattended)
        unattendedCascade();
}

void Taaform1::unattendedCascade()
{
    // Each test sees the counter as the nested clicks before it left it.
    if (CurrentStep == 1)
        btnextClick();
    if (CurrentStep == 2)
        btnextClick();
    if (CurrentStep == 4)
        btnextClick();
    if (CurrentStep == 5) {
        if (jobValue(QStringLiteral("alltables")) == QLatin1String("1")) {
            Button2Click();
        } else {
            for (int i = 0; i < m_jobLines.size(); ++i) {
                const QString name = jobValue(QStringLiteral("tables") + QString::number(i));
                if (name.isEmpty())
                    continue;
                for (int row = 0; row < availabletables->count(); ++row) {
                    if (availabletables->item(row)->text() == name) {
                        availabletables->clearSelection();
                        availabletables->setCurrentRow(row);
                        availabletables->item(row)->setSelected(true);
                        Button1Click();
                        break;
                    }
                }
            }
        }
        btnextClick();
    }
}

void Taaform1::btbackClick()
{
    if (CurrentStep == 5)
        bkstep5Click();
    CurrentStep -= CurrentStep == 4 ? 2 : 1;
    ShowStep(CurrentStep);
}

void Taaform1::btcancelClick()
{
    if (m_stopMode)
        ConfirmStop();
    else
        ConfirmClose();
}

void Taaform1::ConfirmClose()
{
    if (askYesNo(this, queryclose->text(), QStringLiteral("Information")))
        close();
}

void Taaform1::ConfirmStop()
{
    if (askYesNo(this, QStringLiteral("Stop"), QStringLiteral("Info"))) {
        StopRequested = true;
        btback->setEnabled(true);
        btcancel->setText(QStringLiteral("Close"));
        m_stopMode = false;
    } else {
        StopRequested = false;
    }
}

void Taaform1::bthelpClick()
{
    QDesktopServices::openUrl(QUrl(helpurl->text()));
}

void Taaform1::Image1Click()
{
    // Also on the last step, where Help itself is disabled.
    bthelpClick();
}

void Taaform1::closeEvent(QCloseEvent* event)
{
    // During a run the window stays until a Stop has been confirmed.
    if (m_running && !StopRequested) {
        event->ignore();
        if (m_stopMode)
            ConfirmStop();
        return;
    }
    SaveSettings();
    event->accept();
}

// ---------------------------------------------------------------- step actions

void Taaform1::step2Click()
{
    const QString typed = edtdatabase->text();
    if (trimBlanks(typed).isEmpty()) {
        showInfo(this, QStringLiteral("Please enter database name"), QString::fromLatin1(kApplicationTitle));
        edtdatabase->setFocus();
        throw SilentAbort();
    }
    const DatabaseList list = listDatabases(m_mysql, conversionSettings(), typed);
    mysqldblist->clear();
    mysqldblist->addItems(list.names);
    if (list.selectedIndex >= 0)
        mysqldblist->setCurrentRow(list.selectedIndex);
    else
        mysqldblist->setCurrentRow(-1);
}

void Taaform1::step4Click()
{
    if (trimBlanks(editaccessname->text()).isEmpty()) {
        showInfo(this, nullaccessname->text(), QString::fromLatin1(kApplicationTitle));
        btbrowse->setFocus();
        throw SilentAbort();
    }
    const QList<QListWidgetItem*> chosen = mysqldblist->selectedItems();
    if (chosen.isEmpty()) {
        m_mysql.close();
        throw SourceInputError(QStringLiteral("Please choose a MySQL database in the list."));
    }
    openDatabase(m_mysql, conversionSettings(), chosen.first()->text(), characterSetIndex());
    addAvailable(listTables(m_mysql));
    if (availabletables->count() > 0)
        availabletables->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void Taaform1::step5Click()
{
    pg->setCurrentWidget(TabSheet6);
    btback->setEnabled(false);
    btnext->setEnabled(false);
    btcancel->setText(QStringLiteral("Stop"));
    btcancel->setEnabled(true);
    m_stopMode = true;
    StopRequested = false;
    m_log->resetBar();

    ConversionRun run(m_mysql, m_accconnection, m_accdataset, *m_log);
    if (Unattended)
        run.beforeFinishLine = [this] { finishUnattendedRun(); };
    RunTexts texts;
    texts.completed = Label29->text();
    texts.migrated = Label30->text();
    texts.finish = Label32->text();
    const ConversionSettings settings = conversionSettings();
    m_running = true;
    RunResult result;
    try {
        result = run.run(settings, settings.tables, texts);
    } catch (...) {
        m_running = false;
        m_log->flush();
        throw;
    }
    m_running = false;
    m_log->flush();
    if (result.stopped)
        throw SilentAbort();
    m_log->finishBar();
}

void Taaform1::finishUnattendedRun()
{
    m_log->appendLine(QStringLiteral("The end time:") + localDateTimeText(QDateTime::currentDateTime()));
    m_running = false;  // the window may close now
    const QString logPath = logPathFor(jobPath());
    if (!writeLines(logPath, m_log->lines()))
        showError(this, QStringLiteral("Cannot write the log file %1.").arg(QDir::toNativeSeparators(logPath)));
    close();
}

void Taaform1::step6Click()
{
    m_log->clear();
    selecttables->clear();
    close();
}

void Taaform1::bkstep5Click()
{
    availabletables->clear();
    selecttables->clear();
}

// ---------------------------------------------------------------- pages

void Taaform1::accessmodeClick()
{
    const bool remote = accessmodeItems->checkedId() == 1;
    edthost->setEnabled(remote);
    QPalette p = edthost->palette();
    const QPalette normal = edtport->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Base,
                   remote ? normal.color(QPalette::Active, QPalette::Base) : normal.color(QPalette::Active, QPalette::Button));
    edthost->setPalette(p);
}

void Taaform1::btbrowseClick()
{
    const QString current = editaccessname->text();
    if (current.isEmpty()) {
        SaveDialog1->setDirectory(accessDialogFolder());
        SaveDialog1->selectFile(QString());
    } else {
        SaveDialog1->setDirectory(QFileInfo(current).absolutePath());
        SaveDialog1->selectFile(current);
    }
    if (SaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = SaveDialog1->selectedFiles();
    if (!files.isEmpty())
        editaccessname->setText(QDir::toNativeSeparators(files.first()));
}

QString Taaform1::accessDialogFolder() const
{
    return m_defaultAccessDir.isEmpty() ? perUserDataFolder() : m_defaultAccessDir;
}

void Taaform1::updateNextForSelection()
{
    if (CurrentStep == 5 && !m_running)
        btnext->setEnabled(selecttables->count() > 0);
}

void Taaform1::addAvailable(const QStringList& names)
{
    for (const QString& name : names) {
        if (!m_availableSorted) {
            availabletables->addItem(name);
            continue;
        }
        int row = 0;
        while (row < availabletables->count() && !captionLess(name, availabletables->item(row)->text()))
            ++row;
        availabletables->insertItem(row, name);
    }
}

void Taaform1::sortAvailable()
{
    QStringList names;
    for (int i = 0; i < availabletables->count(); ++i)
        names.append(availabletables->item(i)->text());
    std::stable_sort(names.begin(), names.end(), captionLess);
    availabletables->clear();
    availabletables->addItems(names);
    m_availableSorted = true;
}

void Taaform1::Button1Click()
{
    const int at = selecttables->count();
    for (int i = availabletables->count() - 1; i >= 0; --i) {
        if (!availabletables->item(i)->isSelected())
            continue;
        selecttables->insertItem(at, availabletables->item(i)->text());
        delete availabletables->takeItem(i);
    }
    updateNextForSelection();
}

void Taaform1::Button2Click()
{
    for (int i = 0; i < availabletables->count(); ++i)
        selecttables->addItem(availabletables->item(i)->text());
    availabletables->clear();
    updateNextForSelection();
}

void Taaform1::Button3Click()
{
    const int at = availabletables->count();
    for (int i = selecttables->count() - 1; i >= 0; --i) {
        if (!selecttables->item(i)->isSelected())
            continue;
        availabletables->insertItem(at, selecttables->item(i)->text());
        delete selecttables->takeItem(i);
    }
    sortAvailable();
    updateNextForSelection();
}

void Taaform1::Button4Click()
{
    for (int i = 0; i < selecttables->count(); ++i)
        availabletables->addItem(selecttables->item(i)->text());
    selecttables->clear();
    sortAvailable();
    updateNextForSelection();
}

void Taaform1::availabletablesDblClick()
{
    Button1Click();
}

void Taaform1::selecttablesDblClick()
{
    Button3Click();
}

void Taaform1::btcreatebatClick()
{
    if (openShortcutWindow)
        openShortcutWindow();
}

// ---------------------------------------------------------------- texts

namespace {

// The window's own captioned controls in component order: dialogs and message
// boxes it owns are windows of their own and do not count.
template <typename T>
QList<T*> ownControls(QWidget* window)
{
    QList<T*> result;
    for (T* w : window->findChildren<T*>()) {
        if (w->window() != window || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        result.append(w);
    }
    return result;
}

bool isRadioGroup(const QGroupBox* box)
{
    return box->property("radioGroup").toBool();
}

}  // namespace

void Taaform1::ApplyLanguage()
{
    const LanguageTable* table = nullptr;
    if (LanguageCode == QLatin1String("en"))
        table = &m_english;
    else if (LanguageCode == QLatin1String("cn"))
        table = &m_chinese;
    else
        return;

    for (QWidget* w : ownControls<QWidget>(this)) {
        const QString text = tableText(*table, w->objectName());
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(text);
        else if (auto* box = qobject_cast<QGroupBox*>(w))
            box->setTitle(text);
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            check->setText(text);
    }
    if (table == &m_english) {
        btcreatebat->setText(QStringLiteral("Create Shortcut File"));
    } else {
        btcreatebat->setText(QString::fromUtf8("创建快捷方式"));
        Button1->setText(QString::fromUtf8("添加>"));
        Button2->setText(QString::fromUtf8("添加全部>"));
        Button3->setText(QString::fromUtf8("<去除"));
        Button4->setText(QString::fromUtf8("<去除全部"));
        btbrowse->setText(QString::fromUtf8("浏览..."));
        bthelp->setText(QString::fromUtf8("帮助"));
    }
}

bool Taaform1::saveClick(const QString& folder)
{
    m_english.clear();
    for (QLabel* label : ownControls<QLabel>(this))
        m_english.append({label->objectName(), label->text()});
    for (QGroupBox* box : ownControls<QGroupBox>(this))
        if (isRadioGroup(box))
            m_english.append({box->objectName(), box->title()});
    return writeLines(QDir(folder).filePath(QStringLiteral("lb.txt")), tableLines(m_english));
}

bool Taaform1::loaditemsClick(const QString& folder)
{
    m_english.clear();
    for (QLabel* label : ownControls<QLabel>(this))
        m_english.append({label->objectName(), label->text()});
    const QList<QGroupBox*> boxes = ownControls<QGroupBox>(this);
    for (QGroupBox* box : boxes)
        if (isRadioGroup(box))
            m_english.append({box->objectName(), box->title()});
    for (QGroupBox* box : boxes)
        if (!isRadioGroup(box))
            m_english.append({box->objectName(), box->title()});
    for (QCheckBox* check : ownControls<QCheckBox>(this))
        m_english.append({check->objectName(), check->text()});
    return writeLines(QDir(folder).filePath(QStringLiteral("lb.txt")), tableLines(m_english));
}

bool Taaform1::Button8Click(const QString& folder)
{
    const QDir dir(folder);
    const bool english = writeLines(dir.filePath(QStringLiteral("english.txt")), tableLines(m_english));
    const bool chinese = writeLines(dir.filePath(QStringLiteral("chn.txt")), tableLines(m_chinese));
    return english && chinese;
}

// ---------------------------------------------------------------- settings

StoredSettings Taaform1::storedFromControls() const
{
    StoredSettings s;
    s.accessmode = accessmodeItems->checkedId();
    s.mysqldatabase = edtdatabase->text();
    s.mysqlu = edtname->text();
    s.mysqlp = edtpassword->text();
    s.host = edthost->text();
    s.port = edtport->text();
    s.characterSet = characterSetIndex();
    s.oracleh = edtservice->text();
    s.oracleu = edtoracleusername->text();
    s.oraclep = edtoraclepassword->text();
    s.processtable = processtableItems->checkedId();
    s.tabledefonly = chktabledefi->isChecked();
    s.nameuppercase = chkuppercase->isChecked();
    s.skipindex = chkskipindex->isChecked();
    s.blobtotext = chkblobtotext->isChecked();
    s.accessformat = cbaccessformat->currentIndex();
    s.defaultaccessdir = m_defaultAccessDir;
    return s;
}

void Taaform1::applyStored(const StoredSettings& s)
{
    setChoice(accessmodeItems, s.accessmode);
    accessmodeClick();
    edtdatabase->setText(s.mysqldatabase);
    edtname->setText(s.mysqlu);
    edtpassword->setText(s.mysqlp);
    edthost->setText(s.host);
    edtport->setText(s.port.isEmpty() ? QStringLiteral("3306") : s.port);
    const int lastCharset = int(characterSetNames().size()) - 1;
    if (s.characterSet == -1) {
        cbcharset->setCurrentIndex(-1);
        cbcharset->setEditText(QString());
    } else {
        cbcharset->setCurrentIndex(std::clamp(s.characterSet, 0, lastCharset));
    }
    edtservice->setText(s.oracleh);
    edtoracleusername->setText(s.oracleu);
    edtoraclepassword->setText(s.oraclep);
    setChoice(processtableItems, s.processtable);
    chktabledefi->setChecked(s.tabledefonly);
    chkuppercase->setChecked(s.nameuppercase);
    chkskipindex->setChecked(s.skipindex);
    chkblobtotext->setChecked(s.blobtotext);
    cbaccessformat->setCurrentIndex(std::clamp(s.accessformat, 0, cbaccessformat->count() - 1));
    m_defaultAccessDir = s.defaultaccessdir;
    SaveDialog1->setDirectory(accessDialogFolder());
}

void Taaform1::LoadSettings()
{
    applyStored(ferrowane::LoadSettings());
}

void Taaform1::SaveSettings()
{
    ferrowane::SaveSettings(storedFromControls(), editaccessname->text());
}

int Taaform1::characterSetIndex() const
{
    // Typed text counts only when it is one of the entries.
    return cbcharset->findText(cbcharset->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

ConversionSettings Taaform1::conversionSettings() const
{
    ConversionSettings s;
    s.accessmode = accessmodeItems->checkedId();
    s.mysqldatabase = edtdatabase->text();
    s.port = edtport->text();
    s.mysqlu = edtname->text();
    s.mysqlp = edtpassword->text();
    s.host = edthost->text();
    s.accessfilename = editaccessname->text();
    s.accessformat = cbaccessformat->currentIndex();
    s.processtable = processtableItems->checkedId();
    s.character_set = cbcharset->currentText();
    s.tabledefonly = chktabledefi->isChecked();
    s.skipindex = chkskipindex->isChecked();
    s.blobtotext = chkblobtotext->isChecked();
    s.alltables = 0;
    for (int i = 0; i < selecttables->count(); ++i)
        s.tables.append(selecttables->item(i)->text());
    s.nameuppercase = chkuppercase->isChecked();
    return s;
}

QString Taaform1::jobValue(const QString& key) const
{
    for (const QString& line : m_jobLines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return QString();
}

ProgressLog& Taaform1::progressLog()
{
    return *m_log;
}

QStringList Taaform1::logLines() const
{
    return m_log->lines();
}

}  // namespace ferrowane
