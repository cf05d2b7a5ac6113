// The one error type of the conversion: a message meant for a person, shown
// as it stands, and the kind of failure, which decides what a front end does
// with it (stay on the page, fail the table, end the run).
#pragma once

#include <QString>

#include <stdexcept>

namespace ferrowane {

enum class ErrorKind {
    Input,   // refused before anything was sent: blank name, bad port, no database
    Source,  // the MySQL server or its client library
    Target,  // the Access file or our engine
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const QString& message)
        : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message)
    {
    }
    ErrorKind kind() const { return m_kind; }
    QString message() const { return m_message; }

private:
    ErrorKind m_kind;
    QString m_message;
};

// The message of any exception: ours as written, others as their what().
inline QString messageOf(const std::exception& e)
{
    if (const auto* ours = dynamic_cast<const Error*>(&e))
        return ours->message();
    return QString::fromUtf8(e.what());
}

}  // namespace ferrowane
