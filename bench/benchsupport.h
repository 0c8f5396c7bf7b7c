#pragma once
// Small helpers shared by the benchmark programs: the mailbox options of the
// workers, process CPU and memory figures, and the one machine-readable line
// each worker prints for the driver ("result key=value ...").

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <sys/resource.h>

#include <cstdio>

namespace Bench {

// --host, --port, --user and --password: the mailbox a worker talks to.
struct AccountOptions
{
    explicit AccountOptions(const QString &portHelp = QStringLiteral("server port"),
                            const QString &defaultUser = QString())
        : port(QStringLiteral("port"), portHelp, QStringLiteral("port"))
        , user(QStringLiteral("user"), QStringLiteral("mailbox user"), QStringLiteral("user"), defaultUser)
    {}
    void addTo(QCommandLineParser &parser) const { parser.addOptions({host, port, user, password}); }

    const QCommandLineOption host{QStringLiteral("host"), QStringLiteral("server address"), QStringLiteral("host"),
                                  QStringLiteral("127.0.0.1")};
    const QCommandLineOption port;
    const QCommandLineOption user;
    const QCommandLineOption password{QStringLiteral("password"), QStringLiteral("mailbox password"),
                                      QStringLiteral("password")};
};

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One "Vm...:" figure of /proc/self/status in KB, 0 when unknown.
inline long statusKb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Peak resident set size of this process so far, in KB. VmHWM, not
// ru_maxrss: the latter carries the parent's peak across exec, so a worker
// started by the driver would report the driver's.
inline long peakRssKb() { return statusKb("VmHWM:"); }

// Current resident set size in KB.
inline long currentRssKb() { return statusKb("VmRSS:"); }

// Prints "result a=1 b=2" on stdout; the driver reads the last such line.
inline void printResult(const QList<QPair<const char *, double>> &values)
{
    std::printf("result");
    for (const auto &[key, value] : values)
        std::printf(" %s=%.6f", key, value);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace Bench
