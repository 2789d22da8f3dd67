#pragma once

#include <QString>

#include <memory>

namespace kolporta::compose {

class ContentIds;

// Rewrites the places where the HTML refers to a file, and nothing else: the values of src
// and background attributes and CSS url() in style attributes and <style> blocks. A local
// reference to a picture (gif, png, bmp, jpg, jpeg in any letter case; a path, a bare name or
// a file: URL) becomes "cid:" and the Content-ID of its file name; a reference with any other
// URL scheme (http, https, data, cid, ...) stays as it is. With declareUtf8 the charset of
// every <meta> declaration becomes "utf-8". Prose, comments and other attributes (alt,
// title) are never touched.
QString RewriteHtmlReferences(const QString &html, ContentIds &ids, bool declareUtf8);

// The plain-text alternative of an HTML body, read by libxml2's HTML parser: paragraphs,
// headings, list items, table rows and line breaks as lines; links as "text <url>"; pictures
// as their alt text in brackets; <style>, <script> and the head left out; entities decoded;
// blanks collapsed as a browser does (but inside <pre>); lines wrapped at 76 columns.
QString PlainTextOfHtml(const QString &html);

// The plain-text alternative of an HTML body with macros, read once for a whole run and then
// filled in per message: text(to, from, subject) equals
// PlainTextOfHtml(ApplyMacros(template, to, from, subject, true)). A value the HTML reader
// would change (blanks to collapse, a "%", nothing at all) makes it read the filled body
// instead, so the result never differs.
class PlainTextTemplate
{
public:
    explicit PlainTextTemplate(const QString &htmlTemplate);
    ~PlainTextTemplate();
    const QString &html() const { return m_html; }
    // Whether the template has macros to fill in; without them the body is one text anyway.
    bool fillsIn() const { return m_lines != nullptr; }
    QString text(const QString &to, const QString &from, const QString &subject) const;

private:
    struct Lines;
    QString m_html;
    std::shared_ptr<const Lines> m_lines; // null: no macro, or marks that would clash
};

} // namespace kolporta::compose
