#include "SvgPainter.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace {

QString num(double v) {
    QString s = QString::number(v, 'f', 3);
    while (s.contains(QLatin1Char('.')) && (s.endsWith(QLatin1Char('0')) || s.endsWith(QLatin1Char('.'))))
        s.chop(1);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

QString pathData(const QPainterPath& path) {
    QString d;
    QPointF start, at;
    // A figure that ends where it began is closed, so that its outline joins there too.
    auto close = [&] {
        if (!d.isEmpty() && at == start) d += QLatin1Char('Z');
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            close();
            start = at = QPointF(e.x, e.y);
            d += QStringLiteral("M%1 %2").arg(num(e.x), num(e.y));
            break;
        case QPainterPath::LineToElement:
            d += QStringLiteral("L%1 %2").arg(num(e.x), num(e.y));
            at = QPointF(e.x, e.y);
            break;
        case QPainterPath::CurveToElement: {
            const QPainterPath::Element c2 = path.elementAt(i + 1), to = path.elementAt(i + 2);
            d += QStringLiteral("C%1 %2 %3 %4 %5 %6")
                     .arg(num(e.x), num(e.y), num(c2.x), num(c2.y), num(to.x), num(to.y));
            at = QPointF(to.x, to.y);
            i += 2;
            break;
        }
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    close();
    return d;
}

QString colour(const QColor& c) {
    return c.name(QColor::HexRgb);
}

} // namespace

// Every primitive reaches drawPath (or an image) in device coordinates; the painter's own
// fallbacks turn rectangles, ellipses and text into paths.
class SvgEngine : public QPaintEngine {
public:
    SvgEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& s) override {
        const QPaintEngine::DirtyFlags f = s.state();
        if (f & DirtyPen) pen_ = s.pen();
        if (f & DirtyBrush) brush_ = s.brush();
        if (f & DirtyTransform) transform_ = s.transform();
        if (f & DirtyClipEnabled) clipOn_ = s.isClipEnabled();
        if (f & DirtyClipPath) setClip(s.clipOperation(), s.clipPath());
        if (f & DirtyClipRegion) {
            QPainterPath p;
            p.addRegion(s.clipRegion());
            setClip(s.clipOperation(), p);
        }
    }

    void drawPath(const QPainterPath& path) override {
        const QPainterPath mapped = transform_.map(path);
        body_ += QStringLiteral("<path d=\"%1\"%2%3%4/>\n")
                     .arg(pathData(mapped), fill(path.fillRule()), stroke(), clipAttribute());
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
        if (count < 2) return;
        QPainterPath path(points[0]);
        for (int i = 1; i < count; ++i)
            path.lineTo(points[i]);
        if (mode == PolylineMode) {
            const QBrush keep = brush_;
            brush_ = Qt::NoBrush;
            drawPath(path);
            brush_ = keep;
            return;
        }
        path.closeSubpath();
        path.setFillRule(mode == OddEvenMode ? Qt::OddEvenFill : Qt::WindingFill);
        drawPath(path);
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr,
                   Qt::ImageConversionFlags) override {
        QByteArray png;
        QBuffer buf(&png);
        buf.open(QIODevice::WriteOnly);
        image.copy(sr.toAlignedRect()).save(&buf, "PNG");
        const QRectF to = transform_.mapRect(r);
        body_ += QStringLiteral("<image x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                                "href=\"data:image/png;base64,%5\"%6/>\n")
                     .arg(num(to.x()), num(to.y()), num(to.width()), num(to.height()),
                          QString::fromLatin1(png.toBase64()), clipAttribute());
    }

    QString defs_, body_;

private:
    void setClip(Qt::ClipOperation op, const QPainterPath& path) {
        const QPainterPath mapped = transform_.map(path);
        if (op == Qt::NoClip) {
            clip_.clear();
            return;
        }
        const QPainterPath area =
            op == Qt::IntersectClip && clipOn_ && !clip_.isEmpty() ? clipArea_.intersected(mapped) : mapped;
        clipArea_ = area;
        clip_ = QStringLiteral("c%1").arg(++ids_);
        defs_ +=
            QStringLiteral("<clipPath id=\"%1\"><path d=\"%2\"/></clipPath>\n").arg(clip_, pathData(area));
        clipOn_ = true;
    }

    QString clipAttribute() const {
        return clipOn_ && !clip_.isEmpty() ? QStringLiteral(" clip-path=\"url(#%1)\"").arg(clip_) : QString();
    }

    QString paint(const QBrush& b, const char* what) {
        if (b.style() == Qt::LinearGradientPattern) {
            const auto* g = static_cast<const QLinearGradient*>(b.gradient());
            const QString id = QStringLiteral("g%1").arg(++ids_);
            const QPointF a = transform_.map(g->start()), z = transform_.map(g->finalStop());
            defs_ += QStringLiteral("<linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" x1=\"%2\" "
                                    "y1=\"%3\" x2=\"%4\" y2=\"%5\">")
                         .arg(id, num(a.x()), num(a.y()), num(z.x()), num(z.y()));
            for (const QGradientStop& s : g->stops())
                defs_ += QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\" stop-opacity=\"%3\"/>")
                             .arg(num(s.first), colour(s.second), num(s.second.alphaF()));
            defs_ += QStringLiteral("</linearGradient>\n");
            return QStringLiteral(" %1=\"url(#%2)\"").arg(QLatin1String(what), id);
        }
        QString out = QStringLiteral(" %1=\"%2\"").arg(QLatin1String(what), colour(b.color()));
        if (b.color().alpha() < 255)
            out += QStringLiteral(" %1-opacity=\"%2\"").arg(QLatin1String(what), num(b.color().alphaF()));
        return out;
    }

    QString fill(Qt::FillRule rule) {
        if (brush_.style() == Qt::NoBrush) return QStringLiteral(" fill=\"none\"");
        return paint(brush_, "fill") +
               (rule == Qt::OddEvenFill ? QStringLiteral(" fill-rule=\"evenodd\"") : QString());
    }

    QString stroke() {
        if (pen_.style() == Qt::NoPen || pen_.brush().style() == Qt::NoBrush) return QString();
        const double scale = std::sqrt(std::abs(transform_.determinant()));
        double width = pen_.widthF() > 0 ? pen_.widthF() : 1;
        if (!pen_.isCosmetic()) width *= scale;
        static const char* const caps[] = {"butt", "square", "round"};
        static const char* const joins[] = {"miter", "bevel", "round"};
        const int cap = pen_.capStyle() == Qt::SquareCap ? 1 : pen_.capStyle() == Qt::RoundCap ? 2 : 0;
        const int join = pen_.joinStyle() == Qt::BevelJoin ? 1 : pen_.joinStyle() == Qt::RoundJoin ? 2 : 0;
        return paint(pen_.brush(), "stroke") +
               QStringLiteral(" stroke-width=\"%1\" stroke-linecap=\"%2\" "
                              "stroke-linejoin=\"%3\"")
                   .arg(num(width), QLatin1String(caps[cap]), QLatin1String(joins[join]));
    }

    QPen pen_;
    QBrush brush_;
    QTransform transform_;
    bool clipOn_ = false;
    QString clip_;
    QPainterPath clipArea_;
    int ids_ = 0;
};

SvgPicture::SvgPicture(int width, int height, const QString& title)
    : width_(width), height_(height), title_(title), engine_(std::make_unique<SvgEngine>()) {}

SvgPicture::~SvgPicture() = default;

QPaintEngine* SvgPicture::paintEngine() const {
    return engine_.get();
}

QByteArray SvgPicture::document() const {
    const QString w = QString::number(width_), h = QString::number(height_);
    QString doc = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                                 "viewBox=\"0 0 %1 %2\">\n<title>%3</title>\n")
                      .arg(w, h, title_.toHtmlEscaped());
    if (!engine_->defs_.isEmpty())
        doc += QStringLiteral("<defs>\n") + engine_->defs_ + QStringLiteral("</defs>\n");
    doc += engine_->body_ + QStringLiteral("</svg>\n");
    return doc.toUtf8();
}

int SvgPicture::metric(PaintDeviceMetric m) const {
    switch (m) {
    case PdmWidth:
        return width_;
    case PdmHeight:
        return height_;
    case PdmWidthMM:
        return qRound(width_ * 25.4 / 96);
    case PdmHeightMM:
        return qRound(height_ * 25.4 / 96);
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return 96;
    case PdmDepth:
        return 32;
    case PdmNumColors:
        return INT_MAX;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(m);
    }
}
