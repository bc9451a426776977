// The help window and the exit question.
#include "forms/main/form1.h"

#include "forms/form2.h"
#include "platform/desktop/messageboxes.h"

using namespace Qt::StringLiterals;

void Form1::Command14_Click()
{
    if (!m_form2) {
        m_form2 = new Form2;
        m_form2->show();
        return;
    }
    m_form2->raise();
    m_form2->activateWindow();
}

void Form1::Command10_Click()
{
    if (!m_services.boxes->ask(this, u"終了してもよろしいですか？"_s, u"確認"_s))
        return;
    if (m_leaveCheck && !m_leaveCheck())
        return;
    // Every window goes, the help window included; nothing is saved or asked.
    if (m_form2)
        m_form2->close();
    window()->close();
    Q_EMIT quitRequested();
}
