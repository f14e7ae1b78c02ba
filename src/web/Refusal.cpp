#include "web/Refusal.h"

#include "web/Pages.h"

#include <QDateTime>
#include <cstdio>

namespace web {

void logFailure(const Request& r, const QString& why) {
    const QString line =
        QStringLiteral("%1 test server: %2 %3 from %4 failed: %5\n")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), QString::fromStdString(r.method),
                 QString::fromStdString(r.path), QString::fromStdString(r.peer), why);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString answerNotStored() {
    return QStringLiteral("Ответ не сохранён: сервер не смог его записать. Подождите немного и выберите "
                          "ответ ещё раз.");
}

void refuse(Exchange& x, const std::exception& e) {
    const Request& r = x.request;
    logFailure(r, QString::fromUtf8(e.what()));
    QString heading, text, link = QStringLiteral("/"), caption = QStringLiteral("Попробовать ещё раз");
    if (r.path == "/answer") {
        heading = QStringLiteral("Ответ не сохранён");
        text = answerNotStored();
        link = QStringLiteral("/q");
        auto q = r.form.find("q");
        const int n = q == r.form.end() ? 0 : QString::fromStdString(q->second).toInt();
        if (n > 0) link += QStringLiteral("?n=%1").arg(n);
        caption = QStringLiteral("Вернуться к вопросу");
    } else if (r.path == "/finish") {
        heading = QStringLiteral("Тестирование ещё не завершено");
        text = QStringLiteral("Результат не сохранён: сервер не смог его записать. Подождите немного и "
                              "нажмите «Завершить тестирование» ещё раз.");
        link = QStringLiteral("/q");
        caption = QStringLiteral("Вернуться к вопросам");
    } else {
        heading = QStringLiteral("Сервер не ответил");
        text = QStringLiteral("Сервер тестирования сейчас не может это сделать; ничего не сохранено. "
                              "Подождите немного и попробуйте ещё раз.");
    }
    Response refused;
    refused.status = 503;
    refused.headers.emplace_back("Retry-After", "5");
    refused.body = pages::page(
        heading, QStringLiteral("<h1>%1</h1><p class=\"err\">%2</p><p><a class=\"btn\" "
                                "href=\"%3\">%4</a></p>")
                     .arg(pages::escape(heading), pages::escape(text), link, pages::escape(caption)));
    x.response = std::move(refused);
}

} // namespace web
