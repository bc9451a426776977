#pragma once

#include <QString>

// A PulseAudio server of the test's own, with one null sink, so that a test that
// listens may run while the other tests go on playing through the session's
// server (and, for a fault test, be killed as a crash would). Made before the
// application, so that the program under test and the sink's recorder reach
// this server: it sets PULSE_SERVER and KORVANDA_TEST_SINK for the process.
class PrivateSound
{
public:
    // False when pulseaudio is missing or did not start.
    static bool start();
    // Kills the server at once, as a crash would; its clients see the stream end.
    static void kill();
    // The sink's name, as KORVANDA_TEST_SINK now holds it.
    static QString sink();
};
