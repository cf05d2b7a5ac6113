// Converts the same 1,000,000-row table to Jet 4 twice: once with
// ferrowane-convert as a child process, once through the wizard window
// (offscreen, walked from step 1 to step 6 as a user would). Prints both wall
// times, their ratio and the window run's peak memory.
//
//   source /tmp/fwtest/env; build/bench/bench_wizard_convert [rows] [ferrowane-convert]
#include "wizard/table_page.h"
#include "wizard/wizard_window.h"
#include "wizard/message_box.h"

#include <mysql.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QButtonGroup>
#include <QAbstractButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef FERROWANE_BINARY_DIR
#define FERROWANE_BINARY_DIR ""
#endif

using namespace ferrowane;

namespace {

const char* kDatabase = "wbench_db";

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

void check(MYSQL* m, int rc, const char* what)
{
    if (rc != 0) {
        std::fprintf(stderr, "%s: %s\n", what, mysql_error(m));
        std::exit(2);
    }
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Creates the table once; refilled only when its row count differs.
void prepareTable(const std::string& host, const std::string& port, const std::string& user,
                  const std::string& password, long rows)
{
    MYSQL* m = mysql_init(nullptr);
    if (!mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), nullptr, unsigned(std::stoi(port)),
                            nullptr, 0)) {
        std::fprintf(stderr, "login: %s\n", mysql_error(m));
        std::exit(2);
    }
    check(m, mysql_query(m, (std::string("create database if not exists ") + kDatabase).c_str()), "create database");
    check(m, mysql_select_db(m, kDatabase), "use");
    check(m, mysql_query(m, "create table if not exists big (id int primary key, name varchar(50), "
                            "price decimal(10,2), qty int, placed datetime, note varchar(100))"),
          "create table");
    check(m, mysql_query(m, "select count(*) from big"), "count");
    MYSQL_RES* res = mysql_store_result(m);
    const long have = std::atol(mysql_fetch_row(res)[0]);
    mysql_free_result(res);
    if (have != rows) {
        std::fprintf(stderr, "filling %s.big with %ld rows...\n", kDatabase, rows);
        check(m, mysql_query(m, "truncate table big"), "truncate");
        const std::string fill =
            "insert into big select seq, concat('customer ', seq), (seq % 100000) / 100 + 0.05, seq % 1000, "
            "'2020-01-01' + interval (seq % 100000) minute, repeat(char(97 + seq % 26), 20 + seq % 70) "
            "from seq_1_to_" + std::to_string(rows);
        check(m, mysql_query(m, fill.c_str()), "fill");
    }
    mysql_close(m);
}

// ferrowane-convert as a child process; returns its exit code.
int runConverter(const std::string& exe, const std::string& host, const std::string& port, const std::string& user,
                 const std::string& password, const std::string& out, double& cpu)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("MYSQL_PWD", password.c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        std::vector<std::string> args = {exe, "--host", host, "--port", port, "--user", user, "--database", kDatabase,
                                         "--table", "big", "--output", out, "--format", "2000"};
        std::vector<char*> cargs;
        for (auto& a : args)
            cargs.push_back(a.data());
        cargs.push_back(nullptr);
        execv(exe.c_str(), cargs.data());
        std::perror("execv");
        _exit(2);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Walks the window through the whole conversion; empty on success, else what went wrong.
QString runWindow(const QString& host, const QString& port, const QString& user, const QString& password,
                  const QString& out, QStringList& boxes)
{
    WizardWindow form;
    form.show();
    QApplication::processEvents();

    form.goNext();
    if (form.currentStep() != 2)
        return "step 1 did not lead to step 2";
    form.control<QButtonGroup>("accessmodeItems")->button(1)->setChecked(true);  // remote server
    form.control<QLineEdit>("edthost")->setText(host);
    form.control<QLineEdit>("edtport")->setText(port);
    form.control<QLineEdit>("edtname")->setText(user);
    form.control<QLineEdit>("edtpassword")->setText(password);
    form.control<QLineEdit>("edtdatabase")->setText(kDatabase);
    form.goNext();
    if (form.currentStep() != 4)
        return "login did not lead to step 4";
    form.control<QLineEdit>("editaccessname")->setText(out);
    form.control<QComboBox>("cbaccessformat")->setCurrentIndex(1);  // MS Access 2000
    form.goNext();
    if (form.currentStep() != 5)
        return "target did not lead to step 5";
    if (!form.tablePage().selectAvailable("big"))
        return "table big is not listed";
    form.tablePage().addSelected();
    form.goNext();  // the run; returns when it has ended
    if (form.currentStep() != 6)
        return "the run did not reach step 6";
    if (!boxes.isEmpty())
        return "message boxes: " + boxes.join(" | ");
    const QStringList log = form.logLines();
    if (!log.contains("Conversion is Completed"))
        return "log: " + log.join(" | ");
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (rows <= 0) {
        std::fprintf(stderr, "usage: %s [rows] [ferrowane-convert]\n", argv[0]);
        return 2;
    }
    std::string exe = argc > 2 ? argv[2] : std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-convert";
    if (argc <= 2 && std::string(FERROWANE_BINARY_DIR).empty()) {
        exe = argv[0];
        exe = exe.substr(0, exe.rfind('/') + 1) + "../tools/ferrowane-convert";
    }
    if (access(exe.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "no ferrowane-convert at %s\n", exe.c_str());
        return 2;
    }
    const std::string host = env("FERROWANE_MYSQL_HOST"), port = env("FERROWANE_MYSQL_PORT"),
                      user = env("FERROWANE_MYSQL_USER"), password = env("FERROWANE_MYSQL_PASSWORD");
    if (host.empty() || port.empty() || user.empty()) {
        std::fprintf(stderr, "set FERROWANE_MYSQL_HOST/PORT/USER/PASSWORD (source the server's env file)\n");
        return 2;
    }

    // The window reads and writes its settings; keep them out of the user's folders.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    prepareTable(host, port, user, password, rows);

    const std::string cliOut = home.filePath("cli.mdb").toStdString();
    auto t0 = std::chrono::steady_clock::now();
    double cliCpu = 0;
    const int code = runConverter(exe, host, port, user, password, cliOut, cliCpu);
    const double cliTime = seconds(t0);
    if (code != 0) {
        std::fprintf(stderr, "ferrowane-convert failed (exit %d)\n", code);
        return 1;
    }

    // The child has ended; from here on the process's own peak is the window's.
    QApplication app(argc, argv);
    QStringList boxes;
    setMessageBoxHandler([&boxes](const MessageRequest& r) {
        boxes.append(r.text);
        return (r.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    const QString winOut = home.filePath("window.mdb");
    t0 = std::chrono::steady_clock::now();
    const QString problem = runWindow(QString::fromStdString(host), QString::fromStdString(port),
                                      QString::fromStdString(user), QString::fromStdString(password), winOut, boxes);
    const double winTime = seconds(t0);
    setMessageBoxHandler({});
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "window run failed: %s\n", qPrintable(problem));
        return 1;
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);

    const double ratio = cliTime > 0 ? winTime / cliTime : 0.0;
    std::printf("rows:                 %ld\n", rows);
    std::printf("ferrowane-convert:    %.2f s (%.1f MB file, %.2f s cpu)\n", cliTime,
                QFile(QString::fromStdString(cliOut)).size() / 1048576.0, cliCpu);
    std::printf("window:               %.2f s (%.1f MB file)\n", winTime, QFile(winOut).size() / 1048576.0);
    std::printf("ratio window/cli:     %.2f (limit 1.50)\n", ratio);
    std::printf("window peak memory:   %.1f MB\n", self.ru_maxrss / 1024.0);
    std::printf("window cpu:           %.2f s user, %.2f s system\n",
                self.ru_utime.tv_sec + self.ru_utime.tv_usec / 1e6, self.ru_stime.tv_sec + self.ru_stime.tv_usec / 1e6);
    return ratio <= 1.5 ? 0 : 1;
}
