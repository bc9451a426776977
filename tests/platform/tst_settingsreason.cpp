// A settings file that cannot be written says why in the user's language, and
// leaves nothing behind.
#include "platform/storage/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettingsReason : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failureSaysWhyInJapanese_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("words");
        // Both fail for every user, root included.
        QTest::newRow("folder missing") << u"missing"_s << u"ファイルまたはフォルダが見つかりません"_s;
        QTest::newRow("a file where the folder should be") << u"file"_s
                                                           << u"同じ名前のファイルがあるため"_s;
    }
    void failureSaysWhyInJapanese()
    {
        QFETCH(QString, folder);
        QFETCH(QString, words);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"file"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = dir.filePath(folder + u"/motodata.dat"_s);
        const std::optional<QString> failure = SettingsFile::write(path, u"/music"_s);
        QVERIFY(failure.has_value());
        QVERIFY2(failure->startsWith(words), qPrintable(*failure));
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 QStringList{ u"file"_s });
    }
};

QTEST_GUILESS_MAIN(TestSettingsReason)
#include "tst_settingsreason.moc"
