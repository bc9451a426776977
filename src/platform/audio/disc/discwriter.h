#pragma once

#include "model/cdlayout.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A CD writer as the audio CD needs it: find the drive, see whether a blank
// disc is in it and how much it holds, burn an image onto it. Behind this
// interface so that everything around the burning is tested without a drive.
class DiscWriter
{
public:
    struct Drive {
        QString name;
        bool blankDisc = false;
        qint64 capacitySectors = 0;   // of the blank disc
        bool canTestWrite = false;
    };
    struct Outcome {
        bool ok = false;
        QString reason;   // worded for the user when not ok
    };

    virtual ~DiscWriter() = default;

    // The system's disc writer, started only when asked for (it may probe the drives).
    [[nodiscard]] static std::unique_ptr<DiscWriter> system();
    // Whether this system burns discs at all. Where it does not (Windows: no libburn there),
    // the audio CD is always the image, which any burning program burns, and the menu says so.
    [[nodiscard]] static bool systemBurnsDiscs();

    // The first drive that writes CD-R, with what is in it; none when no CD
    // writer is attached.
    [[nodiscard]] virtual std::optional<Drive> findDrive() = 0;

    // Burns the image's tracks (the .bin laid out as `layout`) in one session
    // with the words of `text` as CD-TEXT, at the drive's best speed with
    // underrun protection; a test write first when asked and the drive can.
    // The disc is ejected at the end. `progress` gets 0..1.
    [[nodiscard]] virtual Outcome burn(const QString &binPath, const CdLayout &layout, const CdText &text,
                                       bool testFirst, const std::function<void(double)> &progress,
                                       const std::function<bool()> &cancelled) = 0;
};
