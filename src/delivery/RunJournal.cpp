#include "delivery/RunJournal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace kolporta::delivery {

namespace {

const char kMagic[] = "journal";

struct StateName
{
    JournalState state;
    const char *name;
};
constexpr StateName kStates[] = {
    {JournalState::Trying, "trying"},
    {JournalState::Sent, "sent"},
    {JournalState::Refused, "refused"},
    {JournalState::Failed, "failed"},
    {JournalState::Uncertain, "uncertain"},
    {JournalState::Skipped, "skipped"},
    {JournalState::Planned, "planned"},
};

// One JSON object being written. Records are made for every line several times over, so
// this writes into a plain buffer rather than through QByteArray's general appends.
using Json = std::string;

void appendJsonString(Json *out, const QString &text)
{
    out->push_back('"');
    const QByteArray bytes = text.toUtf8();
    for (const char c : bytes) {
        if (uchar(c) >= 0x20 && c != '"' && c != '\\') {
            out->push_back(c);
            continue;
        }
        switch (c) {
        case '"':
            out->append("\\\"");
            break;
        case '\\':
            out->append("\\\\");
            break;
        case '\n':
            out->append("\\n");
            break;
        case '\r':
            out->append("\\r");
            break;
        case '\t':
            out->append("\\t");
            break;
        default:
            static const char hex[] = "0123456789abcdef";
            out->append("\\u00");
            out->push_back(hex[uchar(c) >> 4]);
            out->push_back(hex[uchar(c) & 15]);
        }
    }
    out->push_back('"');
}

void appendKey(Json *out, const char *key)
{
    if (out->size() > 1)
        out->push_back(',');
    out->push_back('"');
    out->append(key);
    out->append("\":");
}

void appendText(Json *out, const char *key, const QString &value)
{
    appendKey(out, key);
    appendJsonString(out, value);
}

void appendNumber(Json *out, const char *key, qint64 value)
{
    appendKey(out, key);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out->append(digits, end);
}

QByteArray finished(Json &out)
{
    out.append("}\n");
    return QByteArray(out.data(), qsizetype(out.size()));
}

const char *stateName(JournalState state)
{
    for (const StateName &s : kStates)
        if (s.state == state)
            return s.name;
    return "";
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Each field is length-prefixed, so no two different messages give the same bytes.
void hashField(QCryptographicHash *hash, const QByteArray &bytes)
{
    hash->addData(QByteArray::number(bytes.size()) + ':');
    hash->addData(bytes);
}

void hashFiles(QCryptographicHash *hash, const char *kind, const QStringList &paths)
{
    hashField(hash, kind);
    hashField(hash, QByteArray::number(paths.size()));
    for (const QString &path : paths) {
        const QFileInfo info(path);
        hashField(hash, path.toUtf8());
        hashField(hash, QByteArray::number(info.exists() ? info.size() : -1));
        hashField(hash,
            QByteArray::number(
                info.exists() ? info.lastModified().toMSecsSinceEpoch() : qint64(-1)));
    }
}

bool parseLine(const QByteArray &line, QJsonObject *object)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    *object = doc.object();
    return true;
}

bool isWholeNumber(const QJsonValue &value)
{
    return value.isDouble() && value.toDouble() == double(value.toInteger());
}

} // namespace

QString JournalStateName(JournalState state)
{
    for (const StateName &s : kStates)
        if (s.state == state)
            return QLatin1String(s.name);
    return QString();
}

bool JournalStateFromName(const QString &name, JournalState *state)
{
    for (const StateName &s : kStates) {
        if (name == QLatin1String(s.name)) {
            *state = s.state;
            return true;
        }
    }
    return false;
}

QString CurrentBootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll().trimmed());
}

QString MessageHash(const MessageFields &fields)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hashField(&hash, "kolporta message 1");
    hashField(&hash, fields.sender.toUtf8());
    hashField(&hash, fields.subject.toUtf8());
    hashField(&hash, fields.body.toUtf8());
    hashField(&hash, fields.html ? "html" : "text");
    hashFiles(&hash, "pictures", fields.pictures);
    hashFiles(&hash, "files", fields.files);
    return QString::fromLatin1(hash.result().toHex());
}

RunFiles ReserveRunFiles(const QString &folder, const QDateTime &start, QString *error)
{
    const QString stem = folder + QStringLiteral("/Kolporta ")
        + start.toString(QStringLiteral("yyyy-MM-dd hh-mm-ss"));
    for (int n = 1;; ++n) {
        const QString base = n == 1 ? stem : stem + QStringLiteral(" (%1)").arg(n);
        RunFiles files {base + QStringLiteral(".txt"), base + QStringLiteral(".journal")};
        if (QFileInfo::exists(files.log) || QFileInfo::exists(files.journal))
            continue;
        const int fd = ::open(QFile::encodeName(files.journal).constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return files;
        }
        // Another run took this name between the look and the open: try the next one.
        if (errno == EEXIST)
            continue;
        if (error)
            *error = QStringLiteral("%1: %2").arg(files.journal, errnoText());
        return files;
    }
}

RunJournal::~RunJournal()
{
    finish();
}

bool RunJournal::start(const QString &path, const JournalHeader &header)
{
    finish();
    m_path = path;
    m_error.clear();
    m_failed = false;
    m_grouping = false;
    m_group.clear();
    m_fd = ::open(
        QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = QStringLiteral("%1: %2").arg(path, errnoText());
        return false;
    }
    return write(encode(header));
}

void RunJournal::record(const JournalRecord &record)
{
    if (!isOpen())
        return;
    if (m_grouping)
        m_group += encode(record);
    else
        write(encode(record));
}

void RunJournal::endGroup()
{
    m_grouping = false;
    if (isOpen() && !m_group.isEmpty())
        write(m_group);
    m_group.clear();
}

void RunJournal::record(
    int line, const QString &text, JournalState state, int batch, const QString &reply)
{
    JournalRecord r;
    r.line = line;
    r.text = text;
    r.state = state;
    r.batch = batch;
    r.reply = reply;
    record(r);
}

bool RunJournal::sync()
{
    if (!isOpen())
        return false;
    if (::fdatasync(m_fd) != 0) {
        m_error = QStringLiteral("%1: %2").arg(m_path, errnoText());
        m_failed = true;
        return false;
    }
    return true;
}

void RunJournal::finish()
{
    if (m_fd < 0)
        return;
    // Every record the run meant to write is in: a reader may trust the journal whole.
    if (isOpen())
        write(endRecord());
    ::fdatasync(m_fd);
    ::close(m_fd);
    m_fd = -1;
}

bool RunJournal::write(const QByteArray &bytes)
{
    // One write per record (or group of records), so a kill leaves whole records (a short
    // write, rare on a local file, is continued; the reader drops a cut-off last line).
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = QStringLiteral("%1: %2").arg(m_path, errnoText());
            m_failed = true;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

QByteArray RunJournal::encode(const JournalRecord &record)
{
    Json out;
    out.reserve(size_t(80 + 3 * (record.text.size() + record.reply.size())));
    out.push_back('{');
    appendNumber(&out, "line", record.line);
    appendText(&out, "text", record.text);
    appendKey(&out, "state");
    out.push_back('"');
    out.append(stateName(record.state));
    out.push_back('"');
    if (record.batch > 0)
        appendNumber(&out, "batch", record.batch);
    if (!record.reply.isEmpty())
        appendText(&out, "reply", record.reply);
    if (record.earlier) {
        appendKey(&out, "earlier");
        out.append("true");
    }
    return finished(out);
}

QByteArray RunJournal::encode(const JournalHeader &header)
{
    Json out;
    out.push_back('{');
    appendText(&out, "kolporta", QLatin1String(kMagic));
    appendNumber(&out, "version", header.version);
    appendText(&out, "project", header.project);
    appendText(&out, "message", header.messageHash);
    appendText(&out, "route", header.route);
    appendText(&out, "mode", header.bcc ? QStringLiteral("bcc") : QStringLiteral("single"));
    appendText(&out, "profile", header.profile);
    appendNumber(&out, "batchSize", header.batchSize);
    appendText(&out, "log", header.log);
    if (!header.resumes.isEmpty())
        appendText(&out, "resumes", header.resumes);
    appendText(&out, "boot", header.boot);
    return finished(out);
}

QByteArray RunJournal::encodeBatch(int batch, JournalState state, const QString &reply)
{
    Json out;
    out.push_back('{');
    appendNumber(&out, "batch", batch);
    appendKey(&out, "state");
    out.push_back('"');
    out.append(stateName(state));
    out.push_back('"');
    if (!reply.isEmpty())
        appendText(&out, "reply", reply);
    return finished(out);
}

void RunJournal::recordBatch(int batch, JournalState state, const QString &reply)
{
    if (!isOpen())
        return;
    if (m_grouping)
        m_group += encodeBatch(batch, state, reply);
    else
        write(encodeBatch(batch, state, reply));
}

QByteArray RunJournal::endRecord()
{
    return QByteArrayLiteral("{\"end\":true}\n");
}

QList<JournalRecord> Journal::finalRecords() const
{
    QMap<int, JournalRecord> last;
    for (const JournalRecord &r : records)
        last.insert(r.line, r);
    QList<JournalRecord> out;
    out.reserve(last.size());
    for (JournalRecord r : std::as_const(last)) {
        if (r.state == JournalState::Planned) {
            if (!plannedMayHaveGone())
                continue;
            r.state = JournalState::Trying;
        }
        out.append(r);
    }
    return out;
}

bool ReadJournal(const QString &path, Journal *journal, QString *error)
{
    *journal = Journal();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QList<QByteArray> lines = bytes.split('\n');
    // A kill inside the last write leaves a line without its LF; all others are whole.
    const bool cutOff = !lines.last().isEmpty();
    if (!cutOff)
        lines.removeLast();
    auto bad = [&](qsizetype index, const QString &why) {
        *error = QStringLiteral("%1, line %2: %3").arg(path).arg(index + 1).arg(why);
        return false;
    };

    QJsonObject head;
    if (lines.isEmpty() || !parseLine(lines.first(), &head)
        || head.value(QLatin1String("kolporta")).toString() != QLatin1String(kMagic))
        return bad(0, QStringLiteral("not a Kolporta run journal"));
    JournalHeader &h = journal->header;
    h.version = head.value(QLatin1String("version")).toInt();
    if (h.version < 1 || h.version > JournalHeader::FormatVersion)
        return bad(
            0, QStringLiteral("journal format %1 is not known to this version").arg(h.version));
    h.project = head.value(QLatin1String("project")).toString();
    h.messageHash = head.value(QLatin1String("message")).toString();
    h.route = head.value(QLatin1String("route")).toString();
    h.bcc = head.value(QLatin1String("mode")).toString() == QLatin1String("bcc");
    h.profile = head.value(QLatin1String("profile")).toString();
    h.batchSize = head.value(QLatin1String("batchSize")).toInt();
    h.log = head.value(QLatin1String("log")).toString();
    h.resumes = head.value(QLatin1String("resumes")).toString();
    h.boot = head.value(QLatin1String("boot")).toString();
    journal->restarted = h.boot.isEmpty() || h.boot != CurrentBootId();

    QHash<int, qsizetype> lastOfLine; // each line's last record so far
    QHash<int, QList<int>> tryingInBatch; // the lines given `trying` in each batch
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QJsonObject o;
        if (!parseLine(lines.at(i), &o)) {
            if (cutOff && i == lines.size() - 1) {
                journal->torn = true;
                break;
            }
            return bad(i, QStringLiteral("not a JSON object"));
        }
        if (o.value(QLatin1String("end")).toBool()) {
            journal->complete = true;
            continue;
        }
        const QString state = o.value(QLatin1String("state")).toString();
        JournalRecord r;
        if (!JournalStateFromName(state, &r.state))
            return bad(i, QStringLiteral("unknown state \"%1\"").arg(state));
        r.batch = o.value(QLatin1String("batch")).toInt();
        r.reply = o.value(QLatin1String("reply")).toString();
        const QJsonValue line = o.value(QLatin1String("line"));
        if (line.isUndefined() && r.batch > 0) {
            // A batch's outcome: it is each line's that is trying in that batch.
            for (const int l : tryingInBatch.take(r.batch)) {
                const JournalRecord &last = journal->records.at(lastOfLine.value(l));
                if (last.state != JournalState::Trying || last.batch != r.batch)
                    continue;
                JournalRecord outcome = r;
                outcome.line = l;
                outcome.text = last.text;
                lastOfLine.insert(l, journal->records.size());
                journal->records.append(outcome);
            }
            continue;
        }
        if (!isWholeNumber(line) || line.toInteger() < 1 || line.toInteger() > INT_MAX)
            return bad(i, QStringLiteral("no line number"));
        r.line = int(line.toInteger());
        if (!o.value(QLatin1String("text")).isString())
            return bad(i, QStringLiteral("no address line text"));
        r.text = o.value(QLatin1String("text")).toString();
        r.earlier = o.value(QLatin1String("earlier")).toBool();
        if (r.state == JournalState::Trying && r.batch > 0)
            tryingInBatch[r.batch].append(r.line);
        lastOfLine.insert(r.line, journal->records.size());
        journal->records.append(r);
    }
    return true;
}

} // namespace kolporta::delivery
