// A stand-in for "Train from folder" that the test kills: it writes a
// Maildir folder of many batches of generated messages and learns it
// through the trainer, whose batches end by bytes here: every message has
// the same size and a batch's byte budget holds exactly <messages per
// batch> of them. tst_interruptedlearning runs it as a child.
//
//   learndriver <folder> <first batch> <messages per batch>
//
// Batch b holds messages that all carry the words "common" and "tagB"; the
// run learns them as spam when first batch / 1000 is even, as ham otherwise.

#include "scan/spamtrainer.h"
#include "state/statedatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Batches = 8; // more than the test lets it learn
constexpr int MessageBytes = 1024;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const int first = args.at(2).toInt();
    const int size = args.at(3).toInt();
    const QString mail = QDir(args.at(1)).filePath(u"mail%1"_s.arg(first));
    if (!QDir().mkpath(mail + u"/cur"_s))
        return 1;
    for (int b = first; b < first + Batches; ++b) {
        for (int i = 0; i < size; ++i) {
            QByteArray message = "Subject: batch\r\n\r\ncommon tag" + QByteArray::number(b);
            for (int k = 0; k < 60; ++k)
                message += " w" + QByteArray::number(b) + 'x' + QByteArray::number(i) + 'x' + QByteArray::number(k);
            message += "\r\n";
            if (message.size() > MessageBytes)
                return 1;
            message += QByteArray(MessageBytes - message.size(), ' ');
            QFile file(mail + u"/cur/%1-%2"_s.arg(b, 6, 10, QChar(u'0')).arg(i, 6, 10, QChar(u'0')));
            if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
                return 1;
        }
    }

    StateDatabase db(args.at(1));
    Scan::SpamTrainer trainer(args.at(1), db);
    if (!db.open() || !trainer.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(db.errorText() + trainer.errorText()));
        return 1;
    }
    trainer.setBatchLimits(size * Batches, qint64(size) * MessageBytes);
    const auto label = (first / 1000) % 2 ? Scan::SpamTrainer::Label::Ham : Scan::SpamTrainer::Label::Spam;
    int b = first;
    std::printf("begin %d\n", b);
    std::fflush(stdout);
    trainer.learnFolder(mail, label, [&](int) {
        std::printf("end %d\nbegin %d\n", b, b + 1);
        std::fflush(stdout);
        ++b;
        return true;
    });
    std::fprintf(stderr, "%s\n", qPrintable(trainer.errorText()));
    return 1; // killed before the end, always
}
