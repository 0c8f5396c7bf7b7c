// A stand-in for "Train from folder" that never ends: it learns batch after
// batch of generated messages, one transaction each, until it is killed.
// tst_interruptedlearning runs it as a child.
//
//   learndriver <folder> <first batch> <messages per batch>
//
// Batch b holds messages that all carry the words "common" and "tagB"; even
// batches are spam, odd ones ham.

#include "scan/learnedfilter.h"
#include "config/statedatabase.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    StateDatabase db(args.at(1));
    Scan::LearnedFilter filter(db);
    if (!db.open() || !filter.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(db.errorText()));
        return 1;
    }
    const int size = args.at(3).toInt();
    for (int b = args.at(2).toInt();; ++b) {
        QList<Scan::LearnedFilter::Example> batch;
        for (int i = 0; i < size; ++i) {
            QByteArray body = "common tag" + QByteArray::number(b);
            for (int k = 0; k < 60; ++k)
                body += " w" + QByteArray::number(b) + 'x' + QByteArray::number(i) + 'x' + QByteArray::number(k);
            batch.append({"Subject: batch\r\n\r\n" + body + "\r\n",
                          b % 2 ? Scan::LearnedFilter::Label::Ham : Scan::LearnedFilter::Label::Spam});
        }
        std::printf("begin %d\n", b);
        std::fflush(stdout);
        if (!filter.learn(batch)) {
            std::fprintf(stderr, "%s\n", qPrintable(filter.errorText()));
            return 1;
        }
        std::printf("end %d\n", b);
        std::fflush(stdout);
    }
}
