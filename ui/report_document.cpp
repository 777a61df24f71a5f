#include "report_document.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>

#include "journal_plot_painter.h"
#include "locale_paper.h"
#include "report_text.h"

namespace nodrel {

namespace {

// Device pixels per inch: the plot's lines and marks at print resolution.
constexpr int kDotsPerInch = 300;
constexpr double kScreenDotsPerInch = 96;
constexpr double kMarginMillimetres = 15;
constexpr double kTextPoints = 9.5;
constexpr double kSmallPoints = 8;
constexpr double kTitlePoints = 16;
constexpr double kSectionPoints = 11;
// The plot's height as a share of the page's width.
constexpr double kPlotProportion = 0.42;
const QColor kInk(0, 0, 0);
const QColor kQuiet(90, 90, 90);
const QColor kPaper(255, 255, 255);
const QColor kRule(170, 170, 170);

QFont Font(double points, bool bold = false) {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(points);
    font.setBold(bold);
    // Letter spacing keeps Qt from joining "ff" or "fi" into one glyph, which a search for "off"
    // would not find and a copy would give as one character.
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.1);
    return font;
}

// Lays the report out from the top of the page down.
class TReportPage {
public:
    TReportPage(QPainter& painter, const QRect& page)
        : painter_(painter), page_(page), y_(page.top()) {}

    int Y() const { return y_; }
    int Bottom() const { return page_.bottom(); }
    const QRect& Page() const { return page_; }
    void Skip(int pixels) { y_ += pixels; }
    void StartPage() { y_ = page_.top(); }

    // Text over the page's width, wrapped; the cursor goes below it.
    void Paragraph(const QString& text, const QFont& font, const QColor& colour) {
        painter_.setFont(font);
        painter_.setPen(colour);
        const QRect box(page_.left(), y_, page_.width(), page_.bottom() - y_);
        const QRect used = painter_.boundingRect(box, Qt::TextWordWrap, text);
        painter_.drawText(box, Qt::TextWordWrap, text);
        y_ += used.height();
    }

    // Each line's label in a column of their own, its value beside it, wrapped.
    void Lines(const std::vector<TReportLine>& lines, int labelsWidth) {
        const QFont label = Font(kTextPoints, true);
        const QFont value = Font(kTextPoints);
        const int gap = QFontMetrics(value, painter_.device()).averageCharWidth() * 2;
        for (const TReportLine& line : lines) {
            painter_.setFont(label);
            painter_.setPen(kInk);
            painter_.drawText(QRect(page_.left(), y_, labelsWidth, page_.height()),
                              Qt::AlignLeft | Qt::AlignTop, line.label);
            painter_.setFont(value);
            const QRect box(page_.left() + labelsWidth + gap, y_, page_.width() - labelsWidth - gap,
                            page_.bottom() - y_);
            const QRect used = painter_.boundingRect(box, Qt::TextWordWrap, line.value);
            painter_.drawText(box, Qt::TextWordWrap, line.value);
            y_ += std::max(used.height(), QFontMetrics(label, painter_.device()).height());
        }
    }

    QPainter& Painter() { return painter_; }

private:
    QPainter& painter_;
    QRect page_;
    int y_;
};

int LabelsWidth(const std::vector<TReportSection>& sections, QPaintDevice* device) {
    const QFontMetrics metrics(Font(kTextPoints, true), device);
    int widest = 0;
    for (const TReportSection& section : sections) {
        for (const TReportLine& line : section.lines) {
            widest = std::max(widest, metrics.horizontalAdvance(line.label));
        }
    }
    return widest;
}

// The table of outages: its columns as wide as their widest cell, the last (the reason) taking
// what is left, cut where it is longer.
class TOutageTable {
public:
    TOutageTable(const TJournalReport& report, QPaintDevice* device)
        : columns_(OutageColumns(report)),
          font_(Font(kTextPoints)),
          headerFont_(Font(kTextPoints, true)),
          metrics_(font_, device),
          headerMetrics_(headerFont_, device) {
        rowHeight_ = metrics_.height() * 5 / 4;
        gap_ = metrics_.averageCharWidth() * 3;
    }

    int RowHeight() const { return rowHeight_; }

    // Fits the columns to `outages` over `width`.
    void Measure(const std::vector<TJournalOutage>& outages, int width) {
        widths_.clear();
        for (const TOutageColumn& column : columns_) {
            int widest = headerMetrics_.horizontalAdvance(column.title);
            for (const TJournalOutage& outage : outages) {
                widest = std::max(widest, metrics_.horizontalAdvance(column.cell(outage)));
            }
            widths_.push_back(widest);
        }
        if (widths_.empty()) return;
        int fixed = 0;
        for (size_t i = 0; i + 1 < widths_.size(); ++i) fixed += widths_[i] + gap_;
        widths_.back() = std::max(width - fixed, 0);
    }

    void Header(TReportPage& page) {
        QPainter& painter = page.Painter();
        painter.setFont(headerFont_);
        painter.setPen(kInk);
        Row(page, [](const TOutageColumn& column) { return column.title; });
        painter.setPen(QPen(kRule, 2));
        painter.drawLine(page.Page().left(), page.Y() - 2, page.Page().right(), page.Y() - 2);
    }

    void Outage(TReportPage& page, const TJournalOutage& outage) {
        page.Painter().setFont(font_);
        page.Painter().setPen(kInk);
        Row(page, [&](const TOutageColumn& column) { return column.cell(outage); });
    }

private:
    void Row(TReportPage& page, const std::function<QString(const TOutageColumn&)>& text) {
        int x = page.Page().left();
        for (size_t i = 0; i < columns_.size(); ++i) {
            // The last column takes the room left, and is cut where that is not enough.
            const bool last = i + 1 == columns_.size();
            const QString cell =
                last ? metrics_.elidedText(text(columns_[i]), Qt::ElideRight, widths_[i])
                     : text(columns_[i]);
            const Qt::Alignment alignment =
                (columns_[i].number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
            page.Painter().drawText(QRect(x, page.Y(), widths_[i], rowHeight_), alignment, cell);
            x += widths_[i] + gap_;
        }
        page.Skip(rowHeight_);
    }

    std::vector<TOutageColumn> columns_;
    QFont font_;
    QFont headerFont_;
    QFontMetrics metrics_;
    QFontMetrics headerMetrics_;
    std::vector<int> widths_;
    int rowHeight_ = 0;
    int gap_ = 0;
};

void DrawPlot(TReportPage& page, const TJournalReport& report) {
    TJournalPlotPainter plot(kDotsPerInch / kScreenDotsPerInch);
    plot.SetView(report.view);
    const QRect bounds(page.Page().left(), page.Y(), page.Page().width(),
                       int(page.Page().width() * kPlotProportion));
    page.Painter().setFont(Font(kSmallPoints));
    plot.Draw(page.Painter(), bounds, {kInk, kPaper, kInk});
    page.Skip(bounds.height());
}

// The outages after the plot, on this page and the next; where they do not fit, the longest.
void DrawOutages(QPdfWriter& writer, TReportPage& page, const TJournalReport& report) {
    const QFont section = Font(kSectionPoints, true);
    const int sectionHeight = QFontMetrics(section, &writer).height();
    const size_t count = report.view.outages.size();
    page.Paragraph(QStringLiteral("Outages"), section, kInk);
    if (count == 0) {
        page.Paragraph(QStringLiteral("No outages in this period."), Font(kTextPoints), kInk);
        return;
    }
    TOutageTable table(report, &writer);
    const int row = table.RowHeight();
    const int noteHeight = QFontMetrics(Font(kSmallPoints), &writer).height() * 2;
    // Room on this page under the header and, for a second page, under its title and header.
    const int here = std::max(0, (page.Bottom() - page.Y() - row - noteHeight) / row);
    const int next = (page.Page().height() - sectionHeight - row - noteHeight) / row;
    const std::vector<TJournalOutage> listed =
        ListedOutages(report, count <= size_t(here) ? size_t(here) : size_t(here + next));
    table.Measure(listed, page.Page().width());
    if (listed.size() < count) {
        page.Paragraph(QStringLiteral("The %1 longest of the %2 outages, oldest first.")
                           .arg(listed.size())
                           .arg(count),
                       Font(kSmallPoints), kQuiet);
    } else {
        page.Paragraph(QStringLiteral("%1 %2, oldest first.")
                           .arg(count)
                           .arg(count == 1 ? QStringLiteral("outage") : QStringLiteral("outages")),
                       Font(kSmallPoints), kQuiet);
    }
    table.Header(page);
    for (size_t i = 0; i < listed.size(); ++i) {
        if (page.Y() + row > page.Bottom()) {
            writer.newPage();
            page.StartPage();
            page.Paragraph(QStringLiteral("Outages, continued"), section, kInk);
            table.Header(page);
        }
        table.Outage(page, listed[i]);
    }
}

}  // namespace

QString ReportProgram() {
    return QStringLiteral("KAVREN Nodrel " NODREL_VERSION);
}

bool WriteReportPdf(const TJournalReport& report, const QString& path, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    const QString program = ReportProgram();
    {
        QPdfWriter writer(&file);
        writer.setResolution(kDotsPerInch);
        writer.setPageSize(
            QPageSize(platform::LocalePaperIsLetter() ? QPageSize::Letter : QPageSize::A4));
        const double margin = kMarginMillimetres;
        writer.setPageMargins({margin, margin, margin, margin}, QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Connection report: %1").arg(report.host));
        writer.setCreator(program);
        QPainter painter(&writer);
        if (!painter.isActive()) {
            if (error) *error = QStringLiteral("the PDF could not be started");
            file.cancelWriting();
            return false;
        }
        TReportPage page(
            painter, QRect(QPoint(0, 0), writer.pageLayout().paintRectPixels(kDotsPerInch).size()));
        page.Paragraph(QStringLiteral("Connection report: %1").arg(report.host),
                       Font(kTitlePoints, true), kInk);
        const std::vector<TReportSection> sections = ReportSections(report, program);
        const int labelsWidth = LabelsWidth(sections, &writer);
        const int sectionGap = QFontMetrics(Font(kTextPoints), &writer).height() / 2;
        for (const TReportSection& section : sections) {
            page.Skip(sectionGap);
            if (!section.title.isEmpty()) {
                page.Paragraph(section.title, Font(kSectionPoints, true), kInk);
            }
            page.Lines(section.lines, labelsWidth);
        }
        if (const QString note = RoundTripSourceNote(report); !note.isEmpty()) {
            page.Paragraph(note, Font(kSmallPoints), kQuiet);
        }
        page.Skip(sectionGap * 2);
        DrawPlot(page, report);
        page.Skip(sectionGap * 2);
        DrawOutages(writer, page, report);
        painter.end();
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace nodrel
