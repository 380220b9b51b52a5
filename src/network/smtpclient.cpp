#include "network/smtpclient.h"

#include "network/curlsession.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cstring>

namespace {

std::atomic<bool> g_loopbackExempt { true };

struct TMailJob
{
    QString Host;
    int Port;
    bool Login;
    bool AllowPlainLogin;
    QString Username;
    QString Password;
    QString CertificatesFile;
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
    if (!job.CertificatesFile.isEmpty() && !QFileInfo(job.CertificatesFile).isReadable())
        return Failure(QStringLiteral("Cannot read the TLS certificates file %1").arg(job.CertificatesFile));

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
    // Port 465, or a host given as "smtps://name", speaks TLS from the first
    // byte; elsewhere STARTTLS when offered.
    QString name = host;
    bool implicitTls = port == 465;
    if (name.startsWith(QLatin1String("smtps://"), Qt::CaseInsensitive)) {
        name.remove(0, 8);
        implicitTls = true;
    } else if (name.startsWith(QLatin1String("smtp://"), Qt::CaseInsensitive)) {
        name.remove(0, 7);
    }
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty() || ace.contains('/') || ace.contains(':') || ace.contains('@'))
        return Failure(QStringLiteral("Invalid SMTP server \"%1\"").arg(host));
    const QByteArray url = (implicitTls ? QByteArray("smtps://") : QByteArray("smtp://")) + ace + ':'
        + QByteArray::number(port);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // A login that must be encrypted insists on STARTTLS: curl then ends the
    // exchange before AUTH when the server does not offer it.
    const bool requireTls
        = !implicitTls && TSMTPClient::LoginNeedsEncryption(name, job.Login, job.AllowPlainLogin);
    if (!implicitTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    // A certificate that does not verify ends the exchange: curl never falls
    // back to clear text after a failed handshake.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const QByteArray certificates = QFile::encodeName(job.CertificatesFile);
    if (!certificates.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, certificates.constData());
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
    session.SetIdleTimeout(job.Timeout);
    session.ReportUpload(true);

    // The part headers are written here, not by curl: curl would put a
    // file name into its header as it stands, line breaks included.
    TMime mime(curl);
    curl_mimepart *text = curl_mime_addpart(mime.Mime);
    curl_mime_data_cb(text, curl_off_t(state.Body.size()), &ReadBody, &SeekBody, nullptr, &state);
    curl_slist *textHeaders = curl_slist_append(nullptr, "Content-Type: text/plain; charset=UTF-8");
    textHeaders = curl_slist_append(textHeaders, "Content-Transfer-Encoding: quoted-printable");
    curl_mime_headers(text, session.AddList(textHeaders), 0);
    for (const TMailAttachment &attachment : job.Attachments) {
        curl_mimepart *part = curl_mime_addpart(mime.Mime);
        const QString fileName
            = attachment.Name.isEmpty() ? QFileInfo(attachment.Path).fileName() : attachment.Name;
        if (curl_mime_filedata(part, QFile::encodeName(attachment.Path).constData()) != CURLE_OK)
            return Failure(QStringLiteral("Cannot read the attachment %1").arg(attachment.Path));
        curl_slist *partHeaders = nullptr;
        for (const QByteArray &header : TSMTPClient::AttachmentHeaders(fileName))
            partHeaders = curl_slist_append(partHeaders, header.constData());
        curl_mime_headers(part, session.AddList(partHeaders), 0);
        curl_mime_encoder(part, "base64");
    }
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime.Mime);

    const CURLcode code = session.Perform();
    if (requireTls && code == CURLE_USE_SSL_FAILED)
        return Failure(TSMTPClient::PlainLoginRefusedText());
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

bool TSMTPClient::IsLoopbackHost(const QString &host)
{
    QString name = host.trimmed();
    for (const char *scheme : { "smtps://", "smtp://" }) {
        if (name.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            name.remove(0, qsizetype(std::strlen(scheme)));
    }
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("localhost."), Qt::CaseInsensitive) == 0)
        return true;
    // Only the strict address forms: "127.1" and the like count as other hosts.
    const QByteArray text = name.toLatin1();
    in_addr v4 {};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6 {};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

bool TSMTPClient::LoginNeedsEncryption(const QString &host, bool login, bool allowPlainLogin)
{
    if (!login || allowPlainLogin)
        return false;
    return !(g_loopbackExempt.load(std::memory_order_relaxed) && IsLoopbackHost(host));
}

void TSMTPClient::SetLoopbackExemption(bool exempt)
{
    g_loopbackExempt.store(exempt, std::memory_order_relaxed);
}

QString TSMTPClient::PlainLoginRefusedText()
{
    return QStringLiteral(
        "The server offers no encryption (STARTTLS), so the login was not sent and the e-mail was not "
        "sent. Tick \"Allow login without encryption\" in the settings only if you trust every network "
        "between this computer and the server");
}

void TSMTPClient::ClearMessage()
{
    To.clear();
    Recipients.clear();
    Subject.clear();
    Body.clear();
    Attachments.clear();
}

QByteArray TSMTPClient::EncodeQuotedPrintable(const QByteArray &text)
{
    // Lines end in CR LF; each comes out unchanged after decoding, however
    // long, through soft line breaks that keep every encoded line within 76
    // characters.
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray result;
    result.reserve(text.size() + text.size() / 8);
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        QByteArray line = lines[l];
        const bool lastLine = l == lines.size() - 1;
        if (!lastLine && line.endsWith('\r'))
            line.chop(1);
        if (lastLine && line.isEmpty())
            break;
        int column = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const uchar c = uchar(line[i]);
            const bool atEnd = i == line.size() - 1;
            char literal[3] = { char(c), 0, 0 };
            int length = 1;
            // Blanks at a line's end would be lost on the way; a dot at a
            // line's start is a mail server's business, so it is encoded.
            const bool plain = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atEnd);
            if (!plain || (c == '.' && column == 0)) {
                literal[0] = '=';
                literal[1] = hex[c >> 4];
                literal[2] = hex[c & 15];
                length = 3;
            }
            if (column + length > 75) {
                result += "=\r\n";
                column = 0;
                if (c == '.') {
                    literal[0] = '=';
                    literal[1] = '2';
                    literal[2] = 'E';
                    length = 3;
                }
            }
            result.append(literal, length);
            column += length;
        }
        if (!lastLine)
            result += "\r\n";
    }
    return result;
}

QByteArray TSMTPClient::EncodeHeader(const QString &text, int used)
{
    bool plain = true;
    for (const QChar c : text)
        plain = plain && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    // A plain text goes as it stands while its line stays within the
    // 998 bytes a mail line may hold.
    if (plain && !text.contains(QLatin1String("=?")) && used + text.size() <= 998)
        return text.toLatin1();
    // Encoded words of at most 45 bytes of UTF-8 each (75 characters),
    // whole characters only, each on a folded line of its own.
    QByteArray result;
    QByteArray chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!result.isEmpty())
            result += "\r\n ";
        result += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    const QList<uint> codePoints = text.toUcs4();
    for (uint c : codePoints) {
        if (c < 0x20 || c == 0x7f)
            c = ' ';
        const QByteArray bytes = QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1).toUtf8();
        if (chunk.size() + bytes.size() > 45)
            flush();
        chunk += bytes;
    }
    flush();
    return result;
}

QByteArray TSMTPClient::EncodeMailbox(const QString &text)
{
    const QString address = AddressOf(text);
    const qsizetype open = text.lastIndexOf(QLatin1Char('<'));
    QString display = open > 0 ? text.left(open).trimmed() : QString();
    if (display.size() >= 2 && display.startsWith(QLatin1Char('"')) && display.endsWith(QLatin1Char('"')))
        display = display.mid(1, display.size() - 2).replace(QLatin1String("\\\""), QLatin1String("\""));
    const QByteArray addressBytes = address.toUtf8();
    if (display.isEmpty())
        return addressBytes;
    bool ascii = true;
    for (const QChar c : display)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (!ascii || display.contains(QLatin1String("=?")))
        return EncodeHeader(display, 998) + " <" + addressBytes + '>';
    QByteArray quoted = display.toLatin1();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + "\" <" + addressBytes + '>';
}

QList<QByteArray> TSMTPClient::AttachmentHeaders(const QString &name)
{
    // Line breaks and other control characters never belong in a file name.
    QString clean;
    for (const QChar c : name)
        clean += c.unicode() < 0x20 || c.unicode() == 0x7f ? QLatin1Char('_') : c;
    bool ascii = true;
    QByteArray fallback;
    for (const QChar c : clean) {
        const bool safe = c.unicode() >= 0x20 && c.unicode() < 0x7f;
        ascii = ascii && safe;
        fallback += safe && c != QLatin1Char('"') && c != QLatin1Char('\\') ? char(c.unicode()) : '_';
    }
    QByteArray disposition = "Content-Disposition: attachment; filename=\"" + fallback + '"';
    if (!ascii || fallback != clean.toLatin1()) {
        // The name itself as an extended parameter of percent-encoded UTF-8.
        QByteArray extended;
        for (const char byte : clean.toUtf8()) {
            const uchar c = uchar(byte);
            if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c))
                extended += char(c);
            else
                extended += '%' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
        }
        disposition += ";\r\n filename*=UTF-8''" + extended;
    }
    return { "Content-Type: application/octet-stream; name=\"" + fallback + '"', disposition };
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
    // Line breaks, commas and semicolons separate addresses, except inside
    // a quoted display name or between angle brackets.
    QStringList result;
    QString current;
    bool quoted = false;
    bool bracket = false;
    const auto flush = [&] {
        const QString s = current.trimmed();
        if (!s.isEmpty())
            result << s;
        current.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < text.size() && text[i + 1] != QLatin1Char('\r')
                && text[i + 1] != QLatin1Char('\n')) {
                current += c;
                current += text[++i];
                continue;
            }
            if (c == QLatin1Char('"'))
                quoted = false;
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                // An unclosed quote ends with its line.
                quoted = false;
                flush();
                continue;
            }
            current += c;
            continue;
        }
        if (c == QLatin1Char('"') && !bracket)
            quoted = true;
        else if (c == QLatin1Char('<'))
            bracket = true;
        else if (c == QLatin1Char('>'))
            bracket = false;
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')
            || (!bracket && (c == QLatin1Char(',') || c == QLatin1Char(';')))) {
            bracket = false;
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return result;
}

bool TSMTPClient::Prepare()
{
    TMailJob job;
    job.Host = Host;
    job.Port = Port;
    job.Login = Login;
    job.AllowPlainLogin = AllowPlainLogin;
    job.Username = Username;
    job.Password = Password;
    job.CertificatesFile = CertificatesFile;
    job.From = OneLine(From);
    job.Recipients = Recipients.isEmpty() ? SplitRecipients(To) : Recipients;
    job.Timeout = Timeout();
    job.Attachments = Attachments;

    const QString sender = AddressOf(job.From);
    const qsizetype at = sender.lastIndexOf(QLatin1Char('@'));
    QByteArray domain = at >= 0 ? QUrl::toAce(sender.mid(at + 1)) : QByteArray();
    if (domain.isEmpty())
        domain = "bundlewick.invalid";
    // The To header names exactly the envelope's recipients, one folded
    // line each.
    QByteArray to;
    for (const QString &recipient : std::as_const(job.Recipients)) {
        if (!to.isEmpty())
            to += ",\r\n ";
        to += EncodeMailbox(OneLine(recipient));
    }
    const QByteArray from = EncodeMailbox(job.From);
    job.Headers << "Date: " + DateHeader(QDateTime::currentDateTime()) << "From: " + from
                << "Reply-To: " + from;
    if (!to.isEmpty())
        job.Headers << "To: " + to;
    job.Headers << "Subject: " + EncodeHeader(OneLine(Subject), 9)
                << "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@'
            + domain + '>';

    // SMTP lines end in CR LF; the lines themselves are kept as written.
    QString body = Body;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    body.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    if (!body.isEmpty() && !body.endsWith(QLatin1String("\r\n")))
        body += QLatin1String("\r\n");
    job.Body = EncodeQuotedPrintable(body.toUtf8());

    const auto exchange = [job](const TTransferContext &context) { return RunMail(job, context); };
    return Run(exchange);
}

bool TSMTPClient::Send()
{
    return Prepare();
}
