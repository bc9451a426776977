// Preview playback of the library's current song.
#include "forms/form1.h"

void Form1::Command20_Click()
{
}

void Form1::Command30_Click()
{
}

void Form1::setPlaying(bool playing)
{
    Q_UNUSED(playing);
}
