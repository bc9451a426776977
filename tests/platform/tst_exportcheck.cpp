#include "exportfixtures.h"

#include "platform/storage/exportcheck.h"

#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace fixtures;

class TestExportCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void soundSetPasses();
    void sourceProblemsNameEverySong();
    void unreadableSource();
    void notEnoughRoom();
    void roomOfReplacedFilesComesBack();
    void fatVolumeRefusesNames();
    void nameRules_data();
    void nameRules();
    void exportFolderHoldingSongsIsRefused_data();
    void exportFolderHoldingSongsIsRefused();
    void destinationLinkedToSourceIsRefused();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_songs;
    QString m_out;
};

void TestExportCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_songs = m_dir->filePath(u"songs"_s);
    m_out = m_dir->filePath(u"out"_s);
    QVERIFY(QDir().mkpath(m_songs));
    QVERIFY(QDir().mkpath(m_out));
}

void TestExportCheck::soundSetPasses()
{
    const QString a = writeSong(m_songs, u"Opening.mp3"_s, 5000, 1);
    const QString b = writeSong(m_songs, u"Ballad No.2.wav"_s, 7000, 2);
    const ExportPlan plan = planExport(rowsFor({a, b, a}), m_out, u"June Tour/Night 1"_s, u'/');
    QCOMPARE(ExportCheck::problems(plan), QStringList());
    QVERIFY2(!QFileInfo::exists(plan.folder), "the check must not create anything");
}

void TestExportCheck::sourceProblemsNameEverySong()
{
    const QString a = writeSong(m_songs, u"Opening.mp3"_s, 100, 1);
    const QString gone = writeSong(m_songs, u"Gone.mp3"_s, 100, 2);
    QVERIFY(QFile::remove(gone));
    const QString folder = m_songs + u"/Album.mp3"_s;
    QVERIFY(QDir().mkdir(folder));

    const ExportPlan plan =
        planExport(rowsFor({a, gone, folder, u"Relative.mp3"_s}), m_out, u"Set"_s, u'/');
    const QStringList problems = ExportCheck::problems(plan);
    QCOMPARE(problems.size(), 3);
    QVERIFY2(problems.at(0).startsWith(u"02 Gone.mp3: "_s) && problems.at(0).contains(u"見つかりません"_s),
             qPrintable(problems.at(0)));
    QVERIFY(problems.at(1).startsWith(u"03 Album.mp3: "_s));
    QVERIFY(problems.at(2).startsWith(u"04 Relative.mp3: "_s));
    QVERIFY(!QFileInfo::exists(plan.folder));
}

void TestExportCheck::unreadableSource()
{
    if (isRoot())
        QSKIP("root reads a file whatever its mode; the unreadable case needs an ordinary user");
    const QString a = writeSong(m_songs, u"Locked.mp3"_s, 100, 1);
    QVERIFY(::chmod(QFile::encodeName(a).constData(), 0) == 0);
    const QStringList problems = ExportCheck::problems(planExport(rowsFor({a}), m_out, u"Set"_s, u'/'));
    ::chmod(QFile::encodeName(a).constData(), 0644);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).startsWith(u"01 Locked.mp3: "_s) && problems.at(0).contains(u"読み込めません"_s),
             qPrintable(problems.at(0)));
}

void TestExportCheck::notEnoughRoom()
{
    ScopedMount mount;
    if (!mount.mountTmpfs(m_out, 1024))
        QSKIP(qPrintable(mount.why()));
    QStringList sources;
    for (int i = 0; i < 3; ++i)
        sources += writeSong(m_songs, u"Song%1.mp3"_s.arg(i), 600 * 1024, i);

    const ExportPlan plan = planExport(rowsFor(sources), m_out, u"Nested/Set"_s, u'/');
    const QStringList problems = ExportCheck::problems(plan);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).contains(u"空き容量"_s) && problems.at(0).contains(u"1.8 MB"_s)
                 && problems.at(0).contains(u"空き 1.0 MB"_s),
             qPrintable(problems.at(0)));
    QVERIFY(!QFileInfo::exists(m_out + u"/Nested"_s));
    // One song fits.
    QCOMPARE(ExportCheck::problems(planExport(rowsFor({sources.first()}), m_out, u"S"_s, u'/')),
             QStringList());
}

void TestExportCheck::roomOfReplacedFilesComesBack()
{
    ScopedMount mount;
    if (!mount.mountTmpfs(m_out, 1024))
        QSKIP(qPrintable(mount.why()));
    const QString song = writeSong(m_songs, u"Big.mp3"_s, 700 * 1024, 1);
    const ExportPlan plan = planExport(rowsFor({song}), m_out, u"Set"_s, u'/');
    QVERIFY(QDir().mkpath(plan.folder));
    QVERIFY(QFile::copy(song, plan.items.first().destinationPath));
    // Exporting the same set again replaces the file in place.
    QCOMPARE(ExportCheck::problems(plan), QStringList());
}

void TestExportCheck::fatVolumeRefusesNames()
{
    ScopedMount mount;
    if (!mount.mountFat(m_dir->filePath(u"fat.img"_s), m_out))
        QSKIP(qPrintable(mount.why()));
    QCOMPARE(ExportCheck::nameRulesAt(m_out), ExportCheck::NameRules::Windows);
    QCOMPARE(ExportCheck::nameRulesAt(m_songs), ExportCheck::NameRules::Posix);

    const QString fine = writeSong(m_songs, u"Opening.mp3"_s, 100, 1);
    const QString colon = writeSong(m_songs, u"Live: Tokyo.mp3"_s, 100, 2);
    const QString question = writeSong(m_songs, u"Why?.mp3"_s, 100, 3);
    const ExportPlan plan = planExport(rowsFor({fine, colon, question}), m_out, u"A*B"_s, u'/');
    const QStringList problems = ExportCheck::problems(plan);
    QCOMPARE(problems.size(), 3);
    QVERIFY2(problems.at(0).contains(u"A*B"_s) && problems.at(0).contains(u"（*）"_s),
             qPrintable(problems.at(0)));
    QVERIFY(problems.at(1).startsWith(u"02 Live: Tokyo.mp3: "_s));
    QVERIFY(problems.at(2).startsWith(u"03 Why?.mp3: "_s));
    QVERIFY(QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestExportCheck::nameRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("windowsOk");
    QTest::addColumn<bool>("posixOk");

    QTest::newRow("ordinary") << u"01 Opening.mp3"_s << true << true;
    QTest::newRow("Japanese") << u"01 夜明けの歌.mp3"_s << true << true;
    for (const QChar c : u"\\:*?\"<>|"_s)
        QTest::addRow("refused %c", char(c.unicode())) << u"01 a%1b.mp3"_s.arg(c) << false << true;
    QTest::newRow("control character") << u"01 a\tb.mp3"_s << false << true;
    QTest::newRow("trailing dot") << u"01 Song."_s << false << true;
    QTest::newRow("trailing blank") << u"01 Song "_s << false << true;
    QTest::newRow("255 units") << QString(255, u'a') << true << true;
    QTest::newRow("256 units") << QString(256, u'a') << false << false;
    // 100 kana are 100 UTF-16 units but 300 bytes in UTF-8.
    QTest::newRow("short in units, long in bytes") << QString(100, u'あ') << true << false;
    QTest::newRow("slash") << u"01 a/b"_s << false << false;
}

void TestExportCheck::nameRules()
{
    QFETCH(QString, name);
    QFETCH(bool, windowsOk);
    QFETCH(bool, posixOk);
    QCOMPARE(ExportCheck::refusedName(name, ExportCheck::NameRules::Windows).isEmpty(), windowsOk);
    QCOMPARE(ExportCheck::refusedName(name, ExportCheck::NameRules::Posix, 255).isEmpty(), posixOk);
}

void TestExportCheck::exportFolderHoldingSongsIsRefused_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("setName");
    QTest::newRow("the source folder itself") << u"."_s << u"songs"_s;
    QTest::newRow("a parent of the source folder") << QString() << u"."_s;
    QTest::newRow("through a doubled separator") << u"./"_s << u"songs"_s;
}

void TestExportCheck::exportFolderHoldingSongsIsRefused()
{
    QFETCH(QString, base);
    QFETCH(QString, setName);
    const QString a = writeSong(m_songs, u"Opening.mp3"_s, 100, 1);
    const QString b = writeSong(m_songs, u"Ballad.mp3"_s, 100, 2);
    const auto before = snapshot(m_songs);

    const QString root = m_dir->path();
    const ExportPlan plan = planExport(rowsFor({a, b}), root + u'/' + base, setName, u'/');
    const QStringList problems = ExportCheck::problems(plan);
    QCOMPARE(problems.size(), 2);
    QVERIFY2(problems.at(0).startsWith(u"01 Opening.mp3: "_s) && problems.at(0).contains(u"出力先フォルダの中"_s),
             qPrintable(problems.at(0)));
    QVERIFY(problems.at(1).startsWith(u"02 Ballad.mp3: "_s));
    QCOMPARE(snapshot(m_songs), before);
}

void TestExportCheck::destinationLinkedToSourceIsRefused()
{
    const QString a = writeSong(m_songs, u"Opening.mp3"_s, 100, 1);
    const ExportPlan plan = planExport(rowsFor({a}), m_out, u"Set"_s, u'/');
    QVERIFY(QDir().mkpath(plan.folder));
    QVERIFY(QFile::link(a, plan.items.first().destinationPath));
    const QStringList problems = ExportCheck::problems(plan);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).contains(u"そのもの"_s), qPrintable(problems.at(0)));
}

QTEST_GUILESS_MAIN(TestExportCheck)
#include "tst_exportcheck.moc"
