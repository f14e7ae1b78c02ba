#pragma once
#include <QString>
#include <QStringList>
#include <stdexcept>
#include <variant>
#include <vector>

// A printed report as content, laid out on pages only when printed or saved, so that one report
// gives the same pages on the printer, in the preview and in a PDF.
namespace reports {

// A report that cannot be made; the message says why, for the user.
class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

struct Heading {
    QString text;
    int level = 1; // 1 the title, 2 a section
};
struct Paragraph {
    QString text;
    bool emphasis = false; // a notice: what is missing or not as expected
};
// Label and value lines, such as the testee's particulars.
struct Fields {
    std::vector<std::pair<QString, QString>> rows;
};
struct Table {
    QStringList header;
    std::vector<int> widths;  // percent of the text width, one per column
    std::vector<int> numeric; // columns of numbers, centred
    std::vector<QStringList> rows;
    bool small = false; // a smaller type, for many columns
};
// A bar chart of criterion scores, drawn as vector graphics.
struct BarChart {
    std::vector<std::pair<int, double>> bars; // criterion, score; in criterion order
};
struct PageBreak {};

// The modules of a QR code, without its quiet zone: size × size, row after row.
struct QrMatrix {
    int size = 0;
    std::vector<bool> dark;
    bool at(int x, int y) const { return dark[size_t(y) * size_t(size) + size_t(x)]; }
    bool empty() const { return size == 0; }
};
// A card to cut out and hand over, such as a testee's slip. Its texts are plain text; what
// does not fit is elided, so a long name never pushes the rest off the card.
struct Card {
    QStringList top;   // small lines above the title, one line each
    QString title;     // bold, two lines at most
    QString codeLabel; // small, above the code
    QString code;      // large monospace letters, made smaller if they do not fit
    QString linkLabel; // small, above the link
    QString link;      // bold on one line, made smaller if it does not fit: an address to type
    QStringList notes; // small lines at the end, two lines each at most
    QrMatrix qr;       // beside the code and the lines under it, drawn as vector squares; empty for none
};
// Cards in a grid of columns × rows to a page, with dashed cutting lines between them.
struct Cards {
    int columns = 2;
    int rows = 4;
    std::vector<Card> cards;
};

using Block = std::variant<Heading, Paragraph, Fields, Table, BarChart, PageBreak, Cards>;

struct Report {
    QString title;              // for the preview's caption and the suggested file name
    QString footer;             // left of the page number on every page
    bool signatureLine = false; // a line for the psychologist's signature in the footer
    bool landscape = false;     // for tables too wide for a portrait page
    std::vector<Block> blocks;

    template <typename T> void add(T block) { blocks.emplace_back(std::move(block)); }
};

} // namespace reports
