#include "app/startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QByteArray platformForSession(const QByteArray &qpaPlatform, const QByteArray &waylandDisplay,
                              const QByteArray &sessionType)
{
    if (!qpaPlatform.isEmpty())
        return {};
    if (waylandDisplay.isEmpty() && sessionType != "wayland")
        return {};
    // Wayland itself only when there is no XWayland to run under.
    return "xcb;wayland";
}

void choosePlatform()
{
    const QByteArray platform = platformForSession(qgetenv("QT_QPA_PLATFORM"),
                                                   qgetenv("WAYLAND_DISPLAY"),
                                                   qgetenv("XDG_SESSION_TYPE"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

bool installQtJapanese()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
