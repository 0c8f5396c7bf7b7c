#pragma once
// The identity providers an account can sign in with: presets for the two
// big mail services, and a generic one whose addresses the user gives. No
// client id or secret ships: the user registers a client of their own with
// the provider and enters its id.

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace SignIn {

struct Provider
{
    QString id;     // "microsoft", "google", "generic"
    QString name;   // as the dialog lists it
    QString server; // the account's mail server cell; empty for the generic one
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString scope;
    QString clientId;
    // Only for providers that want one even from a desktop client; such a
    // "secret" is no secret (it ships in every copy of a client), so it is
    // kept with the other facts.
    QString clientSecret;

    static QList<Provider> presets();
    static std::optional<Provider> preset(const QString &id);
    bool isGeneric() const { return id == QLatin1String("generic"); }
};

} // namespace SignIn
