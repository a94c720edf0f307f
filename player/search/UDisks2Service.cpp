#include "player/search/UDisks2Service.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <cstdio>
#include <filesystem>

namespace velmor {

std::string CUDisks2Service::ObjectPathOf(const std::string& device)
{
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    for (const unsigned char c : std::filesystem::path(device).filename().string()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            path += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02x", c);
            path += hex;
        }
    }
    return path;
}

namespace {

QDBusMessage CallFilesystem(QDBusConnection& bus, const std::string& device, const char* method,
                            const QVariantMap& options)
{
    QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.UDisks2",
                                                    QString::fromStdString(CUDisks2Service::ObjectPathOf(device)),
                                                    "org.freedesktop.UDisks2.Filesystem", method);
    // The desktop may ask the user for a password: wait for the answer.
    m.setInteractiveAuthorizationAllowed(true);
    m << options;
    return bus.call(m, QDBus::Block, 120 * 1000);
}

std::optional<std::string> MountPointOf(const QDBusMessage& mounted, std::string* why)
{
    if (mounted.type() == QDBusMessage::ErrorMessage || mounted.arguments().isEmpty()) {
        if (why) *why = "mount: " + mounted.errorMessage().toStdString();
        return std::nullopt;
    }
    return mounted.arguments().front().toString().toStdString();
}

}  // namespace

std::optional<std::string> CUDisks2Service::MountReadOnly(const std::string& device, std::string* why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (why) *why = "no system bus: " + bus.lastError().message().toStdString();
        return std::nullopt;
    }
    return MountPointOf(CallFilesystem(bus, device, "Mount", {{"options", QString("ro")}}), why);
}

std::optional<std::string> CUDisks2Service::RemountReadOnly(const std::string& device, std::string* why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (why) *why = "no system bus: " + bus.lastError().message().toStdString();
        return std::nullopt;
    }
    const QDBusMessage unmounted = CallFilesystem(bus, device, "Unmount", {});
    if (unmounted.type() == QDBusMessage::ErrorMessage) {
        if (why) *why = "unmount: " + unmounted.errorMessage().toStdString();
        return std::nullopt;
    }
    return MountPointOf(CallFilesystem(bus, device, "Mount", {{"options", QString("ro")}}), why);
}

std::optional<int> CUDisks2Service::OpenForReading(const std::string& device, std::string* why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (why) *why = "no system bus: " + bus.lastError().message().toStdString();
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.UDisks2",
                                                       QString::fromStdString(ObjectPathOf(device)),
                                                       "org.freedesktop.UDisks2.Block", "OpenForBackup");
    // The desktop may ask the user for a password: wait for the answer.
    call.setInteractiveAuthorizationAllowed(true);
    call << QVariantMap{};
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 120 * 1000);
    if (!reply.isValid()) {
        if (why) *why = reply.error().message().toStdString();
        return std::nullopt;
    }
    // The reply's descriptor is closed with it: keep a copy of our own, and
    // only one open for reading.
    const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        if (why) *why = "the service's descriptor could not be kept";
        return std::nullopt;
    }
    if ((::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
        ::close(fd);
        if (why) *why = "the service opened the device for writing; refused";
        return std::nullopt;
    }
    return fd;
}

}  // namespace velmor
