#include "wizard/qt/display_probe.h"

#include <dlfcn.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>

namespace wizard::qtview {

namespace {

// The interface every platform plugin of Qt 6 declares in its metadata.
constexpr char kPlatformInterface[] = "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface";

QString Environment(const char* name) {
    return qEnvironmentVariable(name);
}

// Whether a plugin's metadata names this platform among its keys.
bool ServesPlatform(const QJsonObject& metaData, const QString& name) {
    if (!metaData.value(QStringLiteral("IID"))
             .toString()
             .startsWith(QLatin1String(kPlatformInterface))) {
        return false;
    }
    const QJsonArray keys = metaData.value(QStringLiteral("MetaData"))
                                .toObject()
                                .value(QStringLiteral("Keys"))
                                .toArray();
    for (const QJsonValue& key : keys) {
        if (key.toString().compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// The directories Qt looks for platform plugins in, as it finds them itself: the one named by
// QT_QPA_PLATFORM_PLUGIN_PATH, then "platforms" below QT_PLUGIN_PATH's directories, Qt's own
// plugin directory and the program's directory.
QStringList PluginDirectories() {
    QStringList directories;
    const QString platformPath = Environment("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!platformPath.isEmpty()) {
        directories << platformPath;
    }
    QStringList roots =
        Environment("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
    roots << QLibraryInfo::path(QLibraryInfo::PluginsPath)
          << QFileInfo(QStringLiteral("/proc/self/exe"))
                 .symLinkTarget()
                 .section(QLatin1Char('/'), 0, -2);
    for (const QString& root : roots) {
        directories << root + QStringLiteral("/platforms");
    }
    return directories;
}

// Read from the plugins' metadata only: nothing is loaded.
bool PluginInstalled(const QString& name) {
    for (const QStaticPlugin& plugin : QPluginLoader::staticPlugins()) {
        if (ServesPlatform(plugin.metaData(), name)) {
            return true;
        }
    }
    for (const QString& directory : PluginDirectories()) {
        for (const QFileInfo& file : QDir(directory).entryInfoList(QDir::Files)) {
            if (ServesPlatform(QPluginLoader(file.absoluteFilePath()).metaData(), name)) {
                return true;
            }
        }
    }
    return false;
}

// A function of a library that Qt's platform plugin links as well; null when either is
// missing. The library stays loaded: the plugin is about to use it.
template <typename Function>
Function Symbol(void* library, const char* name) {
    return library != nullptr ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
}

void* Library(const char* file) {
    return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

// Connects to the X display of DISPLAY and disconnects again: what the xcb plugin does first.
bool XDisplayAnswers() {
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    void* xcb = Library("libxcb.so.1");
    auto connect = Symbol<Connect>(xcb, "xcb_connect");
    auto hasError = Symbol<HasError>(xcb, "xcb_connection_has_error");
    auto disconnect = Symbol<Disconnect>(xcb, "xcb_disconnect");
    if (connect == nullptr || hasError == nullptr || disconnect == nullptr) {
        return false;
    }
    void* connection = connect(nullptr, nullptr);
    const bool answers = connection != nullptr && hasError(connection) == 0;
    disconnect(connection);  // also for a connection that failed, as libxcb asks
    return answers;
}

// The same for the Wayland display of WAYLAND_DISPLAY (or wayland-0). A socket handed over in
// WAYLAND_SOCKET can be used once only, so it is left to Qt untried.
bool WaylandDisplayAnswers() {
    if (!Environment("WAYLAND_SOCKET").isEmpty()) {
        return true;
    }
    using Connect = void* (*)(const char*);
    using Disconnect = void (*)(void*);
    void* wayland = Library("libwayland-client.so.0");
    auto connect = Symbol<Connect>(wayland, "wl_display_connect");
    auto disconnect = Symbol<Disconnect>(wayland, "wl_display_disconnect");
    if (connect == nullptr || disconnect == nullptr) {
        return false;
    }
    void* display = connect(nullptr);
    if (display == nullptr) {
        return false;
    }
    disconnect(display);
    return true;
}

// Why the platform of one entry cannot start; empty when it can.
QString WhyNot(const QString& entry) {
    const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    if (!PluginInstalled(name)) {
        return QStringLiteral("%1: no such Qt platform plugin is installed").arg(name);
    }
    if (name == QLatin1String("xcb")) {
        const QString display = Environment("DISPLAY");
        if (display.isEmpty()) {
            return QStringLiteral("xcb: DISPLAY is unset");
        }
        if (!XDisplayAnswers()) {
            return QStringLiteral("xcb: the X display \"%1\" cannot be reached").arg(display);
        }
    } else if (name.startsWith(QLatin1String("wayland")) && !WaylandDisplayAnswers()) {
        const QString display = Environment("WAYLAND_DISPLAY");
        return QStringLiteral("%1: the Wayland display \"%2\" cannot be reached")
            .arg(name, display.isEmpty() ? QStringLiteral("wayland-0") : display);
    }
    return QString();
}

// What Qt would try, in order.
QStringList Entries() {
    const QString chosen = Environment("QT_QPA_PLATFORM");
    if (!chosen.isEmpty()) {
        return chosen.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    const bool waylandSession =
        Environment("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
    if (waylandSession) {
        return {QStringLiteral("wayland"), QStringLiteral("xcb")};
    }
    QStringList entries{QStringLiteral("xcb")};
    if (!Environment("WAYLAND_DISPLAY").isEmpty()) {
        entries << QStringLiteral("wayland");
    }
    return entries;
}

}  // namespace

std::string UsablePlatform(std::string* reason) {
    QStringList reasons;
    for (const QString& entry : Entries()) {
        const QString why = WhyNot(entry);
        if (why.isEmpty()) {
            return entry.trimmed().toStdString();
        }
        reasons << why;
    }
    if (reasons.isEmpty()) {
        reasons << QStringLiteral("QT_QPA_PLATFORM names no platform");
    }
    if (reason != nullptr) {
        *reason = reasons.join(QStringLiteral("; ")).toStdString();
    }
    return std::string();
}

}  // namespace wizard::qtview
