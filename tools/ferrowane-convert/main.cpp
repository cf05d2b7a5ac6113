// ferrowane-convert: the conversion from the command line.
// For now it logs in the way the wizard does and lists the database's tables.
#include "engine/conversion_settings.h"
#include "engine/mysql_source.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace ferrowane;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("ferrowane-convert");

    QCommandLineParser parser;
    parser.setApplicationDescription("Copies a MySQL database into an Access file.");
    parser.addHelpOption();
    const QCommandLineOption host("host", "Server host name or address (remote mode); without it, local mode.", "name");
    const QCommandLineOption socket("socket", "Unix socket of a local server.", "path");
    const QCommandLineOption port("port", "TCP port of the server (default 3306).", "number", "3306");
    const QCommandLineOption user("user", "MySQL user name.", "name");
    const QCommandLineOption password("password", "MySQL password (default: $MYSQL_PWD).", "text");
    const QCommandLineOption charset("charset", "Character set to ask the server for (default: none).", "name");
    const QCommandLineOption database("database", "The database to convert.", "name");
    const QCommandLineOption listTablesOption("list-tables", "Print the database's tables, one per line.");
    parser.addOptions({host, socket, port, user, password, charset, database, listTablesOption});
    parser.process(app);

    QTextStream err(stderr);
    QTextStream out(stdout);
    if (!parser.isSet(listTablesOption) || !parser.isSet(database)) {
        err << "ferrowane-convert: give --database and --list-tables (the conversion itself is not here yet)\n";
        return 2;
    }

    ConversionSettings settings;
    settings.accessmode = parser.isSet(host) ? 1 : 0;
    settings.host = parser.value(host);
    settings.port = parser.value(port);
    settings.mysqlu = parser.value(user);
    settings.mysqlp = parser.isSet(password) ? parser.value(password) : qEnvironmentVariable("MYSQL_PWD");
    if (parser.isSet(socket))
        qputenv("MYSQL_UNIX_PORT", parser.value(socket).toLocal8Bit());
    int charsetPosition = 0;
    if (parser.isSet(charset)) {
        settings.character_set = parser.value(charset);
        charsetPosition = characterSetPosition(settings.character_set);
        if (charsetPosition < 0) {
            err << "ferrowane-convert: unknown character set " << settings.character_set << "; one of: "
                << characterSetNames().join(", ") << "\n";
            return 2;
        }
    }

    try {
        MySqlConnection connection;
        const DatabaseList databases = listDatabases(connection, settings, parser.value(database));
        if (databases.selectedIndex < 0) {
            err << "ferrowane-convert: the server lists no database named " << parser.value(database) << "\n";
            return 1;
        }
        settings.mysqldatabase = databases.names[databases.selectedIndex];
        openDatabase(connection, settings, settings.mysqldatabase, charsetPosition);
        for (const QString& table : listTables(connection))
            out << table << "\n";
    } catch (const SourceInputError& e) {
        err << "ferrowane-convert: " << e.message() << "\n";
        return 2;
    } catch (const MySqlError& e) {
        err << "ferrowane-convert: " << e.message() << "\n";
        return 1;
    }
    return 0;
}
