#include "platform/media/playbackcontrol.h"

PlaybackControl::~PlaybackControl() = default;

PlayingSong::~PlayingSong() = default;
