#include "delivery/curlsession.h"

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
    : m_context(context)
    , m_kind(kind)
{
    GlobalInit();
    m_curl = curl_easy_init();
    if (!m_curl)
        return;
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(m_curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, &TCurlSession::Debug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &TCurlSession::XferInfo);
    curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, this);
}

TCurlSession::~TCurlSession()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
    for (curl_slist *list : m_lists)
        curl_slist_free_all(list);
}

curl_slist *TCurlSession::AddList(curl_slist *list)
{
    m_lists.push_back(list);
    return list;
}

CURLcode TCurlSession::Perform()
{
    m_errorBuffer[0] = 0;
    m_staleError.clear();
    m_lastReply.clear();
    m_quitting = false;
    m_idleExpired = false;
    Touch();
    return curl_easy_perform(m_curl);
}

QString TCurlSession::ErrorText(CURLcode code) const
{
    if (code == CURLE_OK)
        return {};
    if (code == CURLE_ABORTED_BY_CALLBACK && m_context.Aborted())
        return QStringLiteral("Aborted");
    if (code == CURLE_ABORTED_BY_CALLBACK && m_idleExpired)
        return QStringLiteral("Timed out: nothing from the server for %1 seconds").arg(m_idleTimeout);
    if (m_kind == HttpStatus) {
        // "HTTP/1.1 404 Not Found" -> "404 Not Found"
        const qsizetype blank = m_lastReply.indexOf(' ');
        const QByteArray status = m_lastReply.mid(blank + 1).trimmed();
        if (blank > 0 && status.left(3).toInt() >= 400)
            return QString::fromUtf8(status);
    } else if (IsReplyCode(m_lastReply.left(4).trimmed()) && m_lastReply.left(3).toInt() >= 400) {
        return QString::fromUtf8(m_lastReply);
    }
    // curl's error buffer is only meaningful after a failure, as here, and
    // only when it was written after the last reply.
    const QByteArray buffer(m_errorBuffer);
    if (!buffer.isEmpty() && buffer != m_staleError)
        return QString::fromUtf8(buffer).trimmed();
    return QString::fromUtf8(curl_easy_strerror(code));
}

void TCurlSession::Touch()
{
    m_lastActivity = SteadyMs();
}

void TCurlSession::Line(bool incoming, const QByteArray &line)
{
    if (incoming && !m_quitting) {
        Touch();
        m_staleError = QByteArray(m_errorBuffer);
    }
    if (m_hook)
        m_hook(incoming, line);
    if (m_kind == HttpStatus) {
        if (!incoming)
            m_lastReply.clear();
        else if (line.startsWith("HTTP/"))
            m_lastReply = line;
        return;
    }
    if (!incoming) {
        // The reply to QUIT after a failure must not hide the failing reply.
        if (line.startsWith("QUIT"))
            m_quitting = true;
        else if (!m_quitting)
            m_lastReply.clear();
    } else if (!m_quitting && IsReplyCode(line.left(4).trimmed())) {
        m_lastReply = line;
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
        text.prepend(session->m_partIn);
        session->m_partIn.clear();
        const qsizetype end = text.lastIndexOf('\n');
        session->m_partIn = text.mid(end + 1);
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
    if (session->m_context.Aborted())
        return 1;
    const qint64 now = session->m_upload ? qint64(ulnow) : qint64(dlnow);
    if (now != session->m_reported && (now > 0 || session->m_reported >= 0)) {
        session->m_reported = now;
        session->m_context.Progress(now);
        session->Touch();
    }
    if (session->m_idleTimeout > 0
        && SteadyMs() - session->m_lastActivity > qint64(session->m_idleTimeout) * 1000) {
        session->m_idleExpired = true;
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
