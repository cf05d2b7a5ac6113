// Job files: the options of one conversion as key=value lines, written by the
// shortcut-file window and read back when the program is started with one.
#pragma once

#include "engine/conversion_job.h"  // replaceExtension, the log file
#include "engine/conversion_settings.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace ferrowane {

// What the shortcut-file window puts into a job, in the order the lines are written.
struct JobContent {
    int accessmode = 0;
    QString mysqldatabase;
    QString port;
    QString mysqlu;
    QString mysqlp;
    QString host;            // the main window's host text, also in local mode
    QString accessfilename;
    int accessformat = 0;
    int processtable = 0;
    QString character_set;   // the text of the character-set box
    bool tabledefonly = false;
    bool skipindex = false;
    bool blobtotext = false;
    bool timetotext = false;  // written only when set: older jobs stay as they were
    int alltables = 1;
    QStringList tables;      // written only when alltables is 0
    // The schema options; a job file without their keys has them off.
    bool autonumber = false;
    bool required = false;
    bool defaults = false;
    bool descriptions = false;
    bool relationships = false;
};

// The lines of a job, without line ends.
QStringList jobLines(const JobContent& job);

// A value holding CR or LF would end its line early and start one of its own
// (a password cut short, a table name that adds a key to the job). The
// message that refuses such a job, naming the key (or the table name, never
// a password); empty when every value fits on its line.
QString jobLineBreakError(const JobContent& job);

// Writes the lines with CR LF after each, UTF-8 without a byte-order mark,
// replacing any file of that name. The file holds a password, so it is made
// readable by its owner only. A job that jobLineBreakError refuses is not
// written (an earlier file stays as it was). Returns an error text, empty on
// success.
QString writeJobFile(const QString& path, const JobContent& job);


// The job file as it was read: its lines, and lookups by key.
class JobFile {
public:
    JobFile() = default;
    explicit JobFile(QStringList lines) : m_lines(std::move(lines)) {}

    // Reads the whole file. A UTF-8 or UTF-16 byte-order mark decides the
    // decoding; without one the text is taken as UTF-8 (our code page).
    // Returns nothing and sets *error when the file cannot be read.
    static std::optional<JobFile> read(const QString& path, QString* error);
    // Decodes the bytes of a job file.
    static JobFile fromBytes(const QByteArray& bytes);

    const QStringList& lines() const { return m_lines; }
    // The text after the first "=" of the first line whose part before it
    // equals the key without regard to letter case; empty when none does.
    QString value(const QString& key) const;
    // The tables a job names: "tables0", "tables1", ... for every number below
    // the line count, in that order, empty values left out.
    QStringList tableEntries() const;
    bool allTables() const { return value(QStringLiteral("alltables")) == QLatin1String("1"); }

private:
    QStringList m_lines;
};

// Where applying a job puts its values: the wizard's controls, or a plain
// settings record for a run without a window.
class JobSettingsSink {
public:
    virtual ~JobSettingsSink() = default;
    virtual void setAccessMode(int position) = 0;
    virtual void setDatabase(const QString& text) = 0;
    virtual void setUser(const QString& text) = 0;
    virtual void setPassword(const QString& text) = 0;
    virtual void setHost(const QString& text) = 0;
    virtual void setPort(const QString& text) = 0;
    virtual void setOracle(const QString& service, const QString& user, const QString& password) = 0;
    virtual void setAccessFormat(int position) = 0;
    virtual void setAccessFileName(const QString& path) = 0;
    virtual void setCharacterSet(const QString& name) = 0;
    virtual void setProcessTable(int position) = 0;
    virtual void setFlags(bool tabledefonly, bool nameuppercase, bool skipindex, bool blobtotext) = 0;
    // "timetotext": TIME columns as text; a job without the key clears it.
    virtual void setTimeAsText(bool on) = 0;
    // AutoNumber, required, defaults, descriptions, relationships.
    virtual void setSchemaOptions(bool autonumber, bool required, bool defaults, bool descriptions,
                                  bool relationships) = 0;
};

// Copies the job into the sink key by key. A choice ("accessmode",
// "accessformat", "processtable") that is missing or not a decimal integer
// stops it there: the keys before it are applied, and the message naming the
// bad value is returned. An empty text means the whole job was applied.
QString ApplyJobSettings(const JobFile& job, JobSettingsSink& sink);

// A sink that fills a settings record (the character set by name, the
// second server's fields kept aside).
class SettingsRecordSink : public JobSettingsSink {
public:
    explicit SettingsRecordSink(ConversionSettings& settings) : m_settings(settings) {}
    void setAccessMode(int position) override { m_settings.accessmode = position; }
    void setDatabase(const QString& text) override { m_settings.mysqldatabase = text; }
    void setUser(const QString& text) override { m_settings.mysqlu = text; }
    void setPassword(const QString& text) override { m_settings.mysqlp = text; }
    void setHost(const QString& text) override { m_settings.host = text; }
    void setPort(const QString& text) override { m_settings.port = text; }
    void setOracle(const QString& s, const QString& u, const QString& p) override
    {
        oracleh = s;
        oracleu = u;
        oraclep = p;
    }
    // Out of range: the nearest format.
    void setAccessFormat(int position) override { m_settings.accessformat = position < 1 ? 0 : 1; }
    void setAccessFileName(const QString& path) override { m_settings.accessfilename = path; }
    void setCharacterSet(const QString& name) override { m_settings.character_set = name; }
    void setProcessTable(int position) override { m_settings.processtable = position; }
    void setFlags(bool tabledefonly, bool nameuppercase, bool skipindex, bool blobtotext) override
    {
        m_settings.tabledefonly = tabledefonly;
        m_settings.nameuppercase = nameuppercase;
        m_settings.skipindex = skipindex;
        m_settings.blobtotext = blobtotext;
    }
    void setTimeAsText(bool on) override { m_settings.timetotext = on; }
    void setSchemaOptions(bool autonumber, bool required, bool defaults, bool descriptions,
                          bool relationships) override
    {
        m_settings.autonumber = autonumber;
        m_settings.required = required;
        m_settings.defaults = defaults;
        m_settings.descriptions = descriptions;
        m_settings.relationships = relationships;
    }

    QString oracleh;
    QString oracleu;
    QString oraclep;

private:
    ConversionSettings& m_settings;
};

}  // namespace ferrowane
