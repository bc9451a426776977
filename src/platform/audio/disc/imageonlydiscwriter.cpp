// The disc writer of a system without libburn (Windows): it finds no drive, so the audio CD is
// always written as an image (.cue and .bin) that any burning program burns.
#include "platform/audio/disc/discwriter.h"

using namespace Qt::StringLiterals;

namespace {

class ImageOnlyDiscWriter : public DiscWriter
{
public:
    [[nodiscard]] std::optional<Drive> findDrive() override { return std::nullopt; }
    [[nodiscard]] Outcome burn(const QString &, const CdLayout &, const CdText &, bool, const std::function<void(double)> &,
                               const std::function<bool()> &) override
    {
        return {false, u"この環境では CD に直接書き込めません。イメージを書き込みソフトで焼いてください"_s};
    }
};

} // namespace

std::unique_ptr<DiscWriter> DiscWriter::system()
{
    return std::make_unique<ImageOnlyDiscWriter>();
}

bool DiscWriter::systemBurnsDiscs()
{
    return false;
}
