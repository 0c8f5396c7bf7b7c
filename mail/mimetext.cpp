#include "mail/mimetext.h"

#include "mail/htmltext.h"

#include <QStringDecoder>

#include <gmime/gmime.h>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

GMimeParserOptions *parserOptions()
{
    static GMimeParserOptions *options = [] {
        g_mime_init();
        GMimeParserOptions *o = g_mime_parser_options_new();
        // Spam is rarely well-formed: take encoded words inside words, bare
        // 8-bit headers and broken parameters as a mail reader would.
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_allow_addresses_without_domain(o, TRUE);
        const char *fallback[] = {"UTF-8", "iso-8859-1", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        return o;
    }();
    return options;
}

QString fromGMime(const char *utf8, qsizetype limit)
{
    if (!utf8)
        return QString();
    const qsizetype length = qsizetype(qstrnlen(utf8, size_t(limit) * 4));
    QString text = QString::fromUtf8(utf8, length).left(limit);
    // Unfolding may leave a CR of a CR LF line end behind.
    text.remove(u'\r');
    return text;
}

QString lower(const char *ascii) { return ascii ? QString::fromUtf8(ascii).toLower() : QString(); }

// UTF-8 where valid (an initial BOM kept, as QString::fromUtf8 keeps it),
// Latin-1 otherwise: decoded once, the test being the decoding.
QString fromUtf8OrLatin1(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString::fromLatin1(bytes) : text;
}

// Characters a reader never sees, used to split words invisibly.
QString withoutInvisible(QString text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u == 0x00AD || (u >= 0x200B && u <= 0x200D) || u == 0x2060 || u == 0xFEFF || u == 0;
    });
    return text;
}

} // namespace

class MimeWalker
{
public:
    explicit MimeWalker(MimeText &out)
        : m_out(out)
    {}

    void walk(GMimeObject *object, int depth)
    {
        if (!object)
            return;
        if (depth > MimeText::MaxDepth || m_parts >= MimeText::MaxParts) {
            m_out.m_truncated = true;
            return;
        }
        ++m_parts;
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (!inner)
                return;
            // A forwarded message shows its subject to the reader.
            const QString subject = fromGMime(g_mime_message_get_subject(inner), MimeText::MaxHeaderChars);
            if (!subject.isEmpty())
                addText(subject);
            walk(g_mime_message_get_mime_part(inner), depth + 1);
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart *multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i)
                walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            return;
        }
        if (GMIME_IS_PART(object))
            part(GMIME_PART(object));
    }

private:
    void part(GMimePart *part)
    {
        GMimeObject *object = GMIME_OBJECT(part);
        GMimeContentType *type = g_mime_object_get_content_type(object);
        MimeText::Part info;
        const QString media = type ? lower(g_mime_content_type_get_media_type(type)) : QString();
        const QString subtype = type ? lower(g_mime_content_type_get_media_subtype(type)) : QString();
        info.mimeType = media.isEmpty() ? u"text/plain"_s : media + u'/' + subtype;
        const char *charset = g_mime_object_get_content_type_parameter(object, "charset");
        info.charset = lower(charset).left(64);
        info.fileName = fromGMime(g_mime_part_get_filename(part), 256);
        m_out.m_parts.append(info);
        if (!info.mimeType.startsWith(u"text/"_s))
            return;

        GMimeDataWrapper *content = g_mime_part_get_content(part);
        if (!content)
            return;
        GMimeStream *sink = g_mime_stream_mem_new();
        g_mime_data_wrapper_write_to_stream(content, sink);
        GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink));
        const QByteArray bytes =
            array ? QByteArray(reinterpret_cast<const char *>(array->data), qsizetype(array->len)) : QByteArray();
        g_object_unref(sink);

        QString text = MimeText::toUnicode(bytes, charset ? QByteArray(charset) : QByteArray());
        const bool html = subtype == u"html"_s || (subtype == u"plain"_s && HtmlText::looksLikeHtml(text));
        if (html) {
            QStringList links;
            text = HtmlText::visibleText(text, &links);
            for (const QString &link : std::as_const(links)) {
                if (m_out.m_links.size() < HtmlText::MaxLinks)
                    m_out.m_links.append(link);
            }
        } else if (text.contains(u'\r')) {
            text.replace(u"\r\n"_s, u"\n"_s);
        }
        addText(withoutInvisible(std::move(text)));
    }

    void addText(QString text)
    {
        const qsizetype room = MimeText::MaxTextChars - m_out.m_textChars;
        if (text.size() > room) {
            text.truncate(qMax<qsizetype>(0, room));
            m_out.m_truncated = true;
        }
        if (text.isEmpty())
            return;
        m_out.m_textChars += text.size();
        m_out.m_texts.append(std::move(text));
    }

    MimeText &m_out;
    int m_parts = 0;
};

QString MimeText::toUnicode(const QByteArray &bytes, const QByteArray &charset)
{
    const QByteArray name = charset.trimmed().toLower();
    if (!name.isEmpty() && name != "us-ascii" && name != "ascii") {
        QStringDecoder decoder(name.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    return fromUtf8OrLatin1(bytes);
}

QByteArray MimeText::joinControlText(const QString &headers, const QString &body)
{
    // The control's header block ends in a lone CR; the body follows the
    // blank line. Both are one character per byte.
    QByteArray message = headers.toLatin1();
    while (message.endsWith('\r') || message.endsWith('\n'))
        message.chop(1);
    message += "\r\n\r\n";
    message += body.toLatin1();
    return message;
}

MimeText MimeText::decodeControlText(const QString &headers, const QString &body)
{
    return decode(joinControlText(headers, body));
}

MimeText MimeText::decode(const QByteArray &message, SkipValue skipValue)
{
    MimeText result;
    GMimeParserOptions *options = parserOptions();
    const qsizetype size = qMin(message.size(), MaxInputBytes);
    result.m_truncated = size < message.size();

    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(message.constData(), size_t(size));
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_object_unref(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
    g_mime_parser_set_respect_content_length(parser, FALSE);
    GMimeMessage *parsed = g_mime_parser_construct_message(parser, options);
    g_object_unref(parser);

    if (!parsed) {
        // Nothing the parser could take as a message: the whole input is text.
        result.m_texts.append(withoutInvisible(toUnicode(message.left(qMin(size, MaxTextChars)), QByteArray())));
        return result;
    }

    GMimeHeaderList *list = g_mime_object_get_header_list(GMIME_OBJECT(parsed));
    const int count = list ? g_mime_header_list_get_count(list) : 0;
    if (count > MaxHeaders)
        result.m_truncated = true;
    for (int i = 0; i < count && i < MaxHeaders; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
        Header h{fromGMime(g_mime_header_get_name(header), 256), {}};
        if (!skipValue || !skipValue(h.name))
            h.value = withoutInvisible(fromGMime(g_mime_header_get_value(header), MaxHeaderChars).simplified());
        if (result.m_from.isEmpty() && h.name.compare(u"from"_s, Qt::CaseInsensitive) == 0)
            result.m_from = h.value;
        result.m_headers.append(std::move(h));
    }
    result.m_subject = withoutInvisible(fromGMime(g_mime_message_get_subject(parsed), MaxHeaderChars).simplified());

    MimeWalker(result).walk(g_mime_message_get_mime_part(parsed), 0);
    g_object_unref(parsed);
    return result;
}

} // namespace Scan
