// Windows has no libburn: the CD-TEXT packs it would write are never built there.
#include "platform/audio/libburndiscwriter.h"

QByteArray LibburnDiscWriter::cdTextPacks(const CdLayout &, const CdText &)
{
    return {};
}
