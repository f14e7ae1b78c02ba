#pragma once
#include <QPaintDevice>
#include <QString>
#include <memory>

class SvgEngine;

// A paint device that writes what is painted on it as an SVG document: paths, with their
// fills (plain colours and linear gradients), outlines and clipping; text as outlines. Enough
// for the program's icon, without a module a Windows build cannot have.
class SvgPicture : public QPaintDevice {
public:
    SvgPicture(int width, int height, const QString& title);
    ~SvgPicture() override;

    QPaintEngine* paintEngine() const override;
    // The document, complete once the painter on it has ended.
    QByteArray document() const;

protected:
    int metric(PaintDeviceMetric m) const override;

private:
    int width_, height_;
    QString title_;
    std::unique_ptr<SvgEngine> engine_;
};
