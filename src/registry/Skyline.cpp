#include "registry/Skyline.h"

#include <QPainter>

namespace {
// The 16 standard colours the picture keeps to.
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kBlue(0, 0, 255), kGray(128, 128, 128),
    kSilver(192, 192, 192), kWhite(255, 255, 255), kYellow(255, 255, 0), kOlive(128, 128, 0),
    kTeal(0, 128, 128), kPurple(128, 0, 128);

// A fixed sequence, so the picture is the same on every run.
struct Dice {
    uint32_t s;
    int roll(int n) {
        s = s * 1103515245u + 12345u;
        return int((s >> 16) % uint32_t(n));
    }
};

struct Building {
    int x, w, h;
    QColor wall;
};
} // namespace

QPixmap SkylinePicture() {
    constexpr int W = 240, H = 180;
    QPixmap pm(W, H);
    QPainter p(&pm);
    // Sky in bands, darkest at the top, the way a 16-colour picture dithers it.
    p.fillRect(0, 0, W, H, kNavy);
    p.fillRect(0, 0, W, 60, kBlack);
    for (int y = 60; y < 80; y += 2)
        for (int x = (y / 2) % 2; x < W; x += 2)
            p.fillRect(x, y, 1, 1, kBlack);

    Dice dice{20260};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 60; ++i) {
        p.setBrush(i % 4 ? kSilver : kWhite);
        p.drawRect(dice.roll(W), dice.roll(100), 1, 1);
    }
    // The moon: a full disc with the sky taking a bite out of it.
    p.setBrush(kYellow);
    p.drawEllipse(178, 16, 30, 30);
    p.setBrush(kBlack);
    p.drawEllipse(188, 10, 28, 28);

    // Far row, then the near row in front of it.
    const Building far[] = {{0, 26, 70, kTeal},   {24, 18, 96, kTeal},   {40, 30, 62, kTeal},
                            {68, 22, 110, kTeal}, {88, 34, 80, kTeal},   {120, 20, 124, kTeal},
                            {138, 30, 72, kTeal}, {166, 24, 100, kTeal}, {188, 28, 84, kTeal},
                            {214, 26, 116, kTeal}};
    const Building near[] = {{-4, 34, 48, kGray},   {28, 28, 64, kPurple}, {54, 38, 40, kGray},
                             {90, 24, 76, kPurple}, {112, 40, 52, kGray},  {150, 26, 60, kPurple},
                             {174, 36, 44, kGray},  {208, 36, 70, kPurple}};
    auto draw = [&](const Building& b, const QColor& lit, int litOneIn) {
        const int top = H - b.h;
        p.setBrush(b.wall);
        p.drawRect(b.x, top, b.w, b.h);
        p.setBrush(kBlack);
        p.drawRect(b.x, top, b.w, 1); // roof line
        for (int y = top + 5; y < H - 6; y += 7)
            for (int x = b.x + 3; x + 3 < b.x + b.w; x += 6) {
                p.setBrush(dice.roll(litOneIn) == 0 ? lit : kBlack);
                p.drawRect(x, y, 3, 4);
            }
    };
    for (const Building& b : far)
        draw(b, kOlive, 3);
    // A mast with its warning light on the tallest far tower.
    p.setBrush(kSilver);
    p.drawRect(129, H - 124 - 18, 2, 18);
    p.setBrush(QColor(255, 0, 0));
    p.drawRect(128, H - 124 - 20, 4, 3);
    for (const Building& b : near)
        draw(b, kYellow, 2);
    // The street along the bottom with its lamps.
    p.setBrush(kBlack);
    p.drawRect(0, H - 6, W, 6);
    p.setBrush(kBlue);
    for (int x = 8; x < W; x += 40)
        p.drawRect(x, H - 5, 10, 1);
    return pm;
}
