#include "project/ProjectFile.h"

namespace kolporta::project {

namespace {

enum class Section {
    None,
    AddressList,
    Subject,
    Text,
    From,
    BccMaxCount,
    SendAsBcc,
    Attachments,
    HtmlBody,
    BlockFile,
    AutoBlock,
    Mailer,
    SmtpServer,
    Files,
};

struct Head
{
    const char *upper;
    Section section;
};

const Head kHeads[] = {
    {"[ADDRESS LIST]", Section::AddressList},
    {"[SUBJECT]", Section::Subject},
    {"[TEXT]", Section::Text},
    {"[FROM]", Section::From},
    {"[BCCMAXCOUNT]", Section::BccMaxCount},
    {"[SENDASBCC]", Section::SendAsBcc},
    {"[ATTACHMENTS]", Section::Attachments},
    {"[HTMLBODY]", Section::HtmlBody},
    {"[BLOCKFILE]", Section::BlockFile},
    {"[AUTOBLOCK]", Section::AutoBlock},
    {"[MAILER]", Section::Mailer},
    {"[SMTPSERVER]", Section::SmtpServer},
    {"[FILES]", Section::Files},
};

// Heads match without regard to case but are never trimmed. Only ASCII letters are folded:
// a full Unicode upper-case would turn e.g. "[fıles]" (dotless i) into a head, which no
// Windows-1250 file could have produced.
bool equalsUpperAscii(QStringView line, const char *upper)
{
    qsizetype i = 0;
    for (; upper[i]; ++i) {
        if (i >= line.size())
            return false;
        char16_t c = line[i].unicode();
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - (u'a' - u'A'));
        if (c != char16_t(static_cast<unsigned char>(upper[i])))
            return false;
    }
    return i == line.size();
}

Section headOf(const QString &line)
{
    if (line.isEmpty() || line.front() != u'[' || line.back() != u']')
        return Section::None;
    for (const Head &head : kHeads) {
        if (equalsUpperAscii(line, head.upper))
            return head.section;
    }
    return Section::None;
}

// A drop-down list's ItemIndex := IndexOf(text): the first item equal without regard to case.
QString selectItem(const QStringList &items, const QString &text)
{
    for (const QString &item : items) {
        if (item.compare(text, Qt::CaseInsensitive) == 0)
            return item;
    }
    return QString();
}

} // namespace

namespace {

// Reads a project's lines one at a time, as a load scans them.
class ProjectReader
{
public:
    ProjectReader(Project *project, const ProjectLists &lists)
        : p(*project)
        , m_lists(lists)
    {
        // Reset. Subject, sender, batch size, route, profile and BlockFile keep their values
        // until a value line replaces them.
        fx.htmlBoxResetClick = p.htmlBody;
        fx.bccBoxResetClick = p.sendAsBcc;
        p.htmlBody = false;
        p.sendAsBcc = false;
        p.autoBlock = false;
        p.addressList.clear();
        p.text.clear();
        p.attachments.clear();
        p.files.clear();
    }

    // An address line of a UTF-8 file goes into the list as its bytes, never made text.
    void line(const TextFile::Line &line)
    {
        if (line.isUtf8() && m_current == Section::AddressList
            && !(line.utf8.startsWith('[') && line.utf8.endsWith(']'))) {
            if (!line.utf8.isEmpty())
                p.addressList.appendUtf8(line.utf8);
            return;
        }
        this->line(line.toString());
    }
    void line(const QString &line);
    const LoadEffects &effects() const { return fx; }

private:
    Project &p;
    const ProjectLists &m_lists;
    LoadEffects fx;
    Section m_current = Section::None;
};

void ProjectReader::line(const QString &line)
{
    const Section head = headOf(line);
    if (head != Section::None) {
        m_current = head;
        return;
    }
    switch (m_current) {
    case Section::None:
        break;
    case Section::AddressList:
        if (!line.isEmpty())
            p.addressList.append(line);
        break;
    case Section::Subject:
        if (!line.isEmpty())
            p.subject = line;
        break;
    case Section::Text:
        p.text.append(line);
        break;
    case Section::From:
        p.from = line;
        break;
    case Section::BccMaxCount:
        p.bccMaxCount = line;
        break;
    case Section::SendAsBcc:
        if (line == QLatin1String("1") && !p.sendAsBcc) {
            p.sendAsBcc = true;
            fx.bccBoxClick = true;
        }
        break;
    case Section::Attachments:
        if (!line.isEmpty())
            p.attachments.append(line);
        break;
    case Section::HtmlBody:
        // Checking the box runs its click handler, and the reader then runs it once
        // more for every line of the section.
        if (line == QLatin1String("1") && !p.htmlBody) {
            p.htmlBody = true;
            ++fx.htmlBodyClicks;
        }
        ++fx.htmlBodyClicks;
        break;
    case Section::BlockFile:
        p.blockFile = line;
        break;
    case Section::AutoBlock:
        if (line == QLatin1String("1"))
            p.autoBlock = true;
        break;
    case Section::Mailer:
        if (!line.isEmpty())
            p.mailer = selectItem(m_lists.routes, line);
        break;
    case Section::SmtpServer:
        if (!line.isEmpty())
            p.smtpServer = selectItem(m_lists.profiles, line);
        break;
    case Section::Files:
        if (!line.isEmpty())
            p.files.append(line);
        break;
    }
}

} // namespace

void ReadProjectLines(
    const QStringList &lines, Project *project, const ProjectLists &lists, LoadEffects *effects)
{
    ProjectReader reader(project, lists);
    for (const QString &line : lines)
        reader.line(line);
    if (effects)
        *effects = reader.effects();
}

bool LoadProject(const QString &path, Project *project, const ProjectLists &lists, QString *error,
    LoadEffects *effects)
{
    // Read into a copy, so that a file that cannot be read leaves the project unchanged.
    Project loaded = *project;
    TextEncoding encoding = TextEncoding::Utf8;
    ProjectReader reader(&loaded, lists);
    if (!TextFile::readLines(
            path, [&](const TextFile::Line &line) { reader.line(line); }, &encoding, error))
        return false;
    if (effects)
        *effects = reader.effects();
    loaded.encoding = encoding;
    *project = std::move(loaded);
    return true;
}

QStringList ProjectFileLines(const Project &p)
{
    QStringList lines;
    lines.reserve(
        p.addressList.size() + p.text.size() + p.attachments.size() + p.files.size() + 24);
    lines.append(QStringLiteral("[Address list]"));
    for (const QString &line : p.addressList) {
        if (!line.isEmpty())
            lines.append(line);
    }
    lines.append(QStringLiteral("[Subject]"));
    lines.append(p.subject);
    lines.append(QStringLiteral("[From]"));
    lines.append(p.from);
    lines.append(QStringLiteral("[BlockFile]"));
    lines.append(p.blockFile);
    lines.append(QStringLiteral("[AutoBlock]"));
    if (p.autoBlock)
        lines.append(QStringLiteral("1"));
    lines.append(QStringLiteral("[Mailer]"));
    lines.append(p.mailer);
    lines.append(QStringLiteral("[SmtpServer]"));
    lines.append(p.smtpServer);
    lines.append(QStringLiteral("[SendAsBCC]"));
    lines.append(p.sendAsBcc ? QStringLiteral("1") : QStringLiteral("0"));
    lines.append(QStringLiteral("[HTMLBody]"));
    lines.append(p.htmlBody ? QStringLiteral("1") : QStringLiteral("0"));
    lines.append(QStringLiteral("[BCCMaxCount]"));
    lines.append(p.bccMaxCount);
    lines.append(QStringLiteral("[Text]"));
    lines.append(p.text);
    lines.append(QStringLiteral("[Attachments]"));
    lines.append(p.attachments);
    lines.append(QStringLiteral("[Files]"));
    lines.append(p.files);
    return lines;
}

bool SaveProject(const QString &path, const Project &project, QString *error, TextEncoding *used)
{
    return TextFile::write(path, ProjectFileLines(project), project.encoding, error, used);
}

} // namespace kolporta::project
