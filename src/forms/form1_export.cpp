// The export of the set list to a folder.
#include "forms/form1.h"

void Form1::Command9_Click()
{
}
