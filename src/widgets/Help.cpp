#include "widgets/Help.h"

#include "widgets/Messages.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace ui::help {

namespace {

QString& file() {
    static QString f;
    return f;
}
QPointer<QTextBrowser> viewer;
QPointer<QFrame> popup;

// The shipped document for a help file path: the file's base name, lower case, as HTML.
QString documentFor(const QString& path) {
    QString name = path.section(QLatin1Char('\\'), -1).section(QLatin1Char('/'), -1);
    name = QFileInfo(name).completeBaseName().toLower();
    if (name.isEmpty()) return {};
    const QString res = QStringLiteral(":/help/%1.html").arg(name);
    if (QFile::exists(res)) return res;
    const QString local =
        QFileInfo(path).suffix().compare(QLatin1String("html"), Qt::CaseInsensitive) == 0 ? path : QString();
    return !local.isEmpty() && QFile::exists(local) ? local : QString();
}

bool loadDocument(QString* html) {
    const QString doc = documentFor(file());
    QFile f(doc);
    if (doc.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        ShowError(QStringLiteral("Не удается открыть файл справки «%1».").arg(file()));
        return false;
    }
    *html = QString::fromUtf8(f.readAll());
    return true;
}

// The <section id="<anchor>"> of the document, as a page of its own; empty when there is none.
QString section(const QString& html, const QString& anchor) {
    const QRegularExpression start(QStringLiteral("<section[^>]*id=\"%1\"[^>]*>").arg(anchor));
    const auto m = start.match(html);
    if (!m.hasMatch()) return {};
    const int end = html.indexOf(QLatin1String("</section>"), m.capturedEnd());
    const int headEnd = html.indexOf(QLatin1String("<body"));
    const QString head = headEnd > 0 ? html.left(headEnd) : QString();
    return head + QStringLiteral("<body>") +
           html.mid(m.capturedStart(), (end < 0 ? html.size() : end) - m.capturedStart()) +
           QStringLiteral("</section></body></html>");
}

bool topic(int context, QString* out) {
    QString html;
    if (!loadDocument(&html)) return false;
    *out = section(html, QStringLiteral("context-%1").arg(context));
    if (out->isEmpty()) {
        ShowError(QStringLiteral("Раздел справки %1 не найден в файле «%2».").arg(context).arg(file()));
        return false;
    }
    return true;
}

// Links between the sections open their target in the viewer window.
void followLink(const QUrl& url) {
    const QString frag = url.fragment();
    if (popup) popup->hide();
    if (frag == QLatin1String("contents")) {
        showContents();
    } else if (frag.startsWith(QLatin1String("context-"))) {
        showContext(frag.mid(8).toInt());
    }
}

QTextBrowser* ensureViewer() {
    if (!viewer) {
        viewer = new QTextBrowser;
        viewer->setObjectName(QStringLiteral("HelpViewer"));
        viewer->setWindowFlag(Qt::Window);
        viewer->setAttribute(Qt::WA_DeleteOnClose, false);
        viewer->setOpenLinks(false);
        viewer->resize(560, 480);
        QObject::connect(viewer, &QTextBrowser::anchorClicked, viewer, followLink);
    }
    // A modal window blocks every other top-level window, so the viewer sits over it.
    QWidget* owner = QApplication::activeModalWidget();
    if (viewer->parentWidget() != owner) {
        viewer->setParent(owner, Qt::Window);
    }
    viewer->setWindowTitle(QStringLiteral("Справка: ") + QApplication::applicationDisplayName());
    return viewer;
}

void showInViewer(const QString& html) {
    QTextBrowser* v = ensureViewer();
    v->setHtml(html);
    v->show();
    v->raise();
}

} // namespace

void setHelpFile(const QString& path) {
    file() = path;
}
QString helpFile() {
    return file();
}

bool showContents() {
    QString html;
    if (!loadDocument(&html)) return false;
    const QString contents = section(html, QStringLiteral("contents"));
    showInViewer(contents.isEmpty() ? html : contents);
    return true;
}

bool showContext(int context) {
    QString html;
    if (!topic(context, &html)) return false;
    showInViewer(html);
    return true;
}

bool showPopup(int context, const QPoint& globalPos) {
    QString html;
    if (!topic(context, &html)) return false;
    if (!popup) {
        popup = new QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint);
        popup->setObjectName(QStringLiteral("HelpPopup"));
        popup->setFrameShape(QFrame::Box);
        popup->setAttribute(Qt::WA_DeleteOnClose, false);
        auto* text = new QTextBrowser(popup);
        text->setObjectName(QStringLiteral("HelpPopupText"));
        text->setFrameShape(QFrame::NoFrame);
        text->setOpenLinks(false);
        QObject::connect(text, &QTextBrowser::anchorClicked, text, followLink);
        auto* lay = new QVBoxLayout(popup);
        lay->setContentsMargins(4, 4, 4, 4);
        lay->addWidget(text);
        popup->resize(380, 260);
    }
    popup->findChild<QTextBrowser*>()->setHtml(html);
    // At the point, but kept on the screen for a control near its right or bottom edge.
    QPoint pos = globalPos;
    if (const QScreen* screen = QGuiApplication::screenAt(globalPos)) {
        const QRect area = screen->availableGeometry();
        pos.setX(std::max(area.left(), std::min(pos.x(), area.right() + 1 - popup->width())));
        pos.setY(std::max(area.top(), std::min(pos.y(), area.bottom() + 1 - popup->height())));
    }
    popup->move(pos);
    popup->show();
    return true;
}

QWidget* viewerWindow() {
    return viewer;
}
QWidget* popupWindow() {
    return popup;
}

void closeAll() {
    if (popup) popup->hide();
    if (viewer) viewer->hide();
}

} // namespace ui::help
