#pragma once
// "Sign in with…" in the account dialog: a provider (two presets or any
// other that speaks OAuth2), its client id, and the button that runs the
// browser sign-in. The tokens go to the keyring and the account's facts to
// the state database as soon as the provider hands them over; the account
// row itself is added by the dialog, with an empty password.

#include "signin/browsersignin.h"
#include "signin/provider.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class SignInPanel final : public QGroupBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignInPanel)

public:
    SignInPanel(const QString &programFolder, QLineEdit *server, QLineEdit *login, QLineEdit *password,
                QWidget *parent = nullptr);

    QComboBox *comboProvider() const { return m_provider; }
    QLineEdit *txtClientId() const { return m_clientId; }
    QLineEdit *txtClientSecret() const { return m_clientSecret; }
    QLineEdit *txtAuthorizationUrl() const { return m_authorizationUrl; }
    QLineEdit *txtTokenUrl() const { return m_tokenUrl; }
    QLineEdit *txtScope() const { return m_scope; }
    QPushButton *cmdSignIn() const { return m_signIn; }
    QLabel *lblSignInStatus() const { return m_status; }

    // A provider is picked (the account needs no password).
    bool usesSignIn() const;
    // The browser's answer is awaited.
    bool isSigningIn() const { return m_browser.isRunning(); }
    // Signed in for exactly these server and login boxes.
    bool isSignedIn() const;
    void reset();
    // For Edit: shows the sign-in the account already has, if any, so it
    // can be kept or run again (which replaces its tokens).
    void showAccount(const QString &server, const QString &login);

    // The provider as the boxes now describe it.
    SignIn::Provider provider() const;

public Q_SLOTS:
    // While a sign-in waits for the browser, the button cancels it.
    void signIn();
    // Ends the wait at once; signInEnded() follows when signIn() has unwound.
    void cancelSignIn();

Q_SIGNALS:
    void signInEnded();

private:
    void providerChosen(int index);
    void forgetSignIn();

    QString m_folder;
    QLineEdit *m_server;
    QLineEdit *m_login;
    QLineEdit *m_password;
    QComboBox *m_provider = nullptr;
    QLineEdit *m_clientId = nullptr;
    QLineEdit *m_clientSecret = nullptr;
    QLineEdit *m_authorizationUrl = nullptr;
    QLineEdit *m_tokenUrl = nullptr;
    QLineEdit *m_scope = nullptr;
    QPushButton *m_signIn = nullptr;
    QLabel *m_status = nullptr;
    // What the sign-in was for; a change of either box needs a new one.
    QString m_signedServer;
    QString m_signedLogin;
    SignIn::BrowserSignIn m_browser;
};
