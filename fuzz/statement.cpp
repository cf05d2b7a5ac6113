// The statement parser on a fresh database: each input line is one
// statement, run through execute() or, for queries, openQuery(). The first
// byte picks the format.
#include "fuzz/fuzz_common.h"

#include "jet/database.h"
#include "jet/error.h"
#include "jet/row_set.h"
#include "jet/statement.h"

#include <string>
#include <vector>

void fuzzStatement(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const jet::Version version = (data[0] & 1) ? jet::Version::Jet4 : jet::Version::Jet3;
    static const std::vector<uint8_t> templates[2] = {
        jet::Database::templateBytes(jet::Version::Jet3),
        jet::Database::templateBytes(jet::Version::Jet4),
    };
    static const std::string path = fuzz::scratchPath("stmt");
    const auto& image = templates[version == jet::Version::Jet4 ? 1 : 0];
    fuzz::writeFile(path, image.data(), image.size());

    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    {
        auto db = jet::Database::open(path, true);
        size_t start = 0;
        int statements = 0;
        while (start <= text.size() && statements++ < 16) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string statement = text.substr(start, end - start);
            start = end + 1;
            try {
                if (statement.size() >= 6 && (statement[0] == 's' || statement[0] == 'S')) {
                    auto rows = jet::openQuery(*db, statement);
                    rows->columnNames();
                } else {
                    jet::execute(*db, statement);
                }
            } catch (const jet::Error&) {
            }
        }
        // Whatever the statements did must leave a sound file.
        try {
            db->commit();
        } catch (const jet::Error&) {
        }
        for (const auto& name : db->tableNames(true))
            db->table(name).readAll();
    }
    fuzz::removeFile(path);
}
