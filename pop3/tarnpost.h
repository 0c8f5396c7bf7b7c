#pragma once
// The POP3 client control. Hosts reach it only through the automation
// interface (Automation::AutomationObject); the C++ members below are the
// control's own implementation and are used by its tests.

#include "platform/automation/dispatch.h"
#include "pop3/include/tarnpostctl.h"
#include "pop3/listedsizecheck.h"
#include "pop3/replypipeline.h"
#include "pop3/streamframer.h"
#include "pop3/tarnpostctl_export.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QFile;
class QLabel;

namespace Tarnpostctl {

class SocketAdapter;
class DebugLog;

class TARNPOSTCTL_EXPORT Tarnpost final : public QWidget, public Automation::AutomationObject
{
    Q_OBJECT
    Q_INTERFACES(Automation::AutomationObject)
    Q_DISABLE_COPY_MOVE(Tarnpost)

public:
    explicit Tarnpost(QWidget *parent = nullptr); // UserControl_Initialize
    ~Tarnpost() override;                         // UserControl_Terminate

    // ---- Session (connection core) ----
    qint16 Status() const { return intpropertystatus; }
    QString StatusText() const;
    qint16 Error() const { return intpropertyerror; }
    QString ErrorText() const;
    QString POPHostname() const { return m_POPHostname; }
    void setPOPHostname(const QString &value) { m_POPHostname = value; }
    qint32 POPPort() const { return m_POPPort; }
    void setPOPPort(qint32 value) { m_POPPort = value; }
    QString POPUsername() const { return m_POPUsername; }
    void setPOPUsername(const QString &value) { m_POPUsername = value; }
    QString POPPassword() const { return m_POPPassword; }
    void setPOPPassword(const QString &value) { m_POPPassword = value; }
    // 0 clear text, 1 TLS from the first byte, 2 STLS (see tarnpostctl.h).
    qint16 POPSecurity() const { return m_POPSecurity; }
    bool setPOPSecurity(qint16 value);
    // The largest message held in memory, in bytes (at least 1); a larger one
    // is left on the server with ErrorMessageTooLarge. Streaming into a file
    // has no such limit.
    qint32 MaxMessageSize() const { return m_MaxMessageSize; }
    bool setMaxMessageSize(qint32 value);
    // Prefetching (off by default, not persisted): at a session's first
    // message the whole UIDL and LIST tables are fetched, and RETR for the
    // messages that follow is sent ahead within PrefetchBudget bytes.
    bool Prefetch() const { return m_Prefetch; }
    void setPrefetch(bool value) { m_Prefetch = value; }
    // Replies in flight fill a fast link with a long round trip (1 Gbit/s
    // over 60 ms holds 7.5 MB); the scan holds no more than this besides.
    static constexpr qint64 PrefetchBudget = 8 * 1024 * 1024;
    // The last Disconnect sent QUIT and the server answered "+OK": the
    // session's deletions were made. False again from the next Connect.
    bool QuitConfirmed() const { return m_quitConfirmed; }
    // An OAuth2 access token (not persisted): with one set, Connect signs in
    // with AUTH OAUTHBEARER or XOAUTH2 instead of USER and PASS.
    QString AccessToken() const { return m_AccessToken; }
    void setAccessToken(const QString &value) { m_AccessToken = value; }
    qint16 POPTimeout() const { return m_POPTimeout; }
    void setPOPTimeout(qint16 value) { m_POPTimeout = value; }
    QString ConnectResponse() const { return m_ConnectResponse; }
    bool DebugMode() const { return m_DebugMode; }
    void setDebugMode(bool value) { m_DebugMode = value; }
    QString DebugFile() const { return m_DebugFile; }
    void setDebugFile(const QString &value) { m_DebugFile = value; }
    QString Version() const;
    void setVersion(const QVariant &value); // shows "Property is Read-only"

    void Connect();
    void Disconnect();
    // The socket's state number (0 closed, 6 connecting, 7 connected, 8 closing, 9 error).
    int SocketState() const;

    // ---- Message operations ----
    qint32 MsgCount() const { return m_MsgCount; }
    qint16 MsgNumber() const { return m_MsgNumber; }
    QString MsgUniqueID() const;
    QString MsgHeaders();
    QString MsgSubject();
    QString MsgFrom();
    QString MsgReturnPath();
    QString MsgReplyTo();
    QString MsgDate();
    QString MsgContents() const { return m_MsgContents; }
    qint32 MsgSizeInK();

    void SetCurrentMsg(qint16 &intMsgNumber);
    void RetrieveCurrentMsg();
    void WriteCurrentMsgToFile(QString &strFileToWriteTo);
    void DeleteCurrentMsg();
    void ResetDeletedMsgs();
    QString GetOtherHeader(const QString &strHeaderToSearchFor);
    QString GetStringValueOfProperty(QString &strPropertyToReturn);
    // The UIDL table as "number id" lines, and a message the prefetch passes over.
    QString GetUniqueIDList();
    void SkipMsg(qint16 intMsgNumber);

    // ---- Automation surface ----
    QString classId() const override;
    QList<Automation::MemberInfo> typeInfo() const override;
    Automation::InvokeResult invoke(qint32 memberId, Automation::InvokeKind kind, QVariantList &args,
                                    QVariant *result = nullptr) override;
    void advise(Automation::EventSink *sink) override;
    void initNew() override;                                // UserControl_InitProperties
    void load(const Automation::PropertyBag &bag) override; // UserControl_ReadProperties
    void save(Automation::PropertyBag &bag) const override; // UserControl_WriteProperties
    QWidget *widget() override { return this; }

    // Count of live objects of this library, for DllCanUnloadNow.
    static int liveObjects();
    // Counts one live object of this library for as long as it exists.
    class LiveObject final
    {
    public:
        LiveObject();
        ~LiveObject();
        Q_DISABLE_COPY_MOVE(LiveObject)
    };
    // The control cannot use its host's message boxes, so tests answer its one
    // box (the Version let) here; an empty hook restores the real box.
    static void setMessageBoxHookForTesting(std::function<void(const QString &text)> hook);

private:
    LiveObject m_liveObject;
    void showReadOnlyMessage();

Q_SIGNALS:
    // Progress of a message download. lngMsgTotalInK refers to the control's
    // own size member: a handler that assigns it changes MsgSizeInK.
    void MsgReadStatus(qint32 &lngMsgReadInK, qint32 &lngMsgTotalInK, qint16 &intPercentCompleted);

protected:
    void resizeEvent(QResizeEvent *event) override; // UserControl_Resize

private:
    // ---- Command transport ----
    QString funSendDataForSingleLineResponse(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout);
    QString funSendDataForMultiLineResponse(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout);
    QString funSendDataForStreamingToAFile(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout);
    void wsk1_DataArrival(qint64 bytesTotal);
    void wsk1_Close();
    void wsk1_Error(int Number, const QString &Description);
    void wsk1_TlsFailed(const QString &reason);
    void wsk1_Encrypted();
    // STLS after the greeting; false (with Error set) when the upgrade failed.
    bool startTls();
    // The one way commands reach the socket: a command goes out at once,
    // behind any held back, all in one write.
    void sendCommand(SocketAdapter &socket, const QString &strCommand);
    // A RETR sent ahead waits here until enough are gathered for one write
    // (see sendAhead), until another command goes out, or until a wait.
    void holdCommand(const QByteArray &command, qint64 replyCost);
    void sendHeldCommands(SocketAdapter &socket);
    // Every wait for a reply starts here: one-line or multi-line, its overall
    // limit counted from now (m_replySize, set by the caller, is the size LIST
    // announced, -1 when unknown).
    void beginReply(bool multiLine);
    // After each arrival: flags a reply line or message beyond its cap.
    void checkReplySize();
    // Ends a reply that went over a cap or is out of step with the commands:
    // Error 35, 36 or 38, the session closed without QUIT.
    QString refuseReply(const QString &where);
    // A connected session has bytes waiting that no command asked for.
    bool repliesOutOfStep() const;
    // Refuses a message whose LIST size is over MaxMessageSize (session kept).
    bool refuseListedSize();
    // Credentials go out as the UTF-8 bytes of the text, one character per byte.
    static QString wireText(const QString &text);
    // A one-line command of an open session: refusedError on a refusal,
    // disconnectedError without a session.
    void sessionCommand(const QString &command, ErrorCode refusedError, ErrorCode disconnectedError);
    void subflushdata();
    static QString funbytestostring(const QByteArray &bytes, qsizetype from, qsizetype to);
    void subwritebytestofile(const QByteArray &bytes, qsizetype from, qsizetype to);
    static QString funappendtofile(const QString &fileName, const QString &text);
    static void subdeletefile(const QString &fileName, int *errNumber = nullptr);
    void reportReadStatus(qint32 lngReadInK);
    void frameStreamPacket(const char *packet, qsizetype size);
    void openStreamFile(const QByteArray &statusLine);
    void closeStreamFile();
    // The one wait of the control: blocks in the event loop until finished()
    // holds (true) or timedOut() does (false). Both are tested after every
    // wake, finished first; WaitStart::Test tests finished before the first
    // block too.
    enum class WaitStart { Block, Test };
    bool waitUntil(const std::function<bool()> &finished, const std::function<bool()> &timedOut = {},
                   WaitStart start = WaitStart::Test);
    bool timeoutPassed(qint16 intTimeout) const;
    // What a wait returns when no reply came in time.
    static const QString &timeoutText();

    // ---- Session ----
    // Fails the running method: Error becomes code. detail is what ErrorText
    // adds to the code's text: the server's reply or the file error, or for
    // ErrorTlsHandshake why the handshake failed.
    void setError(ErrorCode code) { intpropertyerror = code; }
    void setError(ErrorCode code, const QString &detail);
    // The steps of Connect; each one that fails sets Error.
    bool checkConnectSettings();
    void openConnection();
    bool waitForConnection(); // the connection and its greeting
    void readGreeting();
    void login(); // USER and PASS, or AUTH with the access token; then STAT
    // CAPA, then AUTH OAUTHBEARER or XOAUTH2 (tarnpostsasl.cpp); false once it
    // failed, with Error set and the session closed.
    bool saslLogin();
    bool saslFailed(ErrorCode code, const QString &step, const QString &detail);
    // Sends visible + secret; the debug log shows visible and a mask.
    QString sendSecret(const QString &visible, const QString &secret);
    // One login command; false once it failed, with the session closed.
    bool loginStep(const QString &command, ErrorCode refusedError, QString &reply);
    void subcloseconnection(SocketAdapter &socket);
    void subresetvaluesondisconnect();
    static bool isBlank(const QString &text);

    // ---- Prefetching (tarnpostprefetch.cpp) ----
    // The one place a command learns whether the session prefetches: its
    // reply taken behind the commands already out, or answered as without
    // the mode; nothing when the session does not prefetch.
    enum class ReplyForm { SingleLine, MultiLine, StreamToFile };
    std::optional<QString> pipelinedReply(SocketAdapter &socket, const QString &command, qint16 &timeout,
                                          ReplyForm form);
    // An arrival or a close the prefetching session handles itself.
    bool pipelineTakesArrival();
    bool pipelineHoldsClose();
    // The next RETR's reply is read straight into strDataBuffer.
    bool readsReplyDirectly() const;
    // The session moves to a message, deleted one, reset its deletions, quits.
    void dropRepliesBefore(qint32 message);
    void noteDeleted(qint32 message);
    void noteSkipped(qint32 message);
    void forgetDeleted();
    void stopPrefetching();
    enum class PipeEnd { Done, Timeout, Closed, Broken };
    // CAPA, then the UIDL and LIST tables; false when a reply went over a cap.
    bool startPipeline();
    // A command of a prefetching session, sent behind those already out; its
    // reply in the form a single wait gives it. Nothing when no reply is
    // outstanding: then the command goes out as without the mode.
    std::optional<QString> pipelineCommand(const QString &command, bool multiLine, qint64 sizeHint,
                                           const QString &where);
    // With raw, a complete reply's bytes go there and only its status line
    // comes back as text.
    QString pipelineResult(quint64 id, bool multiLine, const QString &where, qint32 message = 0,
                           QByteArray *raw = nullptr);
    ReplyPipeline::Reply waitForPipelined(quint64 id, qint32 message, PipeEnd &end);
    // Waits until every command sent has its reply (Done) or the session ended.
    PipeEnd drainPipeline();
    void readPipelined(bool waiting);
    void collectPipelined();
    void sendAhead();
    void dropPrefetched(qint32 below, qint32 only = 0);
    void dropCurrentReply();
    // The current message's reply when it was sent ahead (or taken already):
    // its bytes in raw, and as reply its status line (or, when it failed, what
    // the wait gives).
    bool takePrefetched(QString &reply, QByteArray &raw);
    bool writePrefetched(const QString &path, QString &status);
    bool uidFromTable(qint32 number, QString &uid) const;
    // The id as the table holds it, without a copy; nothing when uidFromTable would fail.
    std::optional<QLatin1StringView> uidInTable(qint32 number) const;
    bool sizeFromTable(qint32 number);
    void indexTable(const QByteArray &table, bool uids);
    void checkClose();
    void applyClose();
    void resetPipeline();

    // ---- Debug log ----
    void subdebuglog(const QString &text);
    // Logs "start <name>" where it is made and "end <name>" when its scope is
    // left, by whichever return.
    class DebugTrace final
    {
    public:
        DebugTrace(Tarnpost &control, QLatin1StringView name);
        ~DebugTrace();
        Q_DISABLE_COPY_MOVE(DebugTrace)

    private:
        Tarnpost &m_control;
        QLatin1StringView m_name;
    };
    QString fungetsocketstate() const;

    // ---- Message operations ----
    void subRetrieveHeaders();
    void subRetrieveSize();
    QString fungetheader(const QString &name);
    QString funcheckfilename(const QString &path);
    void subresetmsgvalues();
    // A RETR reply that came ahead becomes the message's header block and body.
    void takeMessageText(const QByteArray &raw, qsizetype contentStart);
    // Between messages: the text buffer of the last one is kept for the next.
    void keepContentsBuffer();

    // Raises MsgReadStatus to Qt receivers and to an advised event sink. With
    // readIsSize the read count is the size member itself (both by reference).
    void fireMsgReadStatus(qint32 lngReadInK, qint16 intPercent, bool readIsSize = false);

    SocketAdapter *wsk1 = nullptr;
    DebugLog *m_debugLog = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    Automation::EventSink *m_eventSink = nullptr;

    // Transport
    QString strDataBuffer;
    bool blnStreamToFile = false;
    QString strStreamFileName;
    QString strStreamFirstLine;
    bool blnStreamFirstPacket = false;
    bool blnInDataArrival = false;
    QElapsedTimer dtmLastActivity; // monotonic; timeouts count whole seconds of silence
    bool blnReportReadStatus = false;
    qint32 lngBytesRead = 0;
    qint32 lngMsgSizeInK = 0;
    QString strSocketErrorText;
    QString strTlsErrorText; // reason of the last failed TLS handshake
    // Streamed reply: status line bytes until its CR LF, then up to four bytes
    // held back until they are known not to start the terminator.
    StreamFramer m_framer;
    QByteArray m_packet; // reused for every read from the socket
    std::unique_ptr<QFile> m_streamFile;
    QString m_streamFileError; // first file error of the current stream, empty when none
    qint64 m_streamContentBytes = 0;

    // Caps of a reply: its lines and the message it carries.
    // SizeMismatch and Unasked: the replies are out of step with the commands.
    enum class ReplyOverflow { None, LineTooLong, MessageTooLarge, SizeMismatch, Unasked };
    static ReplyOverflow overflowOf(ReplyPipeline::Outcome outcome);
    ReplyOverflow m_replyOverflow = ReplyOverflow::None; // cleared with the buffer
    bool m_replyRefused = false;                         // the last wait ended over a cap
    bool m_multiLineReply = false;
    qsizetype m_statusLineEnd = -1; // first CR LF in strDataBuffer, -1 until seen
    qsizetype m_lineScanned = 0;
    QElapsedTimer m_replyStarted; // the overall limit of one reply counts from its command
    qint64 m_replySize = -1;
    // The LIST size the next RETR's message must match, -1 when unknown; taken
    // by the exchange that sends it.
    qint64 m_retrListed = -1;
    ListedSizeCheck m_sizeCheck; // of the reply being received, outside the pipeline
    qsizetype m_sizeFed = 0;     // of strDataBuffer
    bool m_unasked = false;      // the last out-of-step error was a reply nothing asked for
    qint32 m_refusedLimit = 0;   // MaxMessageSize when the last message was refused

    // Session
    qint16 intpropertystatus = StatusDisconnected;
    qint16 intpropertyerror = ErrorNone; // an ErrorCode, or the number of a socket error
    QString strLastErrorReply;
    QString m_saslStep;               // the sign-in step ErrorAuthRefused names
    qsizetype m_traceSecretFrom = -1; // the next command is masked from here on in the debug log
    bool m_quitConfirmed = false;
    qint32 lngSizeInOctets = 0;
    QString m_POPHostname;
    qint32 m_POPPort = 110;
    QString m_POPUsername;
    QString m_POPPassword;
    QString m_AccessToken;
    qint16 m_POPTimeout = 10;
    qint16 m_POPSecurity = 0;
    QString m_ConnectResponse;
    bool m_DebugMode = false;
    QString m_DebugFile;

    // Message state
    qint32 m_MsgCount = 0;
    qint16 m_MsgNumber = 0;
    QString m_MsgUniqueID;
    QString m_MsgHeaders;
    QString m_MsgContents;
    QString m_spareContents; // the last message's text buffer, for the next
    bool blnHeadersRetrieved = false;
    bool blnSizeRetrieved = false;
    bool blnNoSuchMsg = false;
    qint64 m_listedSize = -1; // LIST size of the selected message, -1 until known
    qint32 m_MaxMessageSize = DefaultMaxMessageSize;

    // Prefetching
    bool m_Prefetch = false;
    bool m_pipeTried = false;   // this session's tables were asked for
    bool m_pipeStarted = false; // the session's commands go through m_pipe
    bool m_pipeEnding = false;  // QUIT is on its way: nothing more is kept
    bool m_pipeWaiting = false;
    bool m_pipeDirect = false; // a command is answered as without the mode
    bool m_serverPipelining = false;
    // The server closed while replies that arrived were still to be taken:
    // the session ends when the caller needs the connection again.
    bool m_peerClosed = false;
    ReplyPipeline m_pipe;
    std::optional<ReplyPipeline::Reply> m_pipeReply;     // of the command being waited for
    std::map<qint32, ReplyPipeline::Reply> m_prefetched; // arrived RETR replies by message
    qint64 m_prefetchedBytes = 0;                        // held in m_prefetched
    qint64 m_budgetUsed = 0;                             // RETRs sent ahead and not yet taken or dropped
    qint32 m_nextPrefetch = 1;
    QByteArray m_uidTable;
    QList<qint32> m_uidLine;   // where each message's line starts in m_uidTable, -1 when missing
    QList<qint64> m_listSize;  // LIST size of each message; kNoSize when missing
    QSet<qint32> m_touched;    // messages DELE went out for since the last RSET
    QSet<qint32> m_skipped;    // messages the host will not retrieve (SkipMsg)
    QByteArray m_heldCommands; // RETRs sent ahead and not yet written, in order
    qint64 m_heldCost = 0;     // their part of the budget
    QByteArray m_currentReply; // the current message's prefetched reply, once taken
    qint32 m_currentReplyMessage = 0;
    qint64 m_currentReplyCost = 0; // its part of m_budgetUsed
};

} // namespace Tarnpostctl
