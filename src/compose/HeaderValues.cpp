#include "compose/HeaderValues.h"

#include "compose/Charsets.h"

namespace kolporta::compose {

namespace {

// RFC 2047: an encoded word is at most 75 characters.
constexpr qsizetype kEncodedWordLength = 75;
// RFC 5322: lines should stay within 78 characters and must within 998.
constexpr qsizetype kFoldWidth = 78;
constexpr qsizetype kLineLimit = 998;
// A word longer than this could not share a line with the header's name.
constexpr qsizetype kLongestPlainWord = 900;

bool isPrintableAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    return true;
}

// Whether a byte may stand as itself in a Q-encoded word: in a phrase only the characters
// RFC 2047 section 5 (3) allows, in unstructured text every printable but "=", "?" and "_".
bool isQSafe(uchar b, bool phrase)
{
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9'))
        return true;
    if (phrase)
        return b == '!' || b == '*' || b == '+' || b == '-' || b == '/';
    return b > 0x20 && b < 0x7F && b != '=' && b != '?' && b != '_';
}

// The text as Q-encoded words of at most 75 characters, split between characters so that
// every word decodes on its own.
QList<QByteArray> encodedWords(const QString &text, const QByteArray &charset, bool phrase)
{
    const QByteArray prefix = "=?" + charset + "?Q?";
    const qsizetype room = kEncodedWordLength - prefix.size() - 2;
    QList<QByteArray> words;
    QByteArray payload;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            length = 2;
        QByteArray piece;
        for (char c : EncodeInCharset(text.mid(i, length), charset)) {
            const auto b = uchar(c);
            if (b == ' ')
                piece += '_';
            else if (isQSafe(b, phrase))
                piece += c;
            else
                piece += '=' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        }
        i += length - 1;
        if (!payload.isEmpty() && payload.size() + piece.size() > room) {
            words.append(prefix + payload + "?=");
            payload.clear();
        }
        payload += piece;
    }
    if (!payload.isEmpty())
        words.append(prefix + payload + "?=");
    return words;
}

// The text as one encoded word, Q or B whichever is shorter; empty when neither fits.
QByteArray singleEncodedWord(const QString &text, const QByteArray &charset)
{
    const QList<QByteArray> q = encodedWords(text, charset, true);
    if (q.size() == 1)
        return q.first();
    const QByteArray b = "=?" + charset + "?B?" + EncodeInCharset(text, charset).toBase64() + "?=";
    return b.size() <= kEncodedWordLength ? b : QByteArray();
}

// A word of a display name that may stand as it is between encoded words: printable ASCII
// without the characters that end or quote a phrase.
bool isPlainPhraseWord(QStringView word)
{
    if (word.isEmpty() || word.startsWith(u'.') || word.contains(QLatin1String("=?")))
        return false;
    for (QChar c : word) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F
            || QLatin1String("()<>[]:;@\\,\"").contains(c))
            return false;
    }
    return true;
}

// Whether a name may go as it is: words of atext, each apart by one blank.
bool isAtomPhrase(QStringView name)
{
    for (const QStringView word : name.split(u' ')) {
        if (!isPlainPhraseWord(word) || word.contains(u'.'))
            return false;
    }
    return true;
}

bool needsEncoding(QStringView word)
{
    return !isPrintableAscii(word) || word.contains(QLatin1String("=?"))
        || word.size() > kLongestPlainWord;
}

} // namespace

HeaderTokens UnstructuredTokens(const QString &text)
{
    // Blanks at either end carry nothing, and a line must not end in one.
    QStringView trimmed(text);
    while (trimmed.startsWith(u' '))
        trimmed = trimmed.sliced(1);
    while (trimmed.endsWith(u' '))
        trimmed.chop(1);
    const QList<QStringView> words = trimmed.split(u' ');
    HeaderTokens tokens;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (!needsEncoding(words.at(i))) {
            // Never fold before an empty word: a run of blanks folded on its own would
            // leave a line of blanks only, which RFC 5322 forbids.
            tokens.append({words.at(i).toLatin1(),
                words.at(i).isEmpty() ? HeaderToken::Never : HeaderToken::Free});
            continue;
        }
        // Blanks between two encoded words vanish when they are decoded, so words that both
        // need encoding are encoded together with whatever blanks stand between them.
        qsizetype last = i;
        for (qsizetype next = i + 1; next < words.size(); ++next) {
            if (words.at(next).isEmpty())
                continue;
            if (!needsEncoding(words.at(next)))
                break;
            last = next;
        }
        QString run;
        for (qsizetype k = i; k <= last; ++k)
            run += (k > i ? QStringLiteral(" ") : QString()) + words.at(k).toString();
        for (const QByteArray &word : encodedWords(run, PlainTextCharset(text), false))
            tokens.append({word, HeaderToken::Free});
        i = last;
    }
    return tokens;
}

HeaderTokens MailboxTokens(const QString &name, const QByteArray &address, bool quoteWhenNeeded)
{
    if (name.isEmpty())
        return {{address, HeaderToken::Free}};
    HeaderTokens tokens;
    if (quoteWhenNeeded && name.size() < 900 && isAtomPhrase(name)) {
        tokens.append({name.toLatin1(), HeaderToken::Free});
    } else if (isPrintableAscii(name)) {
        QByteArray quoted = "\"";
        for (char c : name.toLatin1()) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        quoted += '"';
        // One token, so the name is folded only when it cannot fit a line at all.
        if (quoted.size() + 20 <= kLineLimit) {
            tokens.append({quoted, HeaderToken::Free});
        } else {
            bool first = true;
            for (const QByteArray &part : quoted.split(' ')) {
                tokens.append({part,
                    first                ? HeaderToken::Free
                        : part.isEmpty() ? HeaderToken::Never
                                         : HeaderToken::LastResort});
                first = false;
            }
        }
    } else {
        // Readers disagree on the blank between two encoded words in a name (RFC 2047 drops
        // it, Python's email keeps one), and on a fold inside a name. So the name is one
        // encoded word when it fits; else its words that need it are encoded in runs, each
        // one encoded word, with the plain words between them as they are; and it is not
        // folded but to stay within the line limit.
        const QByteArray charset = PlainTextCharset(name);
        const QByteArray single = singleEncodedWord(name, charset);
        HeaderTokens nameTokens;
        if (!single.isEmpty()) {
            nameTokens.append({single});
        } else {
            const QList<QStringView> words = QStringView(name).split(u' ');
            for (qsizetype i = 0; i < words.size(); ++i) {
                if (isPlainPhraseWord(words.at(i)) || words.at(i).isEmpty()) {
                    nameTokens.append({words.at(i).toLatin1(), HeaderToken::Never});
                    continue;
                }
                qsizetype last = i;
                while (last + 1 < words.size() && !isPlainPhraseWord(words.at(last + 1)))
                    ++last;
                while (last > i && words.at(last).isEmpty())
                    --last;
                QString run;
                for (qsizetype k = i; k <= last; ++k)
                    run += (k > i ? QStringLiteral(" ") : QString()) + words.at(k).toString();
                const QByteArray word = singleEncodedWord(run, charset);
                if (!word.isEmpty()) {
                    nameTokens.append({word});
                } else {
                    for (const QByteArray &part : encodedWords(run, charset, true))
                        nameTokens.append({part});
                }
                i = last;
            }
        }
        for (qsizetype i = 0; i < nameTokens.size(); ++i) {
            HeaderToken token = nameTokens.at(i);
            token.fold = i == 0        ? HeaderToken::Free
                : token.text.isEmpty() ? HeaderToken::Never
                                       : HeaderToken::LastResort;
            tokens.append(token);
        }
    }
    tokens.append({'<' + address + '>', HeaderToken::Free});
    return tokens;
}

QByteArray FoldedHeaderValue(const QByteArray &name, const HeaderTokens &tokens)
{
    const auto isBlank = [&](qsizetype i) {
        return tokens.at(i).text.isEmpty() && tokens.at(i).fold == HeaderToken::Never;
    };
    QByteArray out = " ";
    qsizetype column = name.size() + 2;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const HeaderToken &token = tokens.at(i);
        // The blanks of the empty tokens after a token cannot start a line (a line of blanks
        // only ends the header block for some readers), so they stay on the token's line and
        // the fold before the token leaves room for them.
        qsizetype blanks = 0;
        while (i + 1 + blanks < tokens.size() && isBlank(i + 1 + blanks))
            ++blanks;
        if (i > 0) {
            const qsizetype width = token.fold == HeaderToken::Free ? kFoldWidth
                : token.fold == HeaderToken::LastResort             ? kLineLimit
                                                                    : -1;
            if (width > 0 && column + 1 + token.text.size() + blanks > width) {
                out += "\n ";
                column = 1;
            } else if (isBlank(i) && column + 1 > kLineLimit) {
                // A run of blanks longer than a whole line: the line limit wins.
                continue;
            } else {
                out += ' ';
                ++column;
            }
        }
        out += token.text;
        column += token.text.size();
    }
    out += '\n';
    return out;
}

} // namespace kolporta::compose
