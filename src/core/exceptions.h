#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

// Base of the program's exceptions: a message text, as the user will see it.
class Exception : public std::exception
{
public:
    explicit Exception(QString message)
        : FMessage(std::move(message))
        , FUtf8(FMessage.toUtf8())
    { }
    const QString &Message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A template whose specifiers do not match its arguments, and similar misuse
// of the program's own formatting helpers.
class EFormatError : public Exception
{
    using Exception::Exception;
};

// File system and other operating-system failures (a file that cannot be
// written, a folder that cannot be made private, ...).
class EOSError : public Exception
{
    using Exception::Exception;
};

// The message of any exception, for a box or a line on stderr.
inline QString ExceptionText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}
