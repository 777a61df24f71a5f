#include "metrics_settings.h"

#include "ip_address.h"

namespace nodrel {

namespace {

const QString kTextfileName = QStringLiteral("metricstextfile");
const QString kListenName = QStringLiteral("metricslisten");
const QString kDefaultListenAddress = QStringLiteral("127.0.0.1");
constexpr uint16_t kDefaultListenPort = 9374;

}  // namespace

TMetricsSettings LoadMetricsSettings(SettingsStore& store) {
    TMetricsSettings settings;
    if (!store.Open(kSettingsKeyPath)) return settings;
    settings.TextfileFolder = store.ReadString(kTextfileName).value_or(QString());
    settings.ListenAddress = store.ReadString(kListenName).value_or(QString());
    store.Close();
    return settings;
}

std::optional<TListenAddress> ParseListenAddress(const QString& text, QString* failure) {
    QString address = text;
    QString port;
    platform::IpAddress parsed;
    // A bare IPv6 address has colons of its own: only a whole that is no address has a port.
    if (!platform::ParseAddressLiteral(text.toStdString(), parsed)) {
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon >= 0 && !text.endsWith(u']')) {
            address = text.left(colon);
            port = text.mid(colon + 1);
        }
    }
    if (address.isEmpty()) address = kDefaultListenAddress;
    if (address.startsWith(u'[') && address.endsWith(u']')) address = address.mid(1).chopped(1);
    bool portRead = port.isEmpty();
    const uint portNumber = portRead ? kDefaultListenPort : port.toUInt(&portRead);
    // IPv4 only dotted in four parts: the resolver's older forms would take "9374" for 0.0.36.166.
    const bool addressRead =
        platform::ParseAddressLiteral(address.toStdString(), parsed) &&
        (parsed.isIpv6 || platform::AddressText(parsed) == address.toStdString());
    if (!addressRead || !portRead || portNumber == 0 || portNumber > 65535) {
        if (failure) {
            *failure = QStringLiteral(
                           "\"%1\" is no ADDRESS:PORT (an IPv4 address, or an IPv6 address in "
                           "brackets, and a port from 1 to 65535)")
                           .arg(text);
        }
        return std::nullopt;
    }
    return TListenAddress{QString::fromStdString(platform::AddressText(parsed)),
                          uint16_t(portNumber)};
}

}  // namespace nodrel
