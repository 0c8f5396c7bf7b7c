#pragma once
// Published interface of the tarnpostctl control library (its "type library").
// Hosts include this header only; they never include the control's own headers.

#include <QString>
#include <QtGlobal>

namespace Tarnpostctl {

inline constexpr char LibraryName[] = "Zoruradorivodad";
inline constexpr char LibraryHelpString[] = "Tarnpost 4.1.1";
inline constexpr int LibraryVersionMajor = 1;
inline constexpr int LibraryVersionMinor = 0;
inline constexpr int LibraryLocale = 0x409;
inline constexpr char LibraryId[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E901}";
inline constexpr char ProgId[] = "Zoruradorivodad.Tarnpost";

// Fixed identifiers, never changed between versions.
inline constexpr char ClassIdTarnpost[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E902}";
inline constexpr char ClassIdPropertyPage[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E903}";
inline constexpr char InterfaceIdTarnpost[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E904}";
inline constexpr char InterfaceIdTarnpostEvents[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E905}";
inline constexpr char InterfaceIdPropertyPage[] = "{6D1C2E48-5A0B-4E8F-9C3D-2B7A41F0E906}";

// The library file a host loads from its own folder.
inline constexpr char LibraryFileName[] = "libtarnpostctl.so";

// Member ids of the dispatch interface _Tarnpost.
enum MemberId : qint32 {
    DispIdStatus = 0x68030017,
    DispIdStatusText = 0x68030016,
    DispIdError = 0x68030015,
    DispIdErrorText = 0x68030014,
    DispIdPOPHostname = 0x68030013,
    DispIdPOPPort = 0x68030012,
    DispIdPOPUsername = 0x68030011,
    DispIdPOPPassword = 0x68030010,
    DispIdConnectResponse = 0x6803000F,
    DispIdPOPTimeout = 0x6803000E,
    DispIdMsgCount = 0x6803000D,
    DispIdMsgNumber = 0x6803000C,
    DispIdMsgUniqueID = 0x6803000B,
    DispIdMsgHeaders = 0x6803000A,
    DispIdMsgSubject = 0x68030009,
    DispIdMsgFrom = 0x68030008,
    DispIdMsgReturnPath = 0x68030007,
    DispIdMsgReplyTo = 0x68030006,
    DispIdMsgDate = 0x68030005,
    DispIdMsgContents = 0x68030004,
    DispIdMsgSizeInK = 0x68030003,
    DispIdVersion = 0x68030002,
    DispIdDebugMode = 0x68030001,
    DispIdDebugFile = 0x68030000,
    DispIdConnect = 0x6003001E,
    DispIdDisconnect = 0x6003001F,
    DispIdResetDeletedMsgs = 0x60030020,
    DispIdDeleteCurrentMsg = 0x60030021,
    DispIdGetOtherHeader = 0x60030022,
    DispIdGetStringValueOfProperty = 0x60030023,
    DispIdSetCurrentMsg = 0x60030024,
    DispIdRetrieveCurrentMsg = 0x60030025,
    DispIdWriteCurrentMsgToFile = 0x60030026,
    // Added after the original members, which keep their ids and meaning.
    // POPSecurity (get, let; 16-bit, not persisted): one of Security below.
    DispIdPOPSecurity = 0x68030018,
    // MaxMessageSize (get, let; 32-bit, not persisted): the largest message,
    // in bytes, that RetrieveCurrentMsg holds in memory; a larger one is left
    // on the server (ErrorMessageTooLarge). WriteCurrentMsgToFile streams to
    // disk and takes a message of any size. At least 1.
    DispIdMaxMessageSize = 0x68030019,
    // Prefetch (get, let; boolean, not persisted; off by default): with it on,
    // a session's first message fetches the whole UIDL and LIST tables, and
    // RETR for the following messages is sent ahead within a byte budget
    // (several at once only when CAPA lists RFC 2449 PIPELINING, else one
    // command at a time). A table longer than a line per message allows is
    // read to its end and dropped, and the messages are asked for one by one.
    // Replies, error codes and the session's rules stay the same.
    DispIdPrefetch = 0x6803001A,
    // QuitConfirmed (get only; boolean, not persisted): true only when the
    // last Disconnect sent QUIT and the server answered it "+OK", so that the
    // deletions marked in that session were made. Connect sets it false.
    // Disconnect itself reports nothing about the QUIT reply in Error.
    DispIdQuitConfirmed = 0x6803001B,
    // AccessToken (get, let; text, not persisted; empty by default): an OAuth2
    // access token. With one set, Connect asks CAPA and signs in with AUTH
    // OAUTHBEARER (RFC 7628) when the CAPA SASL list offers it, else with AUTH
    // XOAUTH2 (also when CAPA is refused or lists no SASL mechanisms); USER and
    // PASS are not sent. Empty: the USER and PASS login as before. The debug
    // log shows the token masked, as it does the password.
    DispIdAccessToken = 0x6803001C,
    // GetUniqueIDList (method; string): the session's whole UIDL table, one
    // "number id" line per message (CR LF between lines), as MsgUniqueID would
    // give each id. With Prefetch on it fetches the tables if the session has
    // not yet, but sends no RETR ahead. Empty without Prefetch, when the
    // server refused UIDL, or when not connected.
    DispIdGetUniqueIDList = 0x60030027,
    // SkipMsg (method; intMsgNumber by value): the host will not retrieve this
    // message in this session, so it is never fetched ahead. Retrieving it
    // anyway still works, as without Prefetch. Out of range: Error 20; not
    // connected: Error 19.
    DispIdSkipMsg = 0x60030028,
};

// A reply line (greeting, status line, one-line reply) may hold this many
// bytes before its CR LF; a longer one closes the session (ErrorReplyTooLong).
inline constexpr qint32 MaxReplyLine = 65536;
inline constexpr qint32 DefaultMaxMessageSize = 104857600;

// Values of POPSecurity. STLS is required once asked for: a server that does
// not offer it, or a failed handshake, fails Connect; there is no fall-back
// to clear text.
enum Security : qint16 {
    SecurityNone = 0, // clear text (the default)
    SecurityTls = 1,  // TLS from the first byte (port 995 by convention)
    SecurityStls = 2, // clear text upgraded with STLS before USER
};

// Values of Status.
enum Status : qint16 {
    StatusDisconnected = 0,
    StatusConnected = 1,
};

// Values of Error; ErrorText says the same in words.
enum ErrorCode : qint16 {
    ErrorNone = 0,
    ErrorGreetingTimeout = 11, // accepted, but no greeting before the timeout
    ErrorConnectTimeout = 12,  // "Timeout waiting on connect request"
    ErrorAlreadyConnected = 13,
    ErrorUserRefused = 14, // "-ERR" to USER
    ErrorPassRefused = 15, // "-ERR" to PASS
    ErrorBlankHostname = 16,
    ErrorBlankUsername = 17,
    ErrorStatRefused = 18,
    ErrorSetMsgDisconnected = 19,
    ErrorMsgNumberOutOfRange = 20,
    ErrorUidlRefused = 21,
    ErrorTopRefused = 22,
    ErrorRetrieveDisconnected = 23,
    ErrorRetrieveNoMessage = 24, // current message is 0
    ErrorRetrRefused = 25,
    ErrorDeleRefused = 26,
    ErrorDeleteDisconnected = 27,
    ErrorRsetRefused = 28,
    ErrorResetDisconnected = 29,
    ErrorListRefused = 30,
    ErrorFile = 31,           // "File error: " + reason
    ErrorTlsHandshake = 32,   // "TLS handshake failed: " + reason
    ErrorNoStls = 33,         // "Server does not offer STLS"
    ErrorTlsUnavailable = 34, // "TLS is not available on this system"
    // "The server sent a reply line longer than 65536 bytes. Connection closed"
    ErrorReplyTooLong = 35,
    // "Message is larger than the limit of " MaxMessageSize " bytes; it was left
    // on the server". Refused before RETR when LIST shows the size (the session
    // stays open); a reply held in memory that outgrows the limit closes the
    // session.
    ErrorMessageTooLarge = 36,
    // No longer raised: Disconnect leaves the QUIT reply out of Error, and
    // QuitConfirmed tells whether the server took the QUIT. Kept so that the
    // number is never given another meaning.
    ErrorQuitUnanswered = 37,
    // A retrieved message does not match the size LIST gave for it (counted
    // with CR LF line ends, or with one octet per line end), or the server sent
    // a reply that nothing asked for: its replies are out of step with the
    // commands. The connection is closed at once, without QUIT, so nothing
    // marked for deletion in the session is deleted. A message that outgrows
    // its listed size is cut off as soon as it does. "The message does not
    // match the size the server listed for it" or "The server sent a reply
    // that nothing asked for", then "; the connection was closed without QUIT,
    // so nothing marked for deletion in this session was deleted".
    ErrorSizeMismatch = 38,
    // Signing in with AccessToken failed: the server answered AUTH "-ERR"
    // (after an error challenge, which is answered as RFC 7628 says and whose
    // JSON is kept as the server's reason), or CAPA or AUTH went unanswered.
    // "Sign-in with the access token failed (AUTH XOAUTH2): " + the server's
    // last reply; with an error challenge "(AUTH XOAUTH2, the server's reason:
    // " + its JSON + "): ". The connection is closed.
    ErrorAuthRefused = 39,
    // "The server offers no OAuth2 sign-in (XOAUTH2 or OAUTHBEARER): " + its
    // CAPA SASL line. Only with AccessToken; the connection is closed.
    ErrorNoOAuthMechanism = 40,
};

// MsgUniqueID, MsgHeaders and MsgContents hold this after a failed
// retrieval; MsgUniqueID then gives the made-up id below instead.
inline constexpr QLatin1StringView UnableToRetrieve{"Unable to retrieve"};

// The MsgUniqueID of a message the server gave no id for: user, host and
// message number, which is unique only within one session.
inline QString madeUpUniqueId(const QString &user, const QString &host, qint32 number)
{
    return user + u':' + host + u':' + QString::number(number);
}

// Member ids of the event interface __Tarnpost.
enum EventId : qint32 {
    DispIdMsgReadStatus = 1,
};

} // namespace Tarnpostctl
