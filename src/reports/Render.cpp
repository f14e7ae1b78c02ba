#include "reports/Render.h"

#include "reports/Drawing.h"

#include "charts/Chart.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <QTextTable>
#include <algorithm>
#include <cmath>

namespace reports {

namespace {

using namespace drawing;

constexpr int kChartObject = QTextFormat::UserObject + 1;
constexpr int kChartBars = QTextFormat::UserProperty + 1;
constexpr int kCardsObject = QTextFormat::UserObject + 2;
constexpr int kCardsBlock = QTextFormat::UserProperty + 2;
constexpr int kCardsRow = QTextFormat::UserProperty + 3;

QPageLayout a4(const Report& r) {
    return QPageLayout(QPageSize(QPageSize::A4), r.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(20, 15, 15, 15), QPageLayout::Millimeter);
}

// The bar chart inside the text: one bar per criterion at its number, its score marked above
// it; drawn as the chart windows draw theirs, in vectors on the page's own painter.
class ChartObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    explicit ChartObject(Units u) : u_(u) {}
    void setWidth(double w) { width_ = w; }

    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat&) override { return {width_, u_.pt(190)}; }

    void drawObject(QPainter* p, const QRectF& rect, QTextDocument*, int,
                    const QTextFormat& format) override {
        const QVariantList list = format.property(kChartBars).toList();
        if (list.isEmpty()) return;
        charts::Chart c;
        for (const QVariant& v : list) {
            const QPointF bar = v.toPointF();
            c.points << charts::Point{bar.x(), bar.y(), charts::numberText(bar.y()),
                                      charts::palette().at(c.points.size() % charts::palette().size())};
        }
        c.xTitle = QStringLiteral("Критерий");
        c.unit = u_.pt(0.75); // a screen pixel is 3/4 of a point
        c.arrow = 14 * c.unit;
        c.font = font(kSans, 8);
        c.titleFont = c.font;
        charts::paint(*p, c, charts::layOut(c, rect, p->device()));
    }

private:
    Units u_;
    double width_ = 0;
};

// A row of cards inside the text, as high as a page holds `rows` of, so that the text layout
// moves a row that does not fit to the next page whole.
class CardsObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    explicit CardsObject(Units u) : u_(u) {}
    void setPage(QSizeF page) { page_ = page; }
    int add(const Cards* cards) {
        blocks_.push_back(cards);
        return int(blocks_.size()) - 1;
    }

    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat& format) override {
        const Cards* c = cards(format);
        // A little less than the share of a page: the line around the object takes a point or two.
        const double h = c ? page_.height() / std::max(1, c->rows) - u_.pt(3) : 0;
        return {page_.width(), std::max(0.0, h)};
    }

    void drawObject(QPainter* p, const QRectF& rect, QTextDocument*, int,
                    const QTextFormat& format) override {
        if (const Cards* c = cards(format)) drawCardRow(p, rect, *c, format.intProperty(kCardsRow), u_);
    }

private:
    const Cards* cards(const QTextFormat& format) const {
        const int i = format.intProperty(kCardsBlock);
        return i >= 0 && i < int(blocks_.size()) ? blocks_[size_t(i)] : nullptr;
    }
    Units u_;
    QSizeF page_;
    std::vector<const Cards*> blocks_;
};

// The report as a text document laid out for one device.
class Layout {
public:
    Layout(const Report& report, QPagedPaintDevice* device)
        : u_{double(device->logicalDpiY())}, chart_(u_), cards_(u_) {
        const QRectF paint = device->pageLayout().paintRectPixels(device->logicalDpiY()).toRectF();
        footer_ = u_.pt(28);
        page_ = QSizeF(paint.width(), paint.height() - footer_);
        chart_.setWidth(page_.width() * 0.9);
        cards_.setPage(page_);
        doc_.setUndoRedoEnabled(false);
        doc_.setDocumentMargin(0);
        doc_.setDefaultFont(font(kSerif, 11));
        doc_.documentLayout()->setPaintDevice(device);
        doc_.setPageSize(page_);
        doc_.documentLayout()->registerHandler(kChartObject, &chart_);
        doc_.documentLayout()->registerHandler(kCardsObject, &cards_);
        // In one edit block, so that it is laid out once, when complete: a table grown cell by
        // cell would be laid out again at every cell.
        build(report);
    }

    int pages() const { return doc_.pageCount(); }
    double pageHeight() const { return page_.height(); }
    double footerHeight() const { return footer_; }
    double width() const { return page_.width(); }

    void drawPage(QPainter* p, int i) {
        p->save();
        // A table row that runs over a page break would draw its borders into the footer.
        p->setClipRect(QRectF(0, 0, page_.width(), page_.height()));
        p->translate(0, -i * page_.height());
        QAbstractTextDocumentLayout::PaintContext ctx;
        ctx.clip = QRectF(0, i * page_.height(), page_.width(), page_.height());
        doc_.documentLayout()->draw(p, ctx);
        p->restore();
    }

    Units units() const { return u_; }

private:
    void build(const Report& report) {
        QTextCursor c(&doc_);
        c.beginEditBlock();
        bool first = true;
        bool breakNext = false;
        auto block = [&](const QTextBlockFormat& bf, const QTextCharFormat& cf) {
            QTextBlockFormat f = bf;
            if (breakNext) f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            breakNext = false;
            if (first) {
                c.setBlockFormat(f);
                c.setBlockCharFormat(cf);
                c.setCharFormat(cf);
            } else {
                c.insertBlock(f, cf);
            }
            first = false;
        };
        for (const Block& b : report.blocks) {
            if (const auto* h = std::get_if<Heading>(&b)) {
                QTextBlockFormat bf;
                bf.setTopMargin(Units::fmt(h->level == 1 ? 0 : 12));
                bf.setBottomMargin(Units::fmt(6));
                if (h->level == 1) bf.setAlignment(Qt::AlignHCenter);
                QTextCharFormat cf;
                cf.setFont(font(kSans, h->level == 1 ? 15 : 12.5, true));
                block(bf, cf);
                c.insertText(h->text, cf);
            } else if (const auto* para = std::get_if<Paragraph>(&b)) {
                QTextBlockFormat bf;
                bf.setTopMargin(Units::fmt(3));
                bf.setBottomMargin(Units::fmt(3));
                QTextCharFormat cf;
                cf.setFont(font(kSerif, 11, false, para->emphasis));
                block(bf, cf);
                c.insertText(para->text, cf);
            } else if (const auto* fields = std::get_if<Fields>(&b)) {
                Table t;
                t.widths = {30, 70};
                for (const auto& [label, value] : fields->rows)
                    t.rows.push_back({label, value});
                table(c, block, t, false);
            } else if (const auto* t = std::get_if<Table>(&b)) {
                table(c, block, *t, true);
            } else if (const auto* chart = std::get_if<BarChart>(&b)) {
                QTextBlockFormat bf;
                bf.setAlignment(Qt::AlignHCenter);
                bf.setTopMargin(Units::fmt(6));
                bf.setBottomMargin(Units::fmt(6));
                block(bf, QTextCharFormat());
                QTextCharFormat cf;
                cf.setObjectType(kChartObject);
                QVariantList bars;
                for (const auto& [krit, score] : chart->bars)
                    bars << QPointF(krit, score);
                cf.setProperty(kChartBars, bars);
                c.insertText(QString(QChar::ObjectReplacementCharacter), cf);
            } else if (std::holds_alternative<PageBreak>(b)) {
                breakNext = true;
            } else if (const auto* cards = std::get_if<Cards>(&b)) {
                cardRows(c, block, *cards);
            }
        }
        c.endEditBlock();
    }

    template <typename BlockFn> void cardRows(QTextCursor& c, BlockFn& block, const Cards& cards) {
        const int index = cards_.add(&cards);
        const int columns = std::max(1, cards.columns);
        const int rows = int((cards.cards.size() + size_t(columns) - 1) / size_t(columns));
        // A tiny font for the line the row stands on: its descent adds to the row's height.
        QTextCharFormat line;
        line.setFont(font(kSans, 1));
        for (int row = 0; row < rows; ++row) {
            block(QTextBlockFormat(), line);
            QTextCharFormat cf = line;
            cf.setObjectType(kCardsObject);
            cf.setProperty(kCardsBlock, index);
            cf.setProperty(kCardsRow, row);
            c.insertText(QString(QChar::ObjectReplacementCharacter), cf);
        }
    }

    template <typename BlockFn> void table(QTextCursor& c, BlockFn& block, const Table& t, bool ruled) {
        QTextBlockFormat bf;
        bf.setTopMargin(Units::fmt(2));
        block(bf, QTextCharFormat());
        const int rows = int(t.rows.size()) + (t.header.isEmpty() ? 0 : 1);
        const int cols = int(t.widths.size());
        if (rows == 0 || cols == 0) return;
        QTextTableFormat tf;
        tf.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        QList<QTextLength> widths;
        for (int w : t.widths)
            widths << QTextLength(QTextLength::PercentageLength, w);
        tf.setColumnWidthConstraints(widths);
        tf.setCellSpacing(0);
        tf.setCellPadding(Units::fmt(ruled ? 2.5 : 1.5));
        tf.setBorder(ruled ? Units::fmt(0.4) : 0);
        tf.setBorderBrush(Qt::black);
        tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        // Separate cell borders: collapsing them makes Qt look up each cell's neighbours, which
        // took most of the time of a long table.
        tf.setBorderCollapse(false);
        tf.setHeaderRowCount(t.header.isEmpty() ? 0 : 1);
        tf.setTopMargin(Units::fmt(2));
        tf.setBottomMargin(Units::fmt(4));
        QTextTable* table = c.insertTable(rows, cols, tf);
        QTextCharFormat body;
        body.setFont(font(kSerif, !ruled ? 11 : t.small ? 8.5 : 10));
        QTextCharFormat head;
        head.setFont(font(kSans, 9.5, true));
        QTextCharFormat label;
        label.setFont(font(kSerif, 11, true));
        // Filled cell after cell with one cursor: looking a cell up by row and column is slow in
        // a long table. An empty cell is one empty block, so the next cell starts one position
        // after the end of this one's text.
        if (!t.header.isEmpty())
            for (int col = 0; col < cols; ++col) {
                QTextTableCell cell = table->cellAt(0, col);
                QTextCharFormat shade = cell.format();
                shade.setBackground(QColor(230, 230, 230));
                cell.setFormat(shade);
            }
        QTextBlockFormat centre;
        centre.setAlignment(Qt::AlignHCenter);
        std::vector<bool> numeric(size_t(cols), false);
        for (int col : t.numeric)
            if (col >= 0 && col < cols) numeric[size_t(col)] = true;
        QTextCursor at = table->cellAt(0, 0).firstCursorPosition();
        auto fill = [&](const QStringList& row, bool header) {
            for (int col = 0; col < cols; ++col) {
                if (numeric[size_t(col)]) at.setBlockFormat(centre);
                if (col < row.size())
                    at.insertText(row[col], header ? head : !ruled && col == 0 ? label : body);
                at.setPosition(at.position() + 1);
            }
        };
        if (!t.header.isEmpty()) fill(t.header, true);
        for (const QStringList& row : t.rows)
            fill(row, false);
        c.movePosition(QTextCursor::End);
    }

    Units u_;
    ChartObject chart_;
    CardsObject cards_;
    QTextDocument doc_;
    QSizeF page_;
    double footer_ = 0;
};

void drawFooter(QPainter* p, const Report& report, const Layout& layout, int page, int pages) {
    const Units u = layout.units();
    const double top = layout.pageHeight() + u.pt(8);
    const double w = layout.width();
    p->save();
    p->setPen(QPen(Qt::black, u.pt(0.5)));
    p->drawLine(QPointF(0, top), QPointF(w, top));
    const QFont f = font(kSerif, 9);
    p->setFont(f);
    const QFontMetricsF fm(f, p->device());
    const QRectF line(0, top + u.pt(3), w, fm.height());
    p->drawText(line, Qt::AlignRight | Qt::AlignVCenter,
                QStringLiteral("Страница %1 из %2").arg(page).arg(pages));
    QString left = report.footer;
    if (report.signatureLine) {
        const QString caption = QStringLiteral("Психолог:");
        p->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, caption);
        const double x = fm.horizontalAdvance(caption) + u.pt(4);
        const double y = line.bottom() - u.pt(1);
        p->drawLine(QPointF(x, y), QPointF(x + u.pt(150), y));
        p->drawText(QRectF(x, y, u.pt(150), fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                    QStringLiteral("(подпись)"));
        const double x2 = x + u.pt(165);
        p->drawLine(QPointF(x2, y), QPointF(x2 + u.pt(110), y));
        p->drawText(QRectF(x2, y, u.pt(110), fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                    QStringLiteral("(дата)"));
    } else if (!left.isEmpty()) {
        p->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, left);
    }
    p->restore();
}

} // namespace

void setUpPrinter(QPrinter* printer, const Report& report) {
    printer->setPageLayout(a4(report));
}

int paint(const Report& report, QPagedPaintDevice* device) {
    Layout layout(report, device);
    QPainter p;
    if (!p.begin(device)) throw ReportError(QStringLiteral("Не удалось начать печать отчёта."));
    const int pages = std::max(1, layout.pages());
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !device->newPage())
            throw ReportError(QStringLiteral("Не удалось начать новую страницу отчёта."));
        layout.drawPage(&p, i);
        drawFooter(&p, report, layout, i + 1, pages);
    }
    if (!p.end()) throw ReportError(QStringLiteral("Не удалось закончить печать отчёта."));
    return pages;
}

void savePdf(const Report& report, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo(path).isDir())
        throw ReportError(QStringLiteral("Отчёт не сохранён: %1 — это папка.").arg(shown));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ReportError(QStringLiteral("Отчёт не сохранён в %1: %2").arg(shown, file.errorString()));
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(a4(report));
        writer.setResolution(600);
        writer.setTitle(report.title);
        writer.setCreator(QStringLiteral("Программа психологического тестирования"));
        try {
            paint(report, &writer);
        } catch (...) {
            file.cancelWriting();
            throw;
        }
    }
    if (!file.commit())
        throw ReportError(QStringLiteral("Отчёт не сохранён в %1: %2").arg(shown, file.errorString()));
}

} // namespace reports

#include "Render.moc"
