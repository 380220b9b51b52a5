#include "network/curlsession.h"

#include <cctype>
#include <chrono>
#include <mutex>

namespace {

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

qint64 SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsReplyCode(const QByteArray &line)
{
    return line.size() >= 3 && std::isdigit(uchar(line[0])) && std::isdigit(uchar(line[1]))
        && std::isdigit(uchar(line[2])) && (line.size() == 3 || line[3] == ' ');
}

} // namespace

TCurlSession::TCurlSession(const TTransferContext &context, TReplyKind kind)
    : FContext(context)
    , FKind(kind)
{
    GlobalInit();
    FCurl = curl_easy_init();
    if (!FCurl)
        return;
    curl_easy_setopt(FCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(FCurl, CURLOPT_ERRORBUFFER, FErrorBuffer);
    curl_easy_setopt(FCurl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(FCurl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(FCurl, CURLOPT_DEBUGFUNCTION, &TCurlSession::Debug);
    curl_easy_setopt(FCurl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(FCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(FCurl, CURLOPT_XFERINFOFUNCTION, &TCurlSession::XferInfo);
    curl_easy_setopt(FCurl, CURLOPT_XFERINFODATA, this);
}

TCurlSession::~TCurlSession()
{
    if (FCurl)
        curl_easy_cleanup(FCurl);
    for (curl_slist *list : FLists)
        curl_slist_free_all(list);
}

curl_slist *TCurlSession::AddList(curl_slist *list)
{
    FLists.push_back(list);
    return list;
}

CURLcode TCurlSession::Perform()
{
    FErrorBuffer[0] = 0;
    FStaleError.clear();
    FLastReply.clear();
    FQuitting = false;
    FIdleExpired = false;
    Touch();
    const CURLcode code = curl_easy_perform(FCurl);
    FContext.SetNoAnswer(NoAnswer(code));
    return code;
}

bool TCurlSession::NoAnswer(CURLcode code) const
{
    switch (code) {
    case CURLE_COULDNT_CONNECT: // refused or unreachable
    case CURLE_OPERATION_TIMEDOUT: // no connection or no reply in time
    case CURLE_FTP_ACCEPT_TIMEOUT: // the data connection never came
        return true;
    case CURLE_ABORTED_BY_CALLBACK:
        return FIdleExpired && !FContext.Aborted();
    default:
        return false;
    }
}

QString TCurlSession::ErrorText(CURLcode code) const
{
    if (code == CURLE_OK)
        return {};
    if (code == CURLE_ABORTED_BY_CALLBACK && FContext.Aborted())
        return QStringLiteral("Aborted");
    if (code == CURLE_ABORTED_BY_CALLBACK && FIdleExpired)
        return QStringLiteral("Timed out: nothing from the server for %1 seconds").arg(FIdleTimeout);
    if (FKind == HttpStatus) {
        // "HTTP/1.1 404 Not Found" -> "404 Not Found"
        const qsizetype blank = FLastReply.indexOf(' ');
        const QByteArray status = FLastReply.mid(blank + 1).trimmed();
        if (blank > 0 && status.left(3).toInt() >= 400)
            return QString::fromUtf8(status);
    } else if (IsReplyCode(FLastReply.left(4).trimmed()) && FLastReply.left(3).toInt() >= 400) {
        return QString::fromUtf8(FLastReply);
    }
    // curl's error buffer is only meaningful after a failure, as here, and
    // only when it was written after the last reply.
    const QByteArray buffer(FErrorBuffer);
    if (!buffer.isEmpty() && buffer != FStaleError)
        return QString::fromUtf8(buffer).trimmed();
    return QString::fromUtf8(curl_easy_strerror(code));
}

void TCurlSession::Touch()
{
    FLastActivity = SteadyMs();
}

void TCurlSession::Line(bool incoming, const QByteArray &line)
{
    if (incoming && !FQuitting) {
        Touch();
        FStaleError = QByteArray(FErrorBuffer);
    }
    if (FHook)
        FHook(incoming, line);
    if (FKind == HttpStatus) {
        if (!incoming)
            FLastReply.clear();
        else if (line.startsWith("HTTP/"))
            FLastReply = line;
        return;
    }
    if (!incoming) {
        // The reply to QUIT after a failure must not hide the failing reply.
        if (line.startsWith("QUIT"))
            FQuitting = true;
        else if (!FQuitting)
            FLastReply.clear();
    } else if (!FQuitting && IsReplyCode(line.left(4).trimmed())) {
        FLastReply = line;
    }
}

int TCurlSession::Debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    auto *session = static_cast<TCurlSession *>(self);
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0;
    const bool incoming = type == CURLINFO_HEADER_IN;
    QByteArray text(data, qsizetype(size));
    if (incoming) {
        // A reply can arrive in pieces; only whole lines count.
        text.prepend(session->FPartIn);
        session->FPartIn.clear();
        const qsizetype end = text.lastIndexOf('\n');
        session->FPartIn = text.mid(end + 1);
        text.truncate(end + 1);
    }
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            session->Line(incoming, trimmed);
    }
    return 0;
}

int TCurlSession::XferInfo(void *self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
{
    auto *session = static_cast<TCurlSession *>(self);
    if (session->FContext.Aborted())
        return 1;
    const qint64 now = session->FUpload ? qint64(ulnow) : qint64(dlnow);
    if (now != session->FReported && (now > 0 || session->FReported >= 0)) {
        session->FReported = now;
        session->FContext.Progress(now);
        session->Touch();
    }
    if (session->FIdleTimeout > 0
        && SteadyMs() - session->FLastActivity > qint64(session->FIdleTimeout) * 1000) {
        session->FIdleExpired = true;
        return 1;
    }
    return 0;
}

bool IsSafeCommandText(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}
