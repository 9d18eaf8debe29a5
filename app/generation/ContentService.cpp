#include "generation/ContentService.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

namespace zelvo::ContentService {

namespace {

class ContentProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        if (isLoopback(query.url()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return QNetworkProxyFactory::systemProxyForQuery(query);
    }
};

} // namespace

QUrl defaultBase()
{
    return QUrl(QStringLiteral("https://cdn.kavri.example/"));
}

QUrl signUpPage()
{
    return QUrl(QStringLiteral("https://kavri.example/key"));
}

QString host()
{
    return QStringLiteral("cdn.kavri.example");
}

QUrl join(const QUrl& base, QStringView relative)
{
    QUrl url(base);
    url.setQuery(QString());
    url.setFragment(QString());
    QString path = url.path(QUrl::FullyEncoded); // keeps escapes such as %2F as they were
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    while (relative.startsWith(QLatin1Char('/')))
        relative = relative.mid(1);
    url.setPath(path + relative.toString(), QUrl::TolerantMode);
    return url;
}

bool isLoopback(const QUrl& url)
{
    const QString name = url.host();
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

QNetworkAccessManager* network()
{
    // Confined to the main thread, so the lazy creation needs no lock. Never
    // torn down: deleting it at exit, while Qt's network thread may still be
    // closing connections, strands that thread's objects.
    static QNetworkAccessManager* manager = [] {
        auto* m = new QNetworkAccessManager;
        m->setProxyFactory(new ContentProxyFactory); // the manager owns it
        m->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
        return m;
    }();
    return manager;
}

} // namespace zelvo::ContentService
