#pragma once
// The maker's content service: its fixed addresses, the joining of paths onto
// its base URL, and the one network manager that talks to it (the key check,
// the update feed and the model files). The model server has a manager of its
// own; nothing here is shared with it.
#include <QString>
#include <QStringView>
#include <QUrl>

class QNetworkAccessManager;

namespace zelvo::ContentService {

// The service's base URL when KAVRI_CDN does not name another.
QUrl defaultBase();
// The web page where a free key is obtained.
QUrl signUpPage();
// The service's host name as the texts name it ("couldn't reach …",
// "checking with …"). Fixed: it does not follow KAVRI_CDN.
QString host();

// `base` with `relative` ("weights/manifest", "zelvo/latest.json") appended as
// path components: "https://h/cdn" and "https://h/cdn/" both give
// "https://h/cdn/weights/manifest". The base's query and fragment are dropped.
// Unlike QUrl::resolved, the base's last segment is kept. Any thread.
QUrl join(const QUrl& base, QStringView relative);

// Whether `url` names this machine (127.0.0.0/8, ::1, "localhost"). Any thread.
bool isLoopback(const QUrl& url);

// The network manager of every request to the service, created on first use
// and kept for the rest of the process. Requests to a loopback address never
// go through a proxy; others use the system's proxy settings. Redirects are
// followed only within the same origin, so the key never reaches another host.
// Main thread.
QNetworkAccessManager* network();

} // namespace zelvo::ContentService
