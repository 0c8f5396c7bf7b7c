#include "signin/provider.h"

using namespace Qt::StringLiterals;

namespace SignIn {

QList<Provider> Provider::presets()
{
    Provider microsoft;
    microsoft.id = u"microsoft"_s;
    microsoft.name = u"Microsoft (Outlook.com, Microsoft 365)"_s;
    microsoft.server = u"pop3s://outlook.office365.com"_s;
    // "common" takes personal and work accounts alike.
    microsoft.authorizationUrl = QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/authorize"_s);
    microsoft.tokenUrl = QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/token"_s);
    // Without offline_access there is no refresh token, and every scan would need the browser.
    microsoft.scope = u"https://outlook.office.com/POP.AccessAsUser.All offline_access"_s;

    Provider google;
    google.id = u"google"_s;
    google.name = u"Google (Gmail)"_s;
    google.server = u"pop3s://pop.gmail.com"_s;
    google.authorizationUrl = QUrl(u"https://accounts.google.com/o/oauth2/v2/auth"_s);
    google.tokenUrl = QUrl(u"https://oauth2.googleapis.com/token"_s);
    google.scope = u"https://mail.google.com/"_s;

    Provider generic;
    generic.id = u"generic"_s;
    generic.name = u"Another provider"_s;

    return {microsoft, google, generic};
}

std::optional<Provider> Provider::preset(const QString &id)
{
    for (const Provider &provider : presets()) {
        if (provider.id == id)
            return provider;
    }
    return std::nullopt;
}

} // namespace SignIn
