#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

namespace bwtest {

// Stands in for the desktop's handlers of the URL schemes it is registered
// for (QDesktopServices::setUrlHandler), recording what would have opened.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QStringList urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url.toString()); }
};

} // namespace bwtest
