#include "forms/main/form1.h"

#include "forms/form2.h"
#include "forms/setlisttextbox.h"
#include "forms/songgrid.h"
#include "model/songtable.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

const QString UiFontFamily = u"ＭＳ Ｐゴシック"_s;

void place(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(SongGrid::twipsToPixels(left), SongGrid::twipsToPixels(top),
                        SongGrid::twipsToPixels(width), SongGrid::twipsToPixels(height));
}

void paintBackground(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(role, color);
    widget->setPalette(pal);
    widget->setAutoFillBackground(role == QPalette::Window);
}

} // namespace

Form1::Form1(const Form1Services &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
    , m_table1(new SongTable(this))
    , m_table2(new SongTable(this))
{
    Q_ASSERT(services.boxes && services.folderDialog);
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Korvanda"_s);
    setFont(QFont(UiFontFamily, 9));
    setFixedSize(SongGrid::twipsToPixels(ClientWidthTwips), SongGrid::twipsToPixels(ClientHeightTwips));
    paintBackground(this, QPalette::Window, QColor(255, 255, 192));

    createControls();
    setUpTabOrderAndNames();
    Form_Load();
    connectHandlers();
    connectConveniences();
}

Form1::~Form1()
{
    // The help window has no owner; it must not outlive the program's main window
    // once the program itself goes away.
    delete m_form2;
}

void Form1::createControls()
{
    const auto button = [this](QPushButton *&b, const char *name, const QString &caption, int l, int t, int w,
                               int h, std::optional<QColor> color = std::nullopt) {
        b = new QPushButton(caption, this);
        b->setObjectName(QLatin1StringView(name));
        place(b, l, t, w, h);
        if (color)
            paintBackground(b, QPalette::Button, *color);
    };
    const auto label = [this](QLabel *&l, const char *name, const QString &caption, int x, int y, int w, int h) {
        l = new QLabel(caption, this);
        l->setObjectName(QLatin1StringView(name));
        place(l, x, y, w, h);
    };
    const auto field = [this](QLineEdit *&e, const char *name, int l, int t, int w, int h) {
        e = new QLineEdit(this);
        e->setObjectName(QLatin1StringView(name));
        place(e, l, t, w, h);
    };

    Grid1 = new SongGrid(m_table1, this);
    Grid1->setObjectName(u"MSHFlexGrid1"_s);
    Grid1->setFont(QFont(UiFontFamily, 9));
    place(Grid1, 120, 1680, 5415, 7215);

    field(Text1, "Text1", 240, 600, 5175, 270);
    button(Command1, "Command1", u"参照"_s, 5520, 600, 975, 375);
    label(Label1, "Label1", u"楽曲収納フォルダ"_s, 240, 360, 1935, 255);
    button(Command2, "Command2", u"選択曲をリストへ追加"_s, 5760, 2640, 1935, 495, QColor(0, 255, 255));
    button(Command3, "Command3", u"選択行リストから削除"_s, 5640, 5280, 2175, 495, QColor(255, 128, 128));
    button(Command4, "Command4", u"フォルダを記憶"_s, 6720, 600, 1575, 375);
    button(Command5, "Command5", u"選択行上に"_s, 6000, 3840, 1455, 375, QColor(255, 192, 128));
    button(Command6, "Command6", u"選択行下に"_s, 6000, 4560, 1455, 375, QColor(192, 192, 255));
    label(Label2, "Label2", u"収納楽曲一覧 簡易50音順　アルファベット上位表示"_s, 240, 1440, 4455, 255);
    button(Command7, "Command7", u"参照"_s, 9120, 7080, 975, 375);
    label(Label3, "Label3", u"出力先フォルダ"_s, 7800, 7200, 1455, 255);
    field(Text2, "Text2", 7800, 7440, 6255, 270);
    button(Command8, "Command8", u"フォルダを記憶"_s, 10320, 7080, 1575, 375);
    button(Command9, "Command9", u"リスト曲をフォルダに出力する"_s, 7800, 8520, 3375, 495, QColor(128, 255, 255));
    button(Command10, "Command10", u"終了"_s, 12240, 8520, 1935, 495, QColor(255, 128, 128));
    field(Text3, "Text3", 7800, 8040, 3375, 270);
    label(Label4, "Label4", u"新しく出力するフォルダにつける名前"_s, 7800, 7800, 3015, 255);
    label(Label5, "Label5", u"リスト操作"_s, 6240, 3360, 1095, 375);
    QFont heading(UiFontFamily, 12);
    heading.setBold(true);
    Label5->setFont(heading);
    button(Command11, "Command11", u"フォルダから楽曲取得"_s, 5760, 1680, 1935, 495, QColor(255, 255, 255));
    label(Label6, "Label6", u"セットリスト 出力中は処理している曲の番号の色が変わります "_s, 7920, 1440, 5055, 255);

    Grid2 = new SongGrid(m_table2, this);
    Grid2->setObjectName(u"MSHFlexGrid2"_s);
    Grid2->setFont(QFont(UiFontFamily, 9));
    place(Grid2, 7920, 1680, 6135, 5175);

    button(Command12, "Command12", u"フォルダデータクリア"_s, 8520, 600, 1935, 375);
    button(Command13, "Command13", u"フォルダデータクリア"_s, 12120, 7080, 1935, 375);

    Text4 = new SetListTextBox(this);
    Text4->setObjectName(u"Text4"_s);
    place(Text4, 5640, 6240, 2055, 2655);

    label(Label7, "Label7", u"セトリテキストコピペ可能"_s, 5640, 6000, 1935, 375);
    button(Command20, "Command20", u"＞選択曲再生"_s, 240, 960, 1335, 375);
    button(Command30, "Command30", u"■ 再生終了"_s, 1920, 960, 1335, 375);

    // The current song's path is kept in a box the user never sees.
    field(Text5, "Text5", 240, 120, 5175, 270);
    Text5->setVisible(false);

    label(Label9, "Label9", u"再生中一部操作不可"_s, 3360, 1080, 1695, 255);
    paintBackground(Label9, QPalette::WindowText, QColor(255, 0, 0));
    Label9->setVisible(false);

    label(Label10, "Label10", u"セットリスト合計時間"_s, 11400, 8040, 1695, 375);
    field(Text6, "Text6", 13080, 8040, 975, 270);
    button(Command14, "Command14", u"使い方"_s, 12600, 600, 1455, 375);
}

void Form1::setUpTabOrderAndNames()
{
    // Keyboard order as the window was designed; labels take no focus.
    const QList<QWidget *> order{ Grid1,     Text1,     Command1,  Command2,  Command3,  Command4,  Command5,
                                  Command6,  Command7,  Text2,     Command8,  Command9,  Command10, Text3,
                                  Command11, Grid2,     Command12, Command13, Text4,     Command20, Command30,
                                  Text6,     Command14 };
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    // Assistive technology reads each box by the caption shown above it.
    const QList<std::pair<QWidget *, QLabel *>> captions{
        { Grid1, Label2 }, { Text1, Label1 }, { Text2, Label3 }, { Text3, Label4 },
        { Grid2, Label6 }, { Text4, Label7 }, { Text6, Label10 },
    };
    for (const auto &[widget, caption] : captions) {
        widget->setAccessibleName(caption->text().trimmed());
        caption->setBuddy(widget);
    }
    Text5->setAccessibleName(u"再生中の曲の場所"_s);
}

void Form1::connectHandlers()
{
    const QList<std::pair<QPushButton *, void (Form1::*)()>> handlers{
        { Command1, &Form1::Command1_Click },   { Command2, &Form1::Command2_Click },
        { Command3, &Form1::Command3_Click },   { Command4, &Form1::Command4_Click },
        { Command5, &Form1::Command5_Click },   { Command6, &Form1::Command6_Click },
        { Command7, &Form1::Command7_Click },   { Command8, &Form1::Command8_Click },
        { Command9, &Form1::Command9_Click },   { Command10, &Form1::Command10_Click },
        { Command11, &Form1::Command11_Click }, { Command12, &Form1::Command12_Click },
        { Command13, &Form1::Command13_Click }, { Command14, &Form1::Command14_Click },
        { Command20, &Form1::Command20_Click }, { Command30, &Form1::Command30_Click },
    };
    for (const auto &[button, handler] : handlers)
        connect(button, &QPushButton::clicked, this, handler);
    // The set name is kept in set-list files, so editing it changes the set list.
    connect(Text3, &QLineEdit::textEdited, this, &Form1::setNameChanged);
}

void Form1::connectConveniences()
{
    // Each shortcut presses its button, so a disabled button keeps it inert and
    // the messages, numbers and totals are those of the button.
    connect(Grid1, &SongGrid::rowActivated, Command2, &QPushButton::click);
    connect(Grid2, &SongGrid::deleteRequested, Command3, &QPushButton::click);
    connect(Grid2, &SongGrid::moveRequested, this,
            [this](int direction) { (direction < 0 ? Command5 : Command6)->click(); });
    Grid2->setRowDragEnabled(true);
    connect(Grid2, &SongGrid::rowDropped, this, &Form1::moveSetListRow);

    Grid1->setRowExportEnabled(true);
    Grid1->setTypeAheadEnabled(true);
    connect(Grid1, &SongGrid::rowDragMoved, this,
            [this](int, const QPoint &globalPos) { Grid2->setInsertMark(Grid2->insertRowAt(globalPos)); });
    connect(Grid1, &SongGrid::rowDraggedOut, this, [this](int fromRow, const QPoint &globalPos) {
        Grid2->setInsertMark(0);
        if (const int toRow = Grid2->insertRowAt(globalPos))
            addFromLibrary(fromRow, toRow);
    });

    Command2->setToolTip(u"左の表の曲をダブルクリック、Enter キー、または右の表へドラッグしても追加できます"_s);
    Command3->setToolTip(u"右の表で Delete キーを押しても削除できます"_s);
    Command5->setToolTip(u"右の表で Ctrl+↑ でも上に移動できます（行をドラッグして好きな位置へ移動もできます）"_s);
    Command6->setToolTip(u"右の表で Ctrl+↓ でも下に移動できます（行をドラッグして好きな位置へ移動もできます）"_s);
}
