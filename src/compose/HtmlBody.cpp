#include "compose/HtmlBody.h"

#include "compose/MessageAssembly.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <mutex>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

namespace kolporta::compose {

namespace {

// ---- Finding the places where HTML refers to a file ----

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

struct Edit
{
    qsizetype start;
    qsizetype end;
    QString text;
};

// What the tag scanner reports of an attribute: its tag, its name, and where its value
// stands (without its quotes).
struct AttributeValue
{
    QString tag; // lower case
    QString name; // lower case
    qsizetype start;
    qsizetype end;
};

// A tokenizer after HTML's own rules, just enough to find tags and their attribute values:
// comments, doctypes and processing instructions are skipped, and the text of script,
// style, textarea and title elements is not read as markup.
void scanTags(QStringView html, QList<AttributeValue> *attributes,
    QList<std::pair<qsizetype, qsizetype>> *styleBlocks)
{
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype lt = html.indexOf(u'<', i);
        if (lt < 0 || lt + 1 >= n)
            return;
        const QChar next = html[lt + 1];
        if (html.sliced(lt).startsWith(QLatin1String("<!--"))) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), lt + 4);
            i = end < 0 ? n : end + 3;
            continue;
        }
        if (next == u'!' || next == u'?' || next == u'/') {
            const qsizetype end = html.indexOf(u'>', lt + 2);
            i = end < 0 ? n : end + 1;
            continue;
        }
        if (!isAsciiLetter(next)) {
            i = lt + 1;
            continue;
        }
        qsizetype j = lt + 1;
        while (j < n && !isHtmlSpace(html[j]) && html[j] != u'>' && html[j] != u'/')
            ++j;
        const QString tag = html.sliced(lt + 1, j - lt - 1).toString().toLower();
        while (j < n) {
            while (j < n && (isHtmlSpace(html[j]) || html[j] == u'/'))
                ++j;
            if (j >= n)
                break;
            if (html[j] == u'>') {
                ++j;
                break;
            }
            const qsizetype nameStart = j;
            while (j < n && !isHtmlSpace(html[j]) && html[j] != u'>' && html[j] != u'/'
                && (html[j] != u'=' || j == nameStart))
                ++j;
            const QString name = html.sliced(nameStart, j - nameStart).toString().toLower();
            qsizetype k = j;
            while (k < n && isHtmlSpace(html[k]))
                ++k;
            if (k >= n || html[k] != u'=')
                continue; // an attribute without a value
            ++k;
            while (k < n && isHtmlSpace(html[k]))
                ++k;
            qsizetype start = k;
            qsizetype end = k;
            if (k < n && (html[k] == u'"' || html[k] == u'\'')) {
                start = k + 1;
                end = html.indexOf(html[k], start);
                if (end < 0)
                    end = n;
                j = qMin(end + 1, n);
            } else {
                while (end < n && !isHtmlSpace(html[end]) && html[end] != u'>')
                    ++end;
                j = end;
            }
            attributes->append({tag, name, start, end});
        }
        if (tag == QLatin1String("script") || tag == QLatin1String("style")
            || tag == QLatin1String("textarea") || tag == QLatin1String("title")) {
            qsizetype close = j;
            for (;;) {
                close = html.indexOf(QLatin1String("</"), close, Qt::CaseInsensitive);
                if (close < 0 || html.sliced(close + 2).startsWith(tag, Qt::CaseInsensitive))
                    break;
                close += 2;
            }
            if (close < 0)
                close = n;
            if (tag == QLatin1String("style"))
                styleBlocks->append({j, close});
            j = close;
        }
        i = j;
    }
}

// Character references decoded, as a browser reads an attribute value.
QString decodeEntities(QStringView text)
{
    if (!text.contains(u'&'))
        return text.toString();
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype semicolon = text[i] == u'&' ? text.indexOf(u';', i) : -1;
        if (semicolon > i + 1 && semicolon - i <= 32) {
            const QStringView name = text.sliced(i + 1, semicolon - i - 1);
            uint code = 0;
            if (name.startsWith(u'#')) {
                bool ok = false;
                code = name.size() > 1 && (name[1] == u'x' || name[1] == u'X')
                    ? name.sliced(2).toUInt(&ok, 16)
                    : name.sliced(1).toUInt(&ok, 10);
                if (!ok)
                    code = 0;
            } else if (const htmlEntityDesc *entity
                = htmlEntityLookup(reinterpret_cast<const xmlChar *>(name.toUtf8().constData()))) {
                code = entity->value;
            }
            if (code > 0 && code <= 0x10FFFF) {
                const char32_t c = char32_t(code);
                out += QString::fromUcs4(&c, 1);
                i = semicolon;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The file name a reference names when it is a local picture, else an empty string.
QString localPictureName(const QString &reference)
{
    QString ref = reference.trimmed();
    // Any URL scheme but file: means the picture is not ours to carry. A single letter before
    // the colon is a Windows drive, as in C:\Obrazky\logo.png.
    qsizetype colon = 0;
    while (colon < ref.size()
        && (isAsciiLetter(ref[colon])
            || (colon > 0
                && (ref[colon].isDigit() || ref[colon] == u'+' || ref[colon] == u'-'
                    || ref[colon] == u'.'))))
        ++colon;
    if (colon < ref.size() && ref[colon] == u':' && colon >= 2
        && ref.left(colon).compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return {};
    if (ref.startsWith(QLatin1String("//")))
        return {}; // a network-path reference: on another host
    for (const QChar end : {u'?', u'#'}) {
        const qsizetype cut = ref.indexOf(end);
        if (cut >= 0)
            ref.truncate(cut);
    }
    const QString name = ref.mid(qMax(ref.lastIndexOf(u'/'), ref.lastIndexOf(u'\\')) + 1);
    static const char *const extensions[] = {".gif", ".png", ".bmp", ".jpg", ".jpeg"};
    for (const char *extension : extensions) {
        const QLatin1String ext(extension);
        if (name.size() > ext.size() && name.endsWith(ext, Qt::CaseInsensitive))
            return name;
    }
    return {};
}

// The inner spans of every url(...) in a piece of CSS.
QList<std::pair<qsizetype, qsizetype>> cssUrls(QStringView html, qsizetype from, qsizetype to)
{
    QList<std::pair<qsizetype, qsizetype>> spans;
    qsizetype i = from;
    for (;;) {
        const qsizetype at = html.indexOf(QLatin1String("url("), i, Qt::CaseInsensitive);
        if (at < 0 || at + 4 > to)
            return spans;
        i = at + 4;
        if (at > from && (html[at - 1].isLetterOrNumber() || html[at - 1] == u'-'))
            continue;
        while (i < to && isHtmlSpace(html[i]))
            ++i;
        QStringView quote;
        for (const QLatin1String q : {QLatin1String("\""), QLatin1String("'"),
                 QLatin1String("&quot;"), QLatin1String("&#39;")}) {
            if (html.sliced(i, to - i).startsWith(q)) {
                quote = html.sliced(i, q.size());
                break;
            }
        }
        qsizetype start = i + quote.size();
        qsizetype end = quote.isEmpty() ? html.indexOf(u')', start) : html.indexOf(quote, start);
        if (end < 0 || end > to)
            return spans;
        qsizetype stop = end;
        if (quote.isEmpty()) {
            while (stop > start && isHtmlSpace(html[stop - 1]))
                --stop;
        }
        spans.append({start, stop});
        i = end + quote.size();
    }
}

bool isUtf8Name(QStringView charset)
{
    return charset.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0;
}

// ---- The plain-text alternative ----

// Collects text as a browser lays it out, line by line.
// One line of the text before wrapping: a list item's indent and <pre> text included.
struct PlainTextLine
{
    QString text;
    qsizetype indent = 0;
    bool pre = false;
};

constexpr qsizetype kTextWidth = 76;

// Greedy wrapping at blanks; a word longer than a line (a long link) stays whole.
// Continuation lines keep the indent of a list item's text.
void appendWrapped(QString *out, QStringView line, qsizetype indent)
{
    qsizetype column = indent;
    *out += line.first(indent);
    bool empty = true;
    for (const QStringView w : line.sliced(indent).split(u' ', Qt::SkipEmptyParts)) {
        if (!empty && column + 1 + w.size() > kTextWidth) {
            *out += u'\n';
            *out += QString(indent, u' ');
            column = indent;
            empty = true;
        }
        if (!empty) {
            *out += u' ';
            ++column;
        }
        *out += w;
        column += w.size();
        empty = false;
    }
    *out += u'\n';
}

void appendLine(QString *out, const PlainTextLine &line, QStringView text)
{
    if (line.pre || text.size() <= kTextWidth) {
        *out += text;
        *out += u'\n';
    } else {
        appendWrapped(out, text, qMin(line.indent, text.size()));
    }
}

QString finishText(QString text)
{
    while (text.endsWith(QLatin1String("\n\n")))
        text.chop(1);
    return text;
}

// Stand-ins for the macros while a template is read: private-use characters, which no
// blank-collapsing or entity rule touches.
const QString kToMark = QStringLiteral(u"\uE000");
const QString kFromMark = QStringLiteral(u"\uE001");
const QString kSubjectMark = QStringLiteral(u"\uE002");

qsizetype countMarks(QStringView text)
{
    qsizetype n = 0;
    for (const QChar c : text)
        n += c.unicode() >= 0xE000 && c.unicode() <= 0xE002 ? 1 : 0;
    return n;
}

class TextBuilder
{
public:
    struct Mark
    {
        qsizetype lines;
        qsizetype column;
    };

    void text(QStringView s, bool pre)
    {
        qsizetype run = -1; // start of a run of visible characters not yet appended
        for (qsizetype i = 0; i <= s.size(); ++i) {
            const char16_t u = i < s.size() ? s[i].unicode() : 0;
            const bool blank
                = u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f' || u == 0xA0;
            const bool invisible
                = u == 0xAD || u == 0x200B || u == 0x200C || u == 0x200D || u == 0xFEFF;
            if (i < s.size() && !blank && !invisible) {
                if (run < 0) {
                    takeSpace();
                    run = i;
                }
                continue;
            }
            if (run >= 0) {
                m_line += s.sliced(run, i - run);
                run = -1;
            }
            if (i == s.size() || invisible)
                continue;
            if (!pre) {
                m_space = true;
            } else if (u == '\n') {
                endLine(true);
                m_preLine = true;
            } else if (u != '\r') {
                m_line += QChar(u == 0xA0 ? u : u' ');
            }
        }
        if (pre)
            m_preLine = true;
    }
    // A word that stands apart from what is around it, such as "[alt]" or "<url>".
    void word(const QString &w)
    {
        m_space = true;
        text(w, false);
    }
    void space() { m_space = true; }
    // Text at the start of a line, such as a list item's bullet, kept as it is.
    void prefix(const QString &s)
    {
        m_line += s;
        m_indent = s.size();
        m_space = false;
    }
    void lineBreak() { endLine(true); }
    // The end or start of a block: what follows starts a new line, after an empty one when
    // blank is set.
    void block(bool blank)
    {
        endLine(false);
        if (blank)
            m_blank = true;
    }
    Mark mark() const { return {m_lineCount, m_line.size()}; }
    // The text written since the mark; null when it did not all stay on one line.
    QString since(Mark mark) const
    {
        return mark.lines == m_lineCount ? m_line.mid(mark.column).trimmed() : QString();
    }

    // The lines before wrapping, so a text read once can be filled in and wrapped many times.
    QList<PlainTextLine> lines()
    {
        endLine(false);
        return std::move(m_lines);
    }

private:
    void takeSpace()
    {
        if (m_space && m_line.size() > m_indent && !m_line.endsWith(u' '))
            m_line += u' ';
        m_space = false;
    }
    void appendLine(const QString &line)
    {
        m_lines.append({line, m_indent, m_preLine});
        ++m_lineCount;
        m_lastEmpty = line.isEmpty();
    }
    void endLine(bool always)
    {
        if (!m_preLine)
            while (m_line.endsWith(u' '))
                m_line.chop(1);
        m_indent = qMin(m_indent, m_line.size());
        if (m_line.size() <= m_indent && !always) {
            // nothing to write
        } else if (m_line.isEmpty()) {
            // An empty line only between two lines of text, and one at most.
            if (m_lineCount > 0 && !m_lastEmpty)
                appendLine(QString());
            m_blank = false;
        } else {
            if (m_blank && m_lineCount > 0 && !m_lastEmpty)
                appendLine(QString());
            m_blank = false;
            appendLine(m_line);
        }
        m_line.truncate(0);
        m_space = false;
        m_preLine = false;
        m_indent = 0;
    }
    QList<PlainTextLine> m_lines;
    qsizetype m_lineCount = 0;
    bool m_lastEmpty = false;
    QString m_line;
    qsizetype m_indent = 0; // the prefix of a list item at the start of m_line
    bool m_space = false;
    bool m_blank = false;
    bool m_preLine = false;
};

// What an element means for the text.
enum class Kind {
    Other,
    Hidden, // head, style, script, title, template: nothing of it is shown
    Break,
    Image,
    Link,
    List,
    OrderedList,
    Item,
    Cell,
    Pre,
    Paragraph, // a block with an empty line before and after
    Block, // a block on lines of its own
};

Kind kindOf(const char *name)
{
    static const QHash<QByteArray, Kind> kinds = [] {
        QHash<QByteArray, Kind> k;
        for (const char *n : {"head", "style", "script", "title", "template"})
            k.insert(n, Kind::Hidden);
        for (const char *n : {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table", "dl",
                 "hr", "address", "figure", "form"})
            k.insert(n, Kind::Paragraph);
        for (const char *n : {"div", "tr", "dt", "dd", "section", "article", "header", "footer",
                 "nav", "aside", "main", "caption", "center", "fieldset", "figcaption", "body"})
            k.insert(n, Kind::Block);
        k.insert("br", Kind::Break);
        k.insert("img", Kind::Image);
        k.insert("a", Kind::Link);
        k.insert("ul", Kind::List);
        k.insert("ol", Kind::OrderedList);
        k.insert("li", Kind::Item);
        k.insert("td", Kind::Cell);
        k.insert("th", Kind::Cell);
        k.insert("pre", Kind::Pre);
        return k;
    }();
    // The HTML parser gives element names in lower case.
    return kinds.value(QByteArray::fromRawData(name, qstrlen(name)), Kind::Other);
}

QString attribute(const xmlChar **attributes, const char *name)
{
    for (const xmlChar **a = attributes; a && a[0]; a += 2) {
        if (qstricmp(reinterpret_cast<const char *>(a[0]), name) == 0)
            return a[1] ? QString::fromUtf8(reinterpret_cast<const char *>(a[1])).trimmed()
                        : QString();
    }
    return QString();
}

// Turns the parser's events into text, without building a document tree.
class TextReader
{
public:
    explicit TextReader(TextBuilder &out)
        : m_out(out)
    { }

    // The macro marks that reached the text where a filled-in value would read the same:
    // shown, and outside any link (whose text is compared with its target).
    qsizetype marksInText() const { return m_marksInText; }

    void start(const char *name, const xmlChar **attributes)
    {
        const Kind kind = kindOf(name);
        const bool empty = kind == Kind::Break || kind == Kind::Image;
        Open open {kind, {}, {}};
        if (m_hidden > 0 || kind == Kind::Hidden) {
            if (!empty) {
                ++m_hidden;
                open.kind = Kind::Hidden;
                m_open.append(open);
            }
            return;
        }
        switch (kind) {
        case Kind::Break:
            m_out.lineBreak();
            break;
        case Kind::Image: {
            const QString alt = attribute(attributes, "alt");
            if (!alt.isEmpty())
                m_out.word(u'[' + alt + u']');
            break;
        }
        case Kind::Link:
            open.mark = m_out.mark();
            open.href = attribute(attributes, "href");
            break;
        case Kind::List:
        case Kind::OrderedList:
            m_out.block(m_counters.isEmpty());
            m_counters.append(kind == Kind::OrderedList ? 0 : -1);
            break;
        case Kind::Item: {
            m_out.block(false);
            int &counter = m_counters.isEmpty() ? m_looseCounter : m_counters.last();
            m_out.prefix(QString(2 * qMax<qsizetype>(0, m_counters.size() - 1), u' ')
                + (counter >= 0 ? QString::number(++counter) + QStringLiteral(". ")
                                : QStringLiteral("- ")));
            break;
        }
        case Kind::Cell:
            m_out.space();
            break;
        case Kind::Pre:
            m_out.block(true);
            ++m_pre;
            break;
        case Kind::Paragraph:
            m_out.block(true);
            break;
        case Kind::Block:
            m_out.block(false);
            break;
        case Kind::Hidden:
        case Kind::Other:
            break;
        }
        // The parser ends <br> and <img> at once; end() passes them over.
        if (!empty)
            m_open.append(open);
    }

    void end(const char *name)
    {
        const Kind kind = kindOf(name);
        if (kind == Kind::Break || kind == Kind::Image || m_open.isEmpty())
            return;
        const Open open = m_open.takeLast();
        switch (open.kind) {
        case Kind::Hidden:
            --m_hidden;
            break;
        case Kind::Link:
            link(open);
            break;
        case Kind::List:
        case Kind::OrderedList:
            m_counters.removeLast();
            m_out.block(m_counters.isEmpty());
            break;
        case Kind::Item:
            m_out.block(false);
            break;
        case Kind::Cell:
            m_out.space();
            break;
        case Kind::Pre:
            --m_pre;
            m_out.block(true);
            break;
        case Kind::Paragraph:
            m_out.block(true);
            break;
        case Kind::Block:
            m_out.block(false);
            break;
        default:
            break;
        }
    }

    void characters(const xmlChar *text, int length)
    {
        if (m_hidden > 0)
            return;
        const QString s = QString::fromUtf8(reinterpret_cast<const char *>(text), length);
        const bool inLink = std::any_of(
            m_open.cbegin(), m_open.cend(), [](const Open &o) { return o.kind == Kind::Link; });
        if (!inLink)
            m_marksInText += countMarks(s);
        m_out.text(s, m_pre > 0);
    }

private:
    struct Open
    {
        Kind kind;
        TextBuilder::Mark mark;
        QString href;
    };

    void link(const Open &open)
    {
        const QString &href = open.href;
        if (href.isEmpty() || href.startsWith(u'#')
            || href.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
            return;
        // Only a link whose text is not its target already gets the target beside it.
        const QString text = m_out.since(open.mark);
        const QString bare
            = href.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) ? href.mid(7) : href;
        if (text != href && text != bare)
            m_out.word(u'<' + href + u'>');
    }

    TextBuilder &m_out;
    QList<Open> m_open;
    int m_hidden = 0;
    int m_pre = 0;
    QList<int> m_counters; // per open list: the last number, or -1 for bullets
    int m_looseCounter = -1; // an <li> outside any list
    qsizetype m_marksInText = 0;
};

void ensureLibxml()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

} // namespace

QString RewriteHtmlReferences(const QString &html, ContentIds &ids, bool declareUtf8)
{
    ensureLibxml();
    QList<AttributeValue> attributes;
    QList<std::pair<qsizetype, qsizetype>> styleBlocks;
    scanTags(html, &attributes, &styleBlocks);

    QList<Edit> edits;
    auto reference = [&](qsizetype start, qsizetype end) {
        const QString name
            = localPictureName(decodeEntities(QStringView(html).sliced(start, end - start)));
        if (!name.isEmpty())
            edits.append(
                {start, end, QStringLiteral("cid:") + QString::fromLatin1(ids.ofReference(name))});
    };
    for (const AttributeValue &a : std::as_const(attributes)) {
        if (a.name == QLatin1String("src") || a.name == QLatin1String("background")) {
            reference(a.start, a.end);
        } else if (a.name == QLatin1String("style")) {
            for (const auto &[start, end] : cssUrls(html, a.start, a.end))
                reference(start, end);
        } else if (declareUtf8 && a.tag == QLatin1String("meta")) {
            const QStringView value = QStringView(html).sliced(a.start, a.end - a.start);
            if (a.name == QLatin1String("charset")) {
                if (!value.trimmed().isEmpty() && !isUtf8Name(value.trimmed()))
                    edits.append({a.start, a.end, QStringLiteral("utf-8")});
            } else if (a.name == QLatin1String("content")) {
                const qsizetype at
                    = value.indexOf(QLatin1String("charset"), 0, Qt::CaseInsensitive);
                if (at < 0)
                    continue;
                qsizetype i = at + 7;
                while (i < value.size() && isHtmlSpace(value[i]))
                    ++i;
                if (i >= value.size() || value[i] != u'=')
                    continue;
                ++i;
                while (i < value.size() && isHtmlSpace(value[i]))
                    ++i;
                qsizetype end = i;
                while (end < value.size() && !isHtmlSpace(value[end]) && value[end] != u';'
                    && value[end] != u'"' && value[end] != u'\'')
                    ++end;
                if (end > i && !isUtf8Name(value.sliced(i, end - i)))
                    edits.append({a.start + i, a.start + end, QStringLiteral("utf-8")});
            }
        }
    }
    for (const auto &[from, to] : std::as_const(styleBlocks))
        for (const auto &[start, end] : cssUrls(html, from, to))
            reference(start, end);

    if (edits.isEmpty())
        return html;
    std::sort(
        edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    QString out;
    out.reserve(html.size());
    qsizetype copied = 0;
    for (const Edit &edit : std::as_const(edits)) {
        if (edit.start < copied)
            continue;
        out += QStringView(html).sliced(copied, edit.start - copied);
        out += edit.text;
        copied = edit.end;
    }
    out += QStringView(html).sliced(copied);
    return out;
}

namespace {

QList<PlainTextLine> readLines(const QString &html, qsizetype *marksInText = nullptr)
{
    ensureLibxml();
    TextBuilder out;
    TextReader reader(out);
    htmlSAXHandler sax {};
    sax.startElement = [](void *ctx, const xmlChar *name, const xmlChar **attributes) {
        static_cast<TextReader *>(static_cast<htmlParserCtxtPtr>(ctx)->_private)
            ->start(reinterpret_cast<const char *>(name), attributes);
    };
    sax.endElement = [](void *ctx, const xmlChar *name) {
        static_cast<TextReader *>(static_cast<htmlParserCtxtPtr>(ctx)->_private)
            ->end(reinterpret_cast<const char *>(name));
    };
    sax.characters = [](void *ctx, const xmlChar *text, int length) {
        static_cast<TextReader *>(static_cast<htmlParserCtxtPtr>(ctx)->_private)
            ->characters(text, length);
    };
    sax.ignorableWhitespace = sax.characters;
    sax.cdataBlock = sax.characters;

    const QByteArray utf8 = html.toUtf8();
    // The text arrives as Unicode, whatever its own <meta> declaration says.
    htmlParserCtxtPtr ctxt
        = htmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (!ctxt)
        return {};
    ctxt->_private = &reader;
    htmlCtxtUseOptions(ctxt,
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET
            | HTML_PARSE_IGNORE_ENC);
    htmlParseChunk(ctxt, utf8.constData(), int(utf8.size()), 1);
    if (ctxt->myDoc)
        xmlFreeDoc(ctxt->myDoc);
    htmlFreeParserCtxt(ctxt);
    if (marksInText)
        *marksInText = reader.marksInText();
    return out.lines();
}

// Whether every mark stands where the markup around it cannot take a value in: not right
// after "<", "</", "<!" or "<?" (the value would become a tag name), nor inside a character
// reference begun before it ("&", "&#", "&am").
bool marksStandApart(const QString &marked)
{
    for (qsizetype i = 0; i < marked.size(); ++i) {
        if (countMarks(QStringView(marked).sliced(i, 1)) == 0 || i == 0)
            continue;
        const QChar before = marked.at(i - 1);
        if (before == u'<')
            return false;
        if ((before == u'/' || before == u'!' || before == u'?') && i >= 2
            && marked.at(i - 2) == u'<')
            return false;
        qsizetype j = i - 1;
        while (j >= 0 && marked.at(j).unicode() < 0x80
            && (marked.at(j).isLetterOrNumber() || marked.at(j) == u'#'))
            --j;
        if (j >= 0 && marked.at(j) == u'&')
            return false;
    }
    return true;
}

// Whether a value reads the same as text whether it went through the HTML reader or is put
// into its text afterwards: nothing the reader would collapse, drop or take for a macro.
bool insertsAsIs(const QString &value)
{
    if (value.isEmpty() || value.startsWith(u' ') || value.endsWith(u' '))
        return false;
    char16_t previous = 0;
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || u == '%' || u == 0xA0 || u == 0xAD
            || (u >= 0x200B && u <= 0x200D) || u == 0xFEFF || (u >= 0xE000 && u <= 0xE002)
            || (u == ' ' && previous == ' '))
            return false;
        previous = u;
    }
    return true;
}

} // namespace

QString PlainTextOfHtml(const QString &html)
{
    QString text;
    for (const PlainTextLine &line : readLines(html))
        appendLine(&text, line, line.text);
    return finishText(std::move(text));
}

struct PlainTextTemplate::Lines
{
    QList<PlainTextLine> lines;
};

PlainTextTemplate::PlainTextTemplate(const QString &htmlTemplate)
    : m_html(htmlTemplate)
{
    if (!htmlTemplate.contains(QLatin1Char('%')))
        return;
    for (const QString &mark : {kToMark, kFromMark, kSubjectMark})
        if (htmlTemplate.contains(mark))
            return;
    const QString marked = ApplyMacros(htmlTemplate, kToMark, kFromMark, kSubjectMark, false);
    if (marked == htmlTemplate || !marksStandApart(marked))
        return;
    // A mark the reader took into an attribute, a link, a hidden element or a tag stands
    // where the value would change what is read (a link's target compared with its text, a
    // tag name): such a template is read per message.
    qsizetype marksInText = 0;
    QList<PlainTextLine> lines = readLines(marked, &marksInText);
    if (marksInText != countMarks(marked))
        return;
    m_lines = std::make_shared<Lines>(Lines {std::move(lines)});
}

PlainTextTemplate::~PlainTextTemplate() = default;

QString PlainTextTemplate::text(
    const QString &to, const QString &from, const QString &subject) const
{
    if (!m_lines || !insertsAsIs(to) || !insertsAsIs(from) || !insertsAsIs(subject))
        return PlainTextOfHtml(ApplyMacros(m_html, to, from, subject, true));
    QString text;
    for (const PlainTextLine &line : std::as_const(m_lines->lines)) {
        if (!line.text.contains(kToMark) && !line.text.contains(kFromMark)
            && !line.text.contains(kSubjectMark)) {
            appendLine(&text, line, line.text);
            continue;
        }
        QString filled = line.text;
        filled.replace(kToMark, to);
        filled.replace(kFromMark, from);
        filled.replace(kSubjectMark, subject);
        appendLine(&text, line, filled);
    }
    return finishText(std::move(text));
}

} // namespace kolporta::compose
