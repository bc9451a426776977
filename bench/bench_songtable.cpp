// How fast the tables are at their largest: filling, sorting and numbering a
// full library table the way the scan does, and single set-list operations on
// a long set list through the window's own handlers.
#include "forms/application.h"
#include "forms/main/form1.h"
#include "model/songtable.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"

#include <QApplication>
#include <QCollator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

long residentKiB()
{
    QFile f(u"/proc/self/statm"_s);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : 0;
}

// Names like a real folder: Latin, kana and kanji titles, some folders.
QStringList songNames(int count)
{
    static const QStringList words{ u"Blue"_s, u"さくら"_s, u"Night"_s, u"カモメ"_s, u"夜明け"_s, u"river"_s,
                                    u"ありがとう"_s, u"Song"_s, u"ミライ"_s, u"東京"_s };
    QRandomGenerator rng(42);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QString name = words[rng.bounded(words.size())] + u' ' + words[rng.bounded(words.size())] + u' '
            + QString::number(i);
        names << (i % 50 == 0 ? u"これはフォルダです"_s + name : name + u".mp3"_s);
    }
    return names;
}

void fillSortNumber(SongTable &t, const QStringList &names)
{
    t.setVisible(false);
    t.setRows(2);
    for (int n = 0; n < names.size(); ++n) {
        t.setRows(n + 2);
        t.setRow(n + 1);
        t.setCol(1);
        t.setCellAlignment(SongTable::AlignLeftCenter);
        t.setText(names[n]);
        t.setCol(2);
        t.setText(u"/music/"_s + names[n]);
        t.setCol(3);
        t.setText(u"00:03:35"_s);
    }
    t.setCol(1);
    t.Sort(5);
    for (int i = 1; i < t.Rows(); ++i) {
        t.setCol(0);
        t.setRow(i);
        t.setText(QString::number(i));
    }
    t.setVisible(true);
}

// The baseline: the same rows as plain string lists, sorted with the same
// collation by direct comparison, no cursor and no cell attributes.
void plainFillSort(const QStringList &names)
{
    QList<QStringList> rows;
    rows.reserve(names.size());
    for (const QString &n : names)
        rows.append({ QString(), n, u"/music/"_s + n, u"00:03:35"_s });
    QCollator collator{ QLocale(QLocale::Japanese, QLocale::Japan) };
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const QStringList &a, const QStringList &b) { return collator.compare(a[1], b[1]) < 0; });
    for (qsizetype i = 0; i < rows.size(); ++i)
        rows[i][0] = QString::number(i + 1);
}

class SilentBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &, const QString &) override {}
    bool ask(QWidget *, const QString &, const QString &) override { return true; }
};

class NoDialog : public FolderDialog
{
public:
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);

    const int runs = 5;
    const QStringList names = songNames(SongTable::MaxDataRows);

    std::vector<double> table, plain;
    long memory = 0;
    for (int i = 0; i < runs; ++i) {
        SongTable t;
        const long before = residentKiB();
        table.push_back(timeMs([&] { fillSortNumber(t, names); }));
        memory = std::max(memory, residentKiB() - before);
        plain.push_back(timeMs([&] { plainFillSort(names); }));
    }
    std::printf("Full library table, %d rows (median of %d runs)\n", int(names.size()), runs);
    std::printf("  SongTable fill + sort + number   %8.1f ms   (goal < 150 ms)\n", median(table));
    std::printf("  baseline: plain lists + sort     %8.1f ms\n", median(plain));
    std::printf("  memory of the filled table       %8.1f MiB resident\n\n", double(memory) / 1024.0);

    // Set-list operations on a 1,000-row set list, through the window's handlers.
    SilentBoxes boxes;
    NoDialog dialog;
    MediaService media;
    QTemporaryDir settings;
    Form1 form(Form1Services{ &boxes, &dialog, &media, settings.path() });
    form.show();
    auto *const add2 = form.findChild<QPushButton *>(u"Command2"_s);
    auto *const up5 = form.findChild<QPushButton *>(u"Command5"_s);
    auto *const down6 = form.findChild<QPushButton *>(u"Command6"_s);
    auto *const delete3 = form.findChild<QPushButton *>(u"Command3"_s);
    SongTable &library = form.MSHFlexGrid1();
    fillSortNumber(library, songNames(10));
    library.setRow(2);
    for (int i = 0; i < 1000; ++i)
        add2->click();
    QApplication::processEvents();

    std::vector<double> add, up, down, del, total;
    SongTable &list = form.MSHFlexGrid2();
    for (int i = 0; i < 21; ++i) {
        add.push_back(timeMs([&] { add2->click(); }));
        list.setRow(500);
        up.push_back(timeMs([&] { up5->click(); }));
        down.push_back(timeMs([&] { down6->click(); }));
        list.setRow(700);
        del.push_back(timeMs([&] { delete3->click(); }));
        total.push_back(timeMs([&] { form.TimeCalc(); }));
        QApplication::processEvents();
    }
    std::printf("Set list of %d rows, one operation each (median of 21, goal < 5 ms)\n", list.Rows() - 1);
    std::printf("  add          %7.2f ms\n", median(add));
    std::printf("  move up      %7.2f ms\n", median(up));
    std::printf("  move down    %7.2f ms\n", median(down));
    std::printf("  delete       %7.2f ms\n", median(del));
    std::printf("  baseline: the total alone (one pass over all rows)  %7.2f ms\n", median(total));
    return 0;
}
