#pragma once
// The OAuth2 authorization-code flow with PKCE: the desktop's browser shows
// the provider's sign-in page, which sends its answer to a listener of ours
// on http://127.0.0.1:PORT/, and the code is exchanged for tokens. Waits for
// all of it in a local event loop, so the window keeps painting.

#include "signin/provider.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

class QEventLoop;

namespace SignIn {

struct Tokens
{
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt; // invalid when the provider gave no lifetime
};

class BrowserSignIn final
{
    Q_DISABLE_COPY_MOVE(BrowserSignIn)

public:
    BrowserSignIn() = default;

    // Hands the sign-in page to a browser; false when none could be started.
    using Opener = std::function<bool(const QUrl &)>;
    // The desktop's browser unless a test puts a stand-in in its place.
    static void setOpener(Opener opener);
    static Opener opener();

    struct Result
    {
        bool ok = false;
        Tokens tokens;
        QString error;
    };

    // The user has this long to sign in before the listener gives up.
    static constexpr int DefaultTimeoutMs = 5 * 60 * 1000;

    static inline const QString CancelledText = QStringLiteral("Sign-in cancelled.");

    // loginHint names the mailbox, so the page offers that account.
    Result run(const Provider &provider, const QString &loginHint, int timeoutMs = DefaultTimeoutMs);
    // Ends the wait of run() at once (the user gave up, or the dialog is
    // closing): the listener closes, no code is exchanged, run() says
    // CancelledText. Does nothing when no run is under way.
    void cancel();
    bool isRunning() const { return m_loop != nullptr; }

    // PKCE (RFC 7636): a random verifier, and its S256 challenge.
    static QByteArray newVerifier();
    static QByteArray challengeFor(const QByteArray &verifier);

private:
    QEventLoop *m_loop = nullptr; // while run() waits
    bool m_cancelled = false;
};

} // namespace SignIn
