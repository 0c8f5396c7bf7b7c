#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct VCardContact
{
    QString displayName;
    QString email;
    friend bool operator==(const VCardContact &, const VCardContact &) = default;
};

// Reads the contacts of a vCard file (2.1, 3.0 or 4.0; one or many cards).
// Any byte input is accepted: what is not a card is skipped.
class VCardReader final
{
public:
    // Cards in file order. A card gives its display name from FN, else N, else
    // ORG, else its address; its address is its first non-empty EMAIL. Cards
    // with neither a name nor an address are left out.
    static QList<VCardContact> parse(const QByteArray &data);

private:
    struct Property
    {
        QByteArray name;              // upper case, group prefix removed
        QList<QByteArray> parameters; // as written, e.g. "TYPE=work"
        QByteArray value;             // raw, still encoded
    };

    static QList<QByteArray> logicalLines(const QByteArray &data);
    static bool parseProperty(const QByteArray &line, Property &property);
    static QString decodeText(const Property &property);
    static QList<QString> splitComponents(const QString &value);
    static QString unescape(QStringView text);
    static QString structuredName(const QString &value);
};
