#include "reports/Slips.h"

#include "reports/QrCode.h"

#include <QUrl>
#include <QUrlQuery>

namespace reports {

QString slipAddress(const QString& address, const QString& code) {
    const QString given = address.trimmed();
    QUrl url(given.contains(QStringLiteral("://")) ? given : QStringLiteral("http://") + given);
    if (!url.isValid() || url.host().isEmpty())
        throw ReportError(QStringLiteral("Неверный адрес для бланков: «%1».").arg(address));
    if (url.path().isEmpty()) url.setPath(QStringLiteral("/"));
    if (!code.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("code"), code);
        url.setQuery(query);
    }
    return url.toString(QUrl::FullyEncoded);
}

Report slipsReport(const QString& testName, const QString& orgName, const QString& address,
                   const std::vector<Slip>& slips, const QString& groupCode) {
    const QString test = testName.isEmpty() ? QStringLiteral("без названия") : testName;
    Report rep;
    rep.title = QStringLiteral("Коды для тестирования — %1").arg(test);
    rep.footer = QStringLiteral("Коды для тестирования: «%1», %2").arg(test, orgName);
    auto card = [&](const QString& title, const QString& label, const QString& code, const QString& how) {
        Card c;
        c.top = {QStringLiteral("Тест: %1").arg(test)};
        if (!orgName.isEmpty()) c.top << orgName;
        c.title = title;
        c.codeLabel = label;
        c.code = code;
        c.linkLabel = QStringLiteral("Откройте в браузере адрес:");
        c.link = address.trimmed();
        c.notes = {how};
        c.qr = qrMatrix(slipAddress(address, code));
        return c;
    };
    Cards cards;
    cards.columns = 2;
    cards.rows = 4;
    for (const Slip& s : slips)
        cards.cards.push_back(card(s.name.isEmpty() ? QStringLiteral("(без имени)") : s.name,
                                   QStringLiteral("Ваш код:"), s.code,
                                   QStringLiteral("и введите свой код. Никому его не показывайте.")));
    if (!groupCode.isEmpty())
        cards.cards.push_back(card(QStringLiteral("Регистрация в группе"), QStringLiteral("Код группы:"),
                                   groupCode, QStringLiteral("введите код группы и заполните анкету.")));
    if (cards.cards.empty()) throw ReportError(QStringLiteral("Нет ни одного тестируемого для бланков."));
    rep.add(std::move(cards));
    return rep;
}

} // namespace reports
