// SPDX-License-Identifier: MIT
#include "SessionBus.h"

#include "store/Logging.h"

#include <QFile>

#include <sys/stat.h>

namespace vantor {

using namespace Qt::StringLiterals;

QDBusConnection announcedSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return QDBusConnection::sessionBus();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat info {
    };
    const QString socket = runtime + u"/bus"_s;
    if (!runtime.isEmpty() && ::stat(QFile::encodeName(socket).constData(), &info) == 0 &&
        S_ISSOCK(info.st_mode))
        return QDBusConnection::connectToBus(u"unix:path="_s + socket, u"vantor_session_bus"_s);
    qCInfo(lcDesktop, "no session bus announced: no desktop notifications, light colours unless "
                      "VANTOR_COLOR_SCHEME says otherwise");
    return QDBusConnection(u"vantor_no_bus"_s);
}

} // namespace vantor
