#include "forms/form2.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

QString Form2::helpText()
{
    static const QStringList lines{
        u"①　楽曲収納フォルダを参照ボタンを押して選んで最初はフォルダを記憶させてください"_s,
        u"【重要】すべての楽曲は①つのフォルダに収納してください、複数フォルダは指定不可"_s,
        QString(),
        u"②　フォルダから楽曲取得ボタンを押すとフォルダ内の楽曲などが表示されます"_s,
        QString(),
        u"③　楽曲を選択したら行が青く変わります"_s,
        QString(),
        u"※　試しに再生したい場合再生ボタンを押すと曲が再生されます。再生終了で止まります"_s,
        u"※　再生中は他の操作はできません"_s,
        QString(),
        u"※　【重要】選択曲再生機能はお使いのＰＣの機能に依存しますので再生できないＰＣも存在しますのでご了承ください"_s,
        QString(),
        u"④　選択した楽曲をリストへ追加ボタンを押すと右側の表に楽曲が入ります"_s,
        u"※　右側の表の右下に楽曲の合計時間が自動計算されて表示されます"_s,
        QString(),
        u"⑤　曲順を入れ替えたり削除するときは右の表から楽曲選択して操作ボタンを押してください"_s,
        QString(),
        u"⑥　リストが決まったら、楽曲を出力するフォルダを選んで最初は記憶させてください"_s,
        QString(),
        u"⑦　今回作ったセットリストの曲を出力するフォルダー名を新しく出力するフォルダにつける名前に記入してください"_s,
        QString(),
        u"⑧　リスト曲をフォルダに出力するボタンを押すと、指定した場所にフォルダを作りその中に楽曲が番号をつけて出力されます"_s,
        QString(),
        u"⑨　出力が終わると　中央テキストボックスにリストが簡易的にテキストで出力されるのでコピペしてラインやメールに貼り付けることができます"_s,
        QString(),
        u"⑩　フォルダに出力された楽曲をUSBやSDカードにコピーしたりCDに焼いたりすることで、音源として持ち出しできます。"_s,
        QString(),
        u"本ソフトに関することは下記までお知らせください、PC本体の設定については対応いたしかねます"_s,
        // Maker, a request to write by e-mail, the address; ideographic spaces
        // between and after. The address stays a placeholder until a real one exists.
        u"Korvanda　ご連絡はメールでお願いいたします　support@korvanda.example.org　"_s,
    };
    return lines.join(u"\r\n"_s);
}

Form2::Form2(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"Form2"_s);
    setWindowTitle(u"説明"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(955, 590);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(u"Text1"_s);
    Text1->setGeometry(16, 16, 929, 529);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(u"説明"_s);

    Command1 = new QPushButton(u"閉じる"_s, this);
    Command1->setObjectName(u"Command1"_s);
    Command1->setGeometry(752, 552, 193, 33);
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);

    QWidget::setTabOrder(Text1, Command1);

    // Every opening shows the instructions afresh; changes typed into the box
    // last only while the window is open.
    Text1->setPlainText(helpText().replace(u"\r\n"_s, u"\n"_s));
}
