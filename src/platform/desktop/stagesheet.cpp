#include "platform/desktop/stagesheet.h"

#include "model/songtable.h"
#include "platform/storage/replacefile.h"
#include "platform/storage/systemreason.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QStringList>
#include <QPdfWriter>

#include <algorithm>
#include <cerrno>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr qreal HeadingPointSize = 20.0;
constexpr qreal DatePointSize = 12.0;
constexpr qreal RecordPointSize = 10.0;
constexpr qreal SizeStep = 0.5;

QFont sheetFont(qreal pointSize, bool bold = false)
{
    // The proportional Japanese gothic the window uses, so kana and kanji titles
    // print (and embed) in a real Japanese face rather than a fallback.
    QFont font;
    font.setFamilies({ u"IPAPGothic"_s, u"IPAPゴシック"_s, u"Noto Sans CJK JP"_s, u"VL PGothic"_s });
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// Where the parts of a page go, in device units.
struct Geometry
{
    qreal pointSize = StageSheet::MinimumPointSize;
    qreal headingHeight = 0;
    qreal footerHeight = 0;
    qreal lineHeight = 0;
    int linesPerPage = 1;
    int pages = 1;
    bool fitsWidth = true;
};

class Layout
{
public:
    Layout(QPaintDevice &device, const QList<StageSheet::Line> &lines) : m_device(device), m_lines(lines) {}

    [[nodiscard]] Geometry at(qreal pointSize) const
    {
        Geometry g;
        g.pointSize = pointSize;
        const QFontMetricsF heading(sheetFont(HeadingPointSize, true), &m_device);
        const QFontMetricsF songs(sheetFont(pointSize), &m_device);
        const QFontMetricsF total(sheetFont(pointSize, true), &m_device);
        g.headingHeight = heading.lineSpacing() * 1.5;
        g.footerHeight = total.lineSpacing() * 1.5;
        g.lineHeight = songs.lineSpacing();
        const qreal room = m_device.height() - g.headingHeight - g.footerHeight;
        g.linesPerPage = std::max(1, int(std::floor(room / g.lineHeight)));
        g.pages = std::max<int>(1, int((m_lines.size() + g.linesPerPage - 1) / g.linesPerPage));
        qreal widest = 0;
        for (const StageSheet::Line &line : m_lines)
            widest = std::max(widest, songs.horizontalAdvance(line.title));
        g.fitsWidth = numberWidth(songs) + widest + lengthWidth(songs) + 2 * gap(songs) <= m_device.width();
        return g;
    }

    // The largest type on the fewest pages: the pages needed at the smallest type
    // are the most the sheet may take, and the type grows while it still fits them.
    [[nodiscard]] Geometry best() const
    {
        const int pages = at(StageSheet::MinimumPointSize).pages;
        for (qreal size = StageSheet::MaximumPointSize; size > StageSheet::MinimumPointSize; size -= SizeStep) {
            const Geometry g = at(size);
            if (g.pages <= pages && g.fitsWidth)
                return g;
        }
        return at(StageSheet::MinimumPointSize);
    }

    [[nodiscard]] qreal numberWidth(const QFontMetricsF &m) const
    {
        qreal widest = m.horizontalAdvance(u"00"_s);
        for (const StageSheet::Line &line : m_lines)
            widest = std::max(widest, m.horizontalAdvance(line.number));
        return widest;
    }
    [[nodiscard]] qreal lengthWidth(const QFontMetricsF &m) const
    {
        qreal widest = m.horizontalAdvance(u"00:00:00"_s);
        for (const StageSheet::Line &line : m_lines)
            widest = std::max(widest, m.horizontalAdvance(line.length));
        return widest;
    }
    [[nodiscard]] static qreal gap(const QFontMetricsF &m) { return m.horizontalAdvance(u"　"_s); }

private:
    QPaintDevice &m_device;
    const QList<StageSheet::Line> &m_lines;
};

} // namespace

StageSheet::StageSheet(QString setName, QDate date, QList<Line> lines, QString total)
    : m_setName(std::move(setName)), m_date(date), m_lines(std::move(lines)), m_total(std::move(total))
{
}

QList<StageSheet::Line> StageSheet::linesOf(const SongTable &setList)
{
    QList<Line> lines;
    for (int r = 1; r < setList.Rows(); ++r) {
        const QString name = setList.textAt(r, 1);
        if (name.isEmpty())
            continue; // the blank row of the empty set list
        const qsizetype dot = name.lastIndexOf(u'.');
        lines.append({ setList.textAt(r, 0), dot > 0 ? name.left(dot) : name, setList.textAt(r, 3) });
    }
    return lines;
}

void StageSheet::paintAppendix(QPainter &painter, QPagedPaintDevice &device) const
{
    if (m_appendix.isEmpty())
        return;
    // Read at a desk, not from the floor: the columns line up only in a type
    // of even widths.
    QFont font = sheetFont(RecordPointSize);
    font.setFamilies({ u"IPAGothic"_s, u"IPAゴシック"_s, u"Noto Sans Mono CJK JP"_s, u"VL Gothic"_s });
    painter.setFont(font);
    const QFontMetricsF metrics(font, &device);
    const qreal lineHeight = metrics.lineSpacing();
    const int perPage = std::max(1, int(device.height() / lineHeight));
    for (const QString &text : m_appendix) {
        const QStringList lines = text.split(u'\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i % perPage == 0)
                device.newPage();
            painter.drawText(QPointF(0, qreal(i % perPage) * lineHeight + metrics.ascent()),
                             metrics.elidedText(lines[i], Qt::ElideRight, device.width()));
        }
    }
}

bool StageSheet::paint(QPagedPaintDevice &device) const
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;

    const Layout layout(device, m_lines);
    const Geometry g = layout.best();
    const QFont songFont = sheetFont(g.pointSize);
    const QFont totalFont = sheetFont(g.pointSize, true);
    const QFont headingFont = sheetFont(HeadingPointSize, true);
    const QFont dateFont = sheetFont(DatePointSize);
    const QFontMetricsF songs(songFont, &device);
    const qreal width = device.width();
    const qreal numberWidth = layout.numberWidth(songs);
    const qreal lengthWidth = layout.lengthWidth(songs);
    const qreal gap = Layout::gap(songs);
    const qreal titleLeft = numberWidth + gap;
    const qreal titleWidth = width - titleLeft - lengthWidth - gap;
    const QString dateText = m_date.isValid() ? m_date.toString(u"yyyy年M月d日"_s) : QString();

    for (int page = 0; page < g.pages; ++page) {
        if (page > 0)
            device.newPage();
        // Heading: the set name on the left; the date, and the page on a sheet of
        // several, on the right.
        const QRectF headingRect(0, 0, width, g.headingHeight / 1.5);
        QString right = dateText;
        if (g.pages > 1)
            right += u"　%1/%2"_s.arg(page + 1).arg(g.pages);
        painter.setFont(dateFont);
        const qreal rightWidth = QFontMetricsF(dateFont, &device).horizontalAdvance(right);
        painter.drawText(headingRect, Qt::AlignRight | Qt::AlignVCenter, right);
        painter.setFont(headingFont);
        const QFontMetricsF headingMetrics(headingFont, &device);
        painter.drawText(headingRect, Qt::AlignLeft | Qt::AlignVCenter,
                         headingMetrics.elidedText(m_setName, Qt::ElideRight, width - rightWidth - gap));
        painter.drawLine(QPointF(0, g.headingHeight * 0.8), QPointF(width, g.headingHeight * 0.8));

        painter.setFont(songFont);
        const qsizetype first = qsizetype(page) * g.linesPerPage;
        const qsizetype last = std::min<qsizetype>(m_lines.size(), first + g.linesPerPage);
        for (qsizetype i = first; i < last; ++i) {
            const Line &line = m_lines.at(i);
            const qreal top = g.headingHeight + qreal(i - first) * g.lineHeight;
            painter.drawText(QRectF(0, top, numberWidth, g.lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                             line.number);
            // Only a title too long even for the smallest type is shortened.
            painter.drawText(QRectF(titleLeft, top, titleWidth, g.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                             songs.elidedText(line.title, Qt::ElideRight, titleWidth));
            painter.drawText(QRectF(width - lengthWidth, top, lengthWidth, g.lineHeight),
                             Qt::AlignRight | Qt::AlignVCenter, line.length);
        }
    }

    const qreal footerTop = device.height() - g.footerHeight;
    painter.drawLine(QPointF(0, footerTop + g.footerHeight * 0.2), QPointF(width, footerTop + g.footerHeight * 0.2));
    painter.setFont(totalFont);
    painter.drawText(QRectF(0, footerTop + g.footerHeight * 0.3, width, g.footerHeight * 0.7),
                     Qt::AlignRight | Qt::AlignVCenter, u"合計　"_s + m_total);
    paintAppendix(painter, device);
    return painter.end();
}

std::optional<QString> StageSheet::writePdf(const QString &path) const
{
    // Drawn in memory first, so that the file is opened only once there is a
    // whole document to put into it.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(m_setName);
        writer.setCreator(u"Korvanda"_s);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        if (!paint(writer))
            return u"PDF を作成できませんでした"_s;
    }

    return replaceFile(path, buffer.data());
}
