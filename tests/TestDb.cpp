#include "TestDb.h"
#include "Damage.h"

#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

TestDb::TestDb() {
    schema::createDatabase(tmp_.path());
    db::Aliases::bind(QStringLiteral("morv"), tmp_.path());
}

TestDb::~TestDb() {
    db::Aliases::unbind(QStringLiteral("morv"));
}

QStringList readColumn(const QString& path, const char* field) {
    db::Table t;
    t.setTableName(path);
    t.open();
    const db::Field* f = t.fieldByName(QString::fromLatin1(field));
    QStringList out;
    for (int r = 0; r < t.rowCount(); ++r)
        out << f->format(t.valueAt(r, f)).trimmed();
    return out;
}

QList<RunRow> runRows(const QString& dbDir, const char* file, int org, int testee, int test) {
    db::Table t;
    t.setTableName(dbDir + QLatin1Char('/') + QString::fromLatin1(file));
    t.open();
    const bool answers = QString::fromLatin1(file).startsWith(QLatin1String("bd_rezult"));
    const db::Field* number = t.fieldByName(answers ? "NOMVOPR" : "KRIT");
    const db::Field* value = t.fieldByName(answers ? "OTVET" : "BALL");
    QList<RunRow> rows;
    for (t.first(); !t.eof(); t.next()) {
        if (t.fieldByName("NOMU")->asInteger() != org || t.fieldByName("NOMTESTIR")->asInteger() != testee ||
            t.fieldByName("NOMTESTA")->asInteger() != test)
            continue;
        rows.append(
            {int(number->asInteger()), int(value->asInteger()), t.fieldByName("DATA")->value().toDate()});
    }
    return rows;
}

void TestDb::add(const QString& file, const std::vector<db::Variant>& values) const {
    db::Table t;
    t.setTableName(path(file));
    t.open();
    t.append();
    t.setFields(values);
    t.post();
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void patchFile(const QString& path, qint64 at, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite)) << path.toStdString();
    ASSERT_TRUE(f.seek(at));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

namespace {
uint32_t le32At(const QByteArray& b, qint64 at) {
    if (at < 0 || at + 4 > b.size()) return 0;
    return uint32_t(uchar(b[at])) | uint32_t(uchar(b[at + 1])) << 8 | uint32_t(uchar(b[at + 2])) << 16 |
           uint32_t(uchar(b[at + 3])) << 24;
}
// The page of the first tag's header: the first entry of the tag table at 544.
qint64 firstTagHeader(const QByteArray& b) {
    return qint64(le32At(b, 544)) * 512;
}
} // namespace

void spoilIndexRoot(const QString& mdx) {
    const QByteArray b = bytesOf(mdx);
    const qint64 root = qint64(le32At(b, firstTagHeader(b))) * 512;
    ASSERT_GE(root, 1024) << mdx.toStdString();
    patchFile(mdx, root, QByteArray(4, '\xff'));
}

void spoilTagExpression(const QString& mdx, const QByteArray& expr) {
    const QByteArray b = bytesOf(mdx);
    const qint64 header = firstTagHeader(b);
    ASSERT_GE(header, 1024) << mdx.toStdString();
    patchFile(mdx, header + 24, expr + QByteArray(1, '\0'));
}

qint64 fieldOffset(const QString& dbf, int rec, const char* field) {
    const QByteArray b = bytesOf(dbf);
    if (b.size() < 32) return -1;
    const int hdrLen = uchar(b[8]) | uchar(b[9]) << 8, recLen = uchar(b[10]) | uchar(b[11]) << 8;
    int offset = 1;
    for (int at = 32; at + 32 <= b.size() && b[at] != '\r'; at += 32) {
        if (qstrnicmp(b.constData() + at, field, 11) == 0) return hdrLen + qint64(rec) * recLen + offset;
        offset += uchar(b[at + 16]);
    }
    return -1;
}

#ifdef _WIN32
namespace {
// Wine starts a native program (a checker such as python3 or R) but cannot wait for it or tell
// its exit code: a shell prints the code after the output, read until the pipe closes.
bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The native program a name stands for under Wine (an absolute path that is no .exe, or a bare
// name found in /usr/bin), or empty.
QString nativeUnderWine(const QString& program) {
    if (!underWine() || program.endsWith(QLatin1String(".exe"))) return {};
    if (program.startsWith(QLatin1Char('/'))) return program;
    const QString usr = QStringLiteral("/usr/bin/") + program;
    return !program.contains(QLatin1Char('/')) && QFileInfo(usr).isFile() ? usr : QString();
}

bool isNativeUnderWine(const QString& program) {
    return !nativeUnderWine(program).isEmpty();
}

int runNative(const QString& program, const QStringList& args, QString* out, QString* err) {
    // Nor do its pipes carry anything back: the shell leaves the output and then the code in files.
    QTemporaryDir box;
    const QString unixBox = box.path().startsWith(QLatin1String("Z:")) ? box.path().mid(2) : box.path();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(
        QStringLiteral("/bin/sh"),
        QStringList{
            QStringLiteral("-c"),
            QStringLiteral("b=\"$1\"; shift; \"$0\" \"$@\" >\"$b/out\" 2>\"$b/err\"; echo $? >\"$b/rc.new\"; "
                           "mv \"$b/rc.new\" \"$b/rc\""),
            program, unixBox} +
            args);
    QElapsedTimer clock;
    clock.start();
    QFile rc(box.filePath(QStringLiteral("rc")));
    while (!rc.exists() && clock.elapsed() < 300000)
        QThread::msleep(100);
    const auto read = [&box](const char* name) {
        QFile f(box.filePath(QLatin1String(name)));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    if (out) *out = read("out");
    if (err) *err = read("err");
    if (!rc.open(QIODevice::ReadOnly)) {
        if (out) *out += program + QStringLiteral(": no exit code within 5 minutes");
        return -1;
    }
    return rc.readAll().trimmed().toInt();
}
} // namespace
#endif

int runCommand(const QString& program, const QStringList& args, QString* out) {
#ifdef _WIN32
    if (const QString native = nativeUnderWine(program); !native.isEmpty()) {
        QString err;
        const int code = runNative(native, args, out, &err);
        if (out) *out += err;
        return code;
    }
#endif
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(300000)) {
        if (out) *out = program + QStringLiteral(": ") + p.errorString();
        return -1;
    }
    if (out) *out = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int runSeparate(const QString& program, const QStringList& args, QByteArray* out, QByteArray* err) {
#ifdef _WIN32
    if (const QString native = nativeUnderWine(program); !native.isEmpty()) {
        QString o, e;
        const int code = runNative(native, args, &o, &e);
        *out = o.toUtf8();
        *err = e.toUtf8();
        return code;
    }
#endif
    QProcess p;
    p.start(program, args);
    const bool finished = p.waitForFinished(300000);
    *out = p.readAllStandardOutput();
    *err = p.readAllStandardError();
    if (!finished) *err += (program + QStringLiteral(": ") + p.errorString()).toUtf8();
    return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString testData(const QString& relative) {
    return QStringLiteral(MORV_TEST_DATA "/") + relative;
}

QString testTool(const QString& name) {
    return QStringLiteral(MORV_TEST_TOOLS "/") + name;
}

QString sharedTool(const QString& name) {
    const QFileInfo tool(QStringLiteral(MORV_SHARED_DIR "/tools/") + name);
#ifdef _WIN32
    // Windows calls only named kinds of file executable; under Wine the peers are native programs.
    if (tool.isFile() && isNativeUnderWine(QStringLiteral(MORV_SHARED_DIR)))
        return QStringLiteral(MORV_SHARED_DIR "/tools/") + name;
#endif
    return tool.isFile() && tool.isExecutable() ? tool.absoluteFilePath() : QString();
}

int peerCheck(const QString& dir, QString* report) {
    return runCommand(testTool(QStringLiteral("dbf-crosscheck")), {dir}, report);
}

QStringList peerDump(const QString& dir, const QString& table) {
    // stdout only: a problem the checker reports on stderr must not pass for a row.
    const QString tool = testTool(QStringLiteral("dbf-crosscheck"));
#ifdef _WIN32
    if (isNativeUnderWine(tool)) {
        QString out, err;
        runNative(tool, {dir, QStringLiteral("--dump"), table}, &out, &err);
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
#endif
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(testTool(QStringLiteral("dbf-crosscheck")), {dir, QStringLiteral("--dump"), table});
    p.waitForFinished(300000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
