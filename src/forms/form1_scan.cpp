// The library scan: lists the source folder into the library table.
#include "forms/form1.h"

void Form1::Command11_Click()
{
}

double Form1::GetPlayLength(const QString &path) const
{
    Q_UNUSED(path);
    return 0;
}
