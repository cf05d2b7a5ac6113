// Job files: decoding the bytes, lookups, and applying the values to a
// settings record, as a run started with a job file does.
#include "fuzz/fuzz_common.h"

#include "engine/conversion_settings.h"
#include "settings/job_file.h"

void fuzzJobFile(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ferrowane::JobFile job = ferrowane::JobFile::fromBytes(bytes);
    job.tableEntries();
    job.allTables();
    job.value(QStringLiteral("accessfilename"));
    ferrowane::ConversionSettings settings;
    ferrowane::SettingsRecordSink sink(settings);
    ferrowane::ApplyJobSettings(job, sink);
}
