// Signing in with an OAuth2 access token: CAPA picks the mechanism, then
// AUTH OAUTHBEARER (RFC 7628) or AUTH XOAUTH2 over POP3's AUTH (RFC 5034).
#include "pop3/include/tarnpostctl.h"
#include "pop3/socketadapter.h"
#include "pop3/tarnpost.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {

const QString kOAuthBearer = u"OAUTHBEARER"_s;
const QString kXOAuth2 = u"XOAUTH2"_s;
// RFC 5034: an AUTH line with its initial response may hold this many octets,
// CR LF included; a longer response goes after the server's empty challenge.
constexpr qsizetype kMaxAuthLine = 255;
// The response that fits the mechanism, at most one error challenge, and the
// cancel that follows a further challenge.
constexpr int kMaxChallenges = 3;

bool isChallenge(const QString &reply) { return reply.startsWith(u'+') && !reply.startsWith("+OK"_L1); }

QString withoutLineEnd(QString line)
{
    while (line.endsWith(u'\n') || line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

// The mechanisms of CAPA's "SASL" line, upper-cased; nothing when there is none.
std::optional<QStringList> saslMechanisms(const QString &capa)
{
    const QStringList lines = capa.split("\r\n"_L1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QStringList words = lines.at(i).split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().compare("SASL"_L1, Qt::CaseInsensitive) != 0)
            continue;
        words.removeFirst();
        for (QString &word : words)
            word = word.toUpper();
        return words;
    }
    return std::nullopt;
}

// RFC 7628's saslname: "," and "=" escaped.
QByteArray saslName(const QString &user)
{
    QByteArray name = user.toUtf8();
    name.replace("=", "=3D");
    name.replace(",", "=2C");
    return name;
}

} // namespace

bool Tarnpost::saslFailed(ErrorCode code, const QString &step, const QString &detail)
{
    subcloseconnection(*wsk1);
    m_saslStep = step;
    setError(code, detail);
    return false;
}

QString Tarnpost::sendSecret(const QString &visible, const QString &secret)
{
    m_traceSecretFrom = visible.size();
    QString reply = funSendDataForSingleLineResponse(*wsk1, visible + secret, m_POPTimeout);
    m_traceSecretFrom = -1;
    return reply;
}

bool Tarnpost::saslLogin()
{
    const DebugTrace trace(*this, "funsasllogin"_L1);
    const QString capa = funSendDataForMultiLineResponse(*wsk1, u"CAPA"_s, m_POPTimeout);
    if (m_replyRefused)
        return false;
    // A refused CAPA is no answer about AUTH; silence or a close ends the login.
    if (!capa.startsWith("+OK"_L1) && !capa.startsWith("-ERR"_L1))
        return saslFailed(ErrorAuthRefused, u"CAPA"_s, capa);
    // OAUTHBEARER is the standard one and says why it refuses; XOAUTH2 is the
    // one every large provider takes, so it is also tried when CAPA lists no
    // SASL mechanisms at all.
    QString mechanism = kXOAuth2;
    if (const std::optional<QStringList> offered = capa.startsWith("+OK"_L1) ? saslMechanisms(capa) : std::nullopt) {
        if (offered->contains(kOAuthBearer))
            mechanism = kOAuthBearer;
        else if (!offered->contains(kXOAuth2))
            return saslFailed(ErrorNoOAuthMechanism, {}, QString("SASL "_L1 + offered->join(u' ')).trimmed());
    }

    const QByteArray bearer = "auth=Bearer " + m_AccessToken.toUtf8() + "\x01\x01";
    QByteArray response;
    if (mechanism == kOAuthBearer) // RFC 7628 makes the port optional; the host is enough for a server to check
        response = "n,a=" + saslName(m_POPUsername) + ",\x01host=" + m_POPHostname.trimmed().toUtf8() + '\x01' + bearer;
    else
        response = "user=" + m_POPUsername.toUtf8() + '\x01' + bearer;
    const QString encoded = QString::fromLatin1(response.toBase64());
    const QString command = "AUTH "_L1 + mechanism;
    bool responded = command.size() + 1 + encoded.size() + 2 <= kMaxAuthLine;
    QString reply = responded ? sendSecret(command + u' ', encoded)
                              : funSendDataForSingleLineResponse(*wsk1, command, m_POPTimeout);
    bool refusedByChallenge = false;
    QString reason;
    for (int round = 0; round < kMaxChallenges && !m_replyRefused && isChallenge(reply); ++round) {
        if (!responded) {
            reply = sendSecret({}, encoded);
            responded = true;
            continue;
        }
        if (refusedByChallenge) {
            reply = funSendDataForSingleLineResponse(*wsk1, u"*"_s, m_POPTimeout); // cancels the exchange
            break;
        }
        const QByteArray payload = withoutLineEnd(reply.mid(1)).trimmed().toLatin1();
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
        reason = decoded ? QString::fromUtf8(*decoded) : QString::fromLatin1(payload);
        refusedByChallenge = true;
        // RFC 7628: an error challenge is answered with a lone ^A; XOAUTH2
        // servers take an empty response.
        reply =
            funSendDataForSingleLineResponse(*wsk1, mechanism == kOAuthBearer ? u"AQ=="_s : QString(), m_POPTimeout);
    }
    if (m_replyRefused)
        return false;
    if (reply.startsWith("+OK"_L1))
        return true;
    return saslFailed(ErrorAuthRefused, reason.isEmpty() ? command : command + ", the server's reason: "_L1 + reason,
                      withoutLineEnd(reply));
}

} // namespace Tarnpostctl
