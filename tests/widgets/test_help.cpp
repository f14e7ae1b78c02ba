// The help viewer on the shipped document: contents, the seven topics, pop-ups, and what it
// reports for a help file or a topic it cannot find.
#include "UiTest.h"
#include "widgets/Help.h"

#include <QFile>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QString kHelpFile = QStringLiteral("C:\\Morvanta\\Help\\Morvanta.hlp");

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = ui::help::helpFile();
        ui::help::setHelpFile(kHelpFile);
    }
    void TearDown() override {
        ui::help::closeAll();
        ui::help::setHelpFile(previous_);
    }
    static QString viewerText() {
        auto* v = qobject_cast<QTextBrowser*>(ui::help::viewerWindow());
        return v ? v->toPlainText() : QString();
    }

    MessageRecorder messages;
    QString previous_;
};

// A phrase of each topic's heading, and one that only another topic has.
const char* const kHeadings[] = {"Главное окно и порядок работы",
                                 "Выбор и регистрация учреждения",
                                 "Выбор и регистрация тестируемого",
                                 "Выбор теста из списка",
                                 "Выбор типа теста",
                                 "Окно тестирования",
                                 "Проверка ответов, результаты и диаграммы"};

} // namespace

TEST_F(HelpTest, ContentsAndEveryTopicLoadFromTheProgramsHelpPath) {
    ASSERT_TRUE(ui::help::showContents());
    ASSERT_NE(ui::help::viewerWindow(), nullptr);
    EXPECT_TRUE(ui::help::viewerWindow()->isVisible());
    EXPECT_TRUE(viewerText().contains(QStringLiteral("Разделы справки")));

    for (int ctx = 1; ctx <= 7; ++ctx) {
        SCOPED_TRACE(ctx);
        ASSERT_TRUE(ui::help::showContext(ctx));
        const QString text = viewerText();
        EXPECT_TRUE(text.startsWith(QString::fromUtf8(kHeadings[ctx - 1]))) << text.left(80).toStdString();
        // One topic per page: neither the contents nor the next topic comes along.
        EXPECT_FALSE(text.contains(QStringLiteral("Разделы справки")));
        if (ctx < 7) {
            EXPECT_FALSE(text.contains(QString::fromUtf8(kHeadings[ctx])));
        }
    }
    EXPECT_TRUE(messages.entries.empty()) << messages.texts().join('\n').toStdString();
}

TEST_F(HelpTest, ContentsLinksLeadToTheirTopics) {
    QFile f(QStringLiteral(":/help/morvanta.html"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(f.readAll());
    const int contentsEnd = html.indexOf(QStringLiteral("</section>"));
    for (int ctx = 1; ctx <= 7; ++ctx)
        EXPECT_GT(html.left(contentsEnd).indexOf(QStringLiteral("href=\"#context-%1\"").arg(ctx)), 0) << ctx;

    ASSERT_TRUE(ui::help::showContents());
    auto* viewer = qobject_cast<QTextBrowser*>(ui::help::viewerWindow());
    ASSERT_NE(viewer, nullptr);
    emit viewer->anchorClicked(QUrl(QStringLiteral("#context-6")));
    EXPECT_TRUE(viewerText().startsWith(QStringLiteral("Окно тестирования")));
    emit viewer->anchorClicked(QUrl(QStringLiteral("#contents")));
    EXPECT_TRUE(viewerText().contains(QStringLiteral("Разделы справки")));
}

TEST_F(HelpTest, PopupShowsTheTopicAtTheRequestedPoint) {
    ASSERT_TRUE(ui::help::showPopup(6, QPoint(120, 90)));
    QWidget* popup = ui::help::popupWindow();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), QPoint(120, 90));
    auto* text = popup->findChild<QTextBrowser*>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().startsWith(QStringLiteral("Окно тестирования")));

    // The same pop-up moves to the next point with the next topic.
    ASSERT_TRUE(ui::help::showPopup(2, QPoint(40, 300)));
    EXPECT_EQ(ui::help::popupWindow(), popup);
    EXPECT_EQ(popup->pos(), QPoint(40, 300));
    EXPECT_TRUE(text->toPlainText().startsWith(QStringLiteral("Выбор и регистрация учреждения")));

    // Near the screen's corner it stays wholly on the screen.
    const QRect area = popup->screen()->availableGeometry();
    ASSERT_TRUE(ui::help::showPopup(2, area.bottomRight()));
    EXPECT_TRUE(area.contains(popup->frameGeometry())) << popup->x() << "," << popup->y();

    // A link in the pop-up opens its target in the viewer.
    emit text->anchorClicked(QUrl(QStringLiteral("#contents")));
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(viewerText().contains(QStringLiteral("Разделы справки")));
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(HelpTest, MissingDocumentOrTopicIsReportedAndRefused) {
    ui::help::setHelpFile(QStringLiteral("C:\\Morvanta\\Help\\Nothing.hlp"));
    EXPECT_FALSE(ui::help::showContents());
    EXPECT_FALSE(ui::help::showContext(1));
    EXPECT_FALSE(ui::help::showPopup(1, QPoint(10, 10)));
    ASSERT_EQ(messages.entries.size(), 3u);
    for (const auto& e : messages.entries) {
        EXPECT_EQ(e.kind, ui::MessageKind::Error);
        EXPECT_TRUE(e.text.contains(QStringLiteral("Nothing.hlp"))) << e.text.toStdString();
    }

    messages.clear();
    ui::help::setHelpFile(kHelpFile);
    EXPECT_FALSE(ui::help::showContext(99));
    EXPECT_FALSE(ui::help::showPopup(0, QPoint(10, 10)));
    ASSERT_EQ(messages.entries.size(), 2u);
    EXPECT_TRUE(messages.entries[0].text.contains(QStringLiteral("99")))
        << messages.entries[0].text.toStdString();
    EXPECT_EQ(messages.entries[0].kind, ui::MessageKind::Error);
    // A refused topic leaves no empty viewer behind.
    EXPECT_TRUE(ui::help::viewerWindow() == nullptr || !ui::help::viewerWindow()->isVisible());
}
