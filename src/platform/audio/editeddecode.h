#pragma once

#include "platform/audio/audiodecoder.h"

class EditPlan;

// Decodes a song as its edits shape it: the kept ranges read in turn (the
// decoder moved at each cut), joined with their crossfades and faded, handed on
// from joined frame `joinedFrom` in the decoder's output format. Key and tempo
// are left to the caller: the player stretches in real time, the export with
// the finer offline engine. True once the joined song is complete, or when the
// song ended before the plan did (its file is shorter than measured); false on
// a decoding error (the reason set) or when the consumer stopped it.
bool decodeEdited(AudioDecoder &decoder, const EditPlan &plan, qint64 joinedFrom, const AudioDecoder::Consumer &consumer,
                  QString *reason);
