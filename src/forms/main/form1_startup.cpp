// Start-up, the two remembered folders, and the browse buttons.
#include "forms/main/form1.h"

#include "forms/setlisttextbox.h"
#include "model/songtable.h"
#include "platform/storage/appfolder.h"
#include "platform/desktop/messageboxes.h"
#include "platform/storage/settingsfile.h"
#include "platform/desktop/showfoldersmodule.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace {

const QString SourceSettings = u"motodata.dat"_s;
const QString OutputSettings = u"okuridata.dat"_s;

} // namespace

void Form1::Form_Load()
{
    Text4->setText({});
    Text3->clear();
    Text5->clear();
    Text6->clear();

    m_appFolder = m_services.appFolder.isEmpty() ? locateAppFolder() : withTrailingSeparator(m_services.appFolder);

    loadSetting(SourceSettings, Text1);
    loadSetting(OutputSettings, Text2);

    setUpTable(*m_table1);
    setUpTable(*m_table2);
}

void Form1::setUpTable(SongTable &table)
{
    table.setCols(4);
    table.setRow(0);
    const int widths[] = { 400, 3800, 0, 800 };
    for (int c = 0; c < 4; ++c)
        table.setColWidth(c, widths[c]);
    table.setRowHeight(0, 250);
    table.setCol(1);
    table.setText(u"ファイル名"_s);
    table.setCellAlignment(SongTable::AlignCenterCenter);
    table.setCol(2);
    table.setText(u"ファイル場所"_s);
    table.setCol(3);
    table.setText(u"長さ"_s);
    table.setCellAlignment(SongTable::AlignCenterCenter);
    table.setCol(0);
    table.setCol(1);
    table.setRow(1);
}

void Form1::loadSetting(const QString &fileName, QLineEdit *field)
{
    m_dataFile = m_appFolder + fileName;
    field->setText(SettingsFile::isPresent(m_dataFile) ? SettingsFile::read(m_dataFile) : QString());
}

void Form1::rememberSetting(const QString &fileName, const QLineEdit *field)
{
    m_dataFile = m_appFolder + fileName;
    if (const auto failure = SettingsFile::write(m_dataFile, field->text())) {
        m_services.boxes->inform(this,
                                 u"フォルダを記憶できませんでした。\n保存先: %1\n理由: %2"_s.arg(m_dataFile, *failure),
                                 u"お知らせ"_s);
        return;
    }
    m_services.boxes->inform(this, u"保存しました"_s, u"お知らせ"_s);
}

void Form1::browse(QLineEdit *field, const QString &prompt)
{
    field->setText(ShowFoldersModule::ShowFolders(*m_services.folderDialog, this, prompt, field->text()));
}

void Form1::Command1_Click()
{
    browse(Text1, u"楽曲収納元フォルダを指定してください"_s);
}

void Form1::Command7_Click()
{
    browse(Text2, u"セトリ保存場所のフォルダを指定してください"_s);
}

void Form1::Command4_Click()
{
    rememberSetting(SourceSettings, Text1);
}

void Form1::Command8_Click()
{
    rememberSetting(OutputSettings, Text2);
}

void Form1::Command12_Click()
{
    Text1->clear();
}

void Form1::Command13_Click()
{
    Text2->clear();
}
