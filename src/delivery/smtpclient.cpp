#include "delivery/smtpclient.h"

#include "delivery/curlsession.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>
#include <cstring>

namespace {

struct TMailJob
{
    QString Host;
    int Port;
    bool Login;
    QString Username;
    QString Password;
    QString From;
    QStringList Recipients;
    QList<QByteArray> Headers;
    QByteArray Body;
    QList<TMailAttachment> Attachments;
    int Timeout;
};

// State shared by the curl callbacks of one e-mail on the worker thread.
struct TMailState
{
    QByteArray Body;
    qsizetype Pos = 0;
    bool LoginRequired = false;
    bool AuthSent = false;
    bool AuthAccepted = false;
    bool RefusedForNoLogin = false;
};

// The message body is read when DATA goes out. With a login asked for but
// never accepted (curl goes on without AUTH when the server offers none), the
// message must not go out unauthenticated: stop before the data is complete.
size_t ReadBody(char *buffer, size_t size, size_t count, void *statePtr)
{
    auto *state = static_cast<TMailState *>(statePtr);
    if (state->LoginRequired && !state->AuthAccepted) {
        state->RefusedForNoLogin = true;
        return CURL_READFUNC_ABORT;
    }
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), state->Body.size() - state->Pos);
    std::memcpy(buffer, state->Body.constData() + state->Pos, size_t(n));
    state->Pos += n;
    return size_t(n);
}

int SeekBody(void *statePtr, curl_off_t offset, int origin)
{
    auto *state = static_cast<TMailState *>(statePtr);
    if (origin != SEEK_SET || offset < 0 || offset > state->Body.size())
        return CURL_SEEKFUNC_CANTSEEK;
    state->Pos = qsizetype(offset);
    return CURL_SEEKFUNC_OK;
}

// curl_mime handle freed with the job.
struct TMime
{
    curl_mime *Mime;
    explicit TMime(CURL *curl)
        : Mime(curl_mime_init(curl))
    { }
    ~TMime() { curl_mime_free(Mime); }
    TMime(const TMime &) = delete;
    TMime &operator=(const TMime &) = delete;
};

TTransferResult Failure(const QString &text)
{
    return { false, text, {}, 0 };
}

TTransferResult RunMail(const TMailJob &job, const TTransferContext &context)
{
    const QString host = job.Host.trimmed();
    if (host.isEmpty())
        return Failure(QStringLiteral("No SMTP server given"));
    if (job.Login && job.Username.isEmpty())
        return Failure(QStringLiteral("No user name given for the login"));
    if (job.Recipients.isEmpty())
        return Failure(QStringLiteral("No recipient given"));
    QStringList texts = job.Recipients;
    texts << job.From << host;
    for (const QString &text : std::as_const(texts)) {
        if (!IsSafeCommandText(text))
            return Failure(QStringLiteral("Invalid address \"%1\"").arg(text.simplified()));
    }
    for (const TMailAttachment &attachment : job.Attachments) {
        const QFileInfo info(attachment.Path);
        if (!info.isFile() || !info.isReadable())
            return Failure(QStringLiteral("Cannot read the attachment %1").arg(attachment.Path));
    }

    TCurlSession session(context, TCurlSession::CommandReplies);
    if (!session.IsValid())
        return Failure(QStringLiteral("Cannot start the SMTP client"));
    CURL *curl = session.Handle();

    TMailState state;
    state.Body = job.Body;
    state.LoginRequired = job.Login;
    session.SetLineHook([&state](bool incoming, const QByteArray &line) {
        if (!incoming && line.startsWith("AUTH "))
            state.AuthSent = true;
        else if (incoming && state.AuthSent && line.startsWith("235"))
            state.AuthAccepted = true;
    });

    const int port = job.Port > 0 ? job.Port : 25;
    // Port 465 speaks TLS from the first byte; elsewhere STARTTLS when offered.
    const QByteArray url = (port == 465 ? QByteArray("smtps://") : QByteArray("smtp://")) + QUrl::toAce(host)
        + ':' + QByteArray::number(port);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    if (port != 465)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    const QByteArray user = job.Username.toUtf8();
    const QByteArray password = job.Password.toUtf8();
    if (job.Login) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    const QByteArray from = '<' + TSMTPClient::AddressOf(job.From).toUtf8() + '>';
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_slist *recipients = nullptr;
    for (const QString &recipient : job.Recipients)
        recipients = curl_slist_append(recipients,
                                       ('<' + TSMTPClient::AddressOf(recipient).toUtf8() + '>').constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, session.AddList(recipients));
    curl_slist *headers = nullptr;
    for (const QByteArray &header : job.Headers)
        headers = curl_slist_append(headers, header.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, session.AddList(headers));

    const long timeout = job.Timeout;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeout);
    session.ReportUpload(true);

    TMime mime(curl);
    curl_mimepart *text = curl_mime_addpart(mime.Mime);
    curl_mime_data_cb(text, curl_off_t(state.Body.size()), &ReadBody, &SeekBody, nullptr, &state);
    curl_mime_type(text, "text/plain; charset=windows-1252");
    curl_mime_encoder(text, "8bit");
    for (const TMailAttachment &attachment : job.Attachments) {
        curl_mimepart *part = curl_mime_addpart(mime.Mime);
        const QString name
            = attachment.Name.isEmpty() ? QFileInfo(attachment.Path).fileName() : attachment.Name;
        if (curl_mime_filedata(part, QFile::encodeName(attachment.Path).constData()) != CURLE_OK)
            return Failure(QStringLiteral("Cannot read the attachment %1").arg(attachment.Path));
        curl_mime_filename(part, name.toUtf8().constData());
        curl_mime_type(part, "application/octet-stream");
        curl_mime_encoder(part, "base64");
    }
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime.Mime);

    const CURLcode code = session.Perform();
    if (state.RefusedForNoLogin)
        return Failure(
            QStringLiteral("The server accepted no login (it offers no AUTH); the e-mail was not sent"));
    if (code != CURLE_OK)
        return Failure(session.ErrorText(code));
    return { true, {}, {}, 0 };
}

// Header values must stay on one line.
QString OneLine(const QString &text)
{
    QString result = text;
    result.replace(QRegularExpression(QStringLiteral("[\\r\\n\\t]+")), QStringLiteral(" "));
    return result.trimmed();
}

} // namespace

TSMTPClient::TSMTPClient(QObject *parent)
    : TNetClient(parent)
{
    SetTimeout(60);
}

void TSMTPClient::ClearMessage()
{
    To.clear();
    Recipients.clear();
    Subject.clear();
    Body.clear();
    Attachments.clear();
}

QByteArray TSMTPClient::EncodeCP1252(const QString &text)
{
    // Code points of windows-1252's 0x80-0x9F; 0 where the byte is unused.
    static constexpr char16_t high[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
    };
    QByteArray result;
    result.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            result += char(c);
            continue;
        }
        char byte = '?';
        for (int i = 0; i < 32; ++i) {
            if (high[i] != 0 && high[i] == c)
                byte = char(0x80 + i);
        }
        result += byte;
    }
    return result;
}

QByteArray TSMTPClient::EncodeHeader(const QString &text)
{
    bool plain = true;
    for (const QChar c : text)
        plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (plain && !text.contains(QLatin1String("=?")))
        return text.toLatin1();
    // Encoded words of at most 45 bytes of UTF-8 each, whole characters only,
    // separated by blanks on the same line (no folding).
    QByteArray result;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!result.isEmpty())
            result += ' ';
        result += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    const QList<uint> codePoints = text.toUcs4();
    for (const uint c : codePoints) {
        const QByteArray bytes = QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1).toUtf8();
        if (chunk.size() + bytes.size() > 45)
            flush();
        chunk += bytes;
    }
    flush();
    return result;
}

QByteArray TSMTPClient::DateHeader(const QDateTime &when)
{
    const QLocale c = QLocale::c();
    const int offset = when.offsetFromUtc() / 60;
    const int absolute = std::abs(offset);
    return c.toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")).toLatin1()
        + (offset < 0 ? '-' : '+') + QByteArray::number(absolute / 60).rightJustified(2, '0')
        + QByteArray::number(absolute % 60).rightJustified(2, '0');
}

QString TSMTPClient::AddressOf(const QString &text)
{
    const qsizetype open = text.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = text.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open)
        return text.mid(open + 1, close - open - 1).trimmed();
    return text.trimmed();
}

QStringList TSMTPClient::SplitRecipients(const QString &text)
{
    QStringList result;
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[\\r\\n,;]+")));
    for (const QString &part : parts) {
        if (!part.trimmed().isEmpty())
            result << part.trimmed();
    }
    return result;
}

bool TSMTPClient::StartSend()
{
    return Prepare(false);
}

bool TSMTPClient::Prepare(bool bBlocking)
{
    TMailJob job;
    job.Host = Host;
    job.Port = Port;
    job.Login = Login;
    job.Username = Username;
    job.Password = Password;
    job.From = OneLine(From);
    job.Recipients = Recipients.isEmpty() ? SplitRecipients(To) : Recipients;
    job.Timeout = Timeout();
    job.Attachments = Attachments;

    const QString sender = AddressOf(job.From);
    const qsizetype at = sender.lastIndexOf(QLatin1Char('@'));
    QByteArray domain = at >= 0 ? QUrl::toAce(sender.mid(at + 1)) : QByteArray();
    if (domain.isEmpty())
        domain = "bundlewick.invalid";
    // Several recipient lines make one To header.
    const QString to = SplitRecipients(To).join(QLatin1String(", "));
    job.Headers << "Date: " + DateHeader(QDateTime::currentDateTime()) << "From: " + job.From.toUtf8()
                << "Reply-To: " + job.From.toUtf8();
    if (!to.isEmpty())
        job.Headers << "To: " + to.toUtf8();
    job.Headers << "Subject: " + EncodeHeader(OneLine(Subject))
                << "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@'
            + domain + '>';

    // SMTP lines end in CR LF; the lines themselves are kept as written.
    QString body = Body;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    body.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    if (!body.isEmpty() && !body.endsWith(QLatin1String("\r\n")))
        body += QLatin1String("\r\n");
    job.Body = EncodeCP1252(body);

    const auto exchange = [job](const TTransferContext &context) { return RunMail(job, context); };
    return bBlocking ? Run(exchange) : Start(exchange);
}

bool TSMTPClient::Send()
{
    return Prepare(true);
}
