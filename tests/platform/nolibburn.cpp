// Windows has no libburn: the CD-TEXT packs, the passes and the bar of a burn never happen
// there (their tests skip).
#include "platform/audio/disc/libburndiscwriter.h"

QByteArray LibburnDiscWriter::cdTextPacks(const CdLayout &, const CdText &)
{
    return {};
}

double LibburnDiscWriter::discFraction(const CdLayout &, int, int, int)
{
    return 0;
}

QList<QByteArray> LibburnDiscWriter::passBytes(const QString &, const CdLayout &, int)
{
    return {};
}
