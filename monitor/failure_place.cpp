#include "failure_place.h"

#include <cstring>

namespace nodrel {

QString CauseWord(TFailureCause cause) {
    switch (cause) {
        case TFailureCause::Link:
            return QStringLiteral("link");
        case TFailureCause::Route:
            return QStringLiteral("route");
        case TFailureCause::Name:
            return QStringLiteral("name");
        case TFailureCause::Router:
            return QStringLiteral("router");
        case TFailureCause::Beyond:
            return QStringLiteral("beyond");
        case TFailureCause::Host:
            return QStringLiteral("host");
        case TFailureCause::Unknown:
            return QStringLiteral("unknown");
        case TFailureCause::None:
            break;
    }
    return {};
}

QString PlaceSentence(const TFailurePlace& place, const QString& destination) {
    const QString router =
        place.Gateway ? QString::fromStdString(platform::AddressText(*place.Gateway)) : QString();
    switch (place.Cause) {
        case TFailureCause::Link:
            return QStringLiteral("no network connection: %1 has no link")
                .arg(QString::fromLocal8Bit(
                    place.Interface.data(),
                    qsizetype(strnlen(place.Interface.data(), place.Interface.size()))));
        case TFailureCause::Route:
            return QStringLiteral(
                       "no route to %1: this computer is not connected to a network that "
                       "reaches it")
                .arg(destination);
        case TFailureCause::Name:
            return QStringLiteral("the name service does not answer");
        case TFailureCause::Router:
            return QStringLiteral("your router %1 does not answer either").arg(router);
        case TFailureCause::Beyond:
            return QStringLiteral("your router %1 answers: the fault is past your network")
                .arg(router);
        case TFailureCause::Host:
            return QStringLiteral("%1 is on your own network and does not answer").arg(destination);
        case TFailureCause::Unknown:
            if (!place.Gateway) return QStringLiteral("the fault cannot be placed");
            return QStringLiteral(
                       "your router %1 does not answer echo requests, so the fault cannot be "
                       "placed")
                .arg(router);
        case TFailureCause::None:
            break;
    }
    return {};
}

}  // namespace nodrel
