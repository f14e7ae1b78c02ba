#include "web/Pages.h"

#include <algorithm>

namespace web::pages {

QString escape(const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

namespace {

const char kStyle[] = R"(
*{box-sizing:border-box}
body{margin:0;font:18px/1.4 "DejaVu Sans",Arial,sans-serif;color:#111;background:#f4f4f0;overflow-wrap:anywhere}
fieldset{min-width:0}
main{max-width:760px;margin:0 auto;padding:12px}
h1{font-size:22px;margin:8px 0 12px}
.head{display:flex;justify-content:space-between;flex-wrap:wrap;gap:0 12px;align-items:baseline}
.head h1{margin:6px 0}
.done{font-weight:bold;white-space:nowrap}
.bar{display:block;width:100%;height:14px;margin:2px 0 8px;accent-color:#1d5fa8}
.text{background:#fff;border:1px solid #bbb;padding:12px;margin:8px 0;white-space:pre-wrap}
.opts{display:grid;gap:8px;margin:12px 0;grid-auto-columns:minmax(0,1fr)}
button,.btn,input,select{font:inherit}
button,.btn{min-height:48px;min-width:48px;padding:8px 14px;border:1px solid #666;border-radius:6px;background:#fff;
 color:#111;text-decoration:none;display:inline-block;text-align:center;cursor:pointer}
.opt{width:100%;text-align:left}
.opt.on{background:#1d5fa8;color:#fff;border-color:#1d5fa8;font-weight:bold}
.opt.on::before{content:"\2714  " / ""}
.large .text,.large .opt{font-size:28px}
:focus{outline:none}
:focus-visible{outline:3px solid #f0a000;outline-offset:2px}
.nav{display:flex;flex-wrap:wrap;gap:8px;margin:12px 0}
.nav form{display:flex;flex-wrap:wrap;gap:6px;align-items:center}
.fin{margin:12px 0}
input[type=text],input[type=number],select{min-height:44px;max-width:100%;padding:6px;border:1px solid #666;border-radius:4px}
.pick{display:flex;align-items:center;gap:10px;min-height:44px;margin:4px 0}
.pick input{width:24px;height:24px;margin:0}
.code{font-size:28px;letter-spacing:4px;width:9em;text-transform:uppercase}
.ok{background:#e3f4e1;border:1px solid #4a9a40;padding:8px}
.err{background:#fde4e1;border:1px solid #c0392b;padding:8px}
label{display:block;margin:10px 0 4px}
.wide{width:100%}
.big{font-size:32px;letter-spacing:6px;font-weight:bold;overflow-wrap:anywhere}
.muted{color:#555;font-size:15px}
@media(max-width:520px){
 body{font-size:17px}
 main{padding:8px}
 .opts{grid-template-rows:none!important;grid-auto-flow:row!important;gap:6px;margin:8px 0}
 h1,.head h1{font-size:19px;margin:4px 0}
 .text{padding:8px;margin:6px 0}
 .ok,.err{padding:4px 8px;margin:6px 0;font-size:16px}
 button,.btn{min-height:44px;min-width:44px;padding:6px 10px}
 .pn{display:grid;grid-template-columns:1fr 1fr;margin:8px 0}
 .pn .btn{font-size:16px;padding:6px 4px}
 .pn .btn:only-child{grid-column:span 2}
 .fin{margin:8px 0}
 .fin button{width:100%}
}
@media(max-width:300px){
 .done{white-space:normal}
 .pn{grid-template-columns:1fr}
 .pn .btn:only-child{grid-column:auto}
}
)";

QString hidden(const std::string& token) {
    return QStringLiteral("<input type=\"hidden\" name=\"t\" value=\"%1\">")
        .arg(QString::fromStdString(token));
}

QString noticeBox(const QString& text, bool error) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p class=\"%1\" role=\"status\">%2</p>")
        .arg(error ? QStringLiteral("err") : QStringLiteral("ok"), escape(text));
}

QString back() {
    return QStringLiteral("<p><a class=\"btn\" href=\"/\">К вводу кода</a></p>");
}

} // namespace

std::string page(const QString& title, const QString& body, bool large) {
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                       "<title>%1</title><style>%2</style>"
                       "<script src=\"/s.js\" defer></script></head>"
                       "<body%3><main>%4</main></body></html>\n")
            .arg(escape(title), QString::fromLatin1(kStyle),
                 large ? QStringLiteral(" class=\"large\"") : QString(), body);
    return html.toStdString();
}

std::string codeEntry(const std::string& token, const QString& message, bool error, const QString& code) {
    return page(QStringLiteral("Психологическое тестирование"),
                QStringLiteral("<h1>Психологическое тестирование</h1>%1"
                               "<form method=\"post\" action=\"/code\">%2"
                               "<label for=\"kod\">Введите код, который вам выдал психолог:</label>"
                               "<input id=\"kod\" class=\"code\" type=\"text\" name=\"kod\" maxlength=\"12\" "
                               "autocomplete=\"off\" autocapitalize=\"characters\" spellcheck=\"false\" "
                               "required autofocus%3> "
                               "<button type=\"submit\">Войти</button></form>")
                    .arg(noticeBox(message, error), hidden(token),
                         code.isEmpty() ? QString() : QStringLiteral(" value=\"%1\"").arg(escape(code))));
}

std::string confirm(const std::string& token, const QString& name, const QString& testName) {
    return page(QStringLiteral("Подтверждение"),
                QStringLiteral("<h1>%1</h1><p>Тестируемый:</p><p class=\"text\"><b>%2</b></p>"
                               "<p>Это вы?</p><div class=\"nav\">"
                               "<form method=\"post\" action=\"/start\">%3"
                               "<button type=\"submit\" autofocus>Да, начать</button></form>"
                               "<form method=\"post\" action=\"/leave\">%3"
                               "<button type=\"submit\">Нет, это не я</button></form></div>")
                    .arg(escape(testName), escape(name), hidden(token)));
}

std::string registration(const std::string& token, const QString& testName,
                         const std::vector<std::pair<int, QString>>& educations, const Registration& f,
                         const QString& error) {
    QString options = QStringLiteral("<option value=\"0\">—</option>");
    for (const auto& [code, text] : educations)
        options += QStringLiteral("<option value=\"%1\"%2>%3</option>")
                       .arg(code)
                       .arg(code == f.education ? QStringLiteral(" selected") : QString())
                       .arg(escape(text));
    auto field = [](const char* name, const QString& caption, const QString& value, int max, bool required) {
        return QStringLiteral("<label for=\"%1\">%2</label><input id=\"%1\" class=\"wide\" type=\"text\" "
                              "name=\"%1\" maxlength=\"%3\" value=\"%4\"%5>")
            .arg(QLatin1String(name), caption)
            .arg(max)
            .arg(escape(value), required ? QStringLiteral(" required") : QString());
    };
    auto sex = [&](const QString& v) {
        return QStringLiteral(
                   "<label class=\"pick\"><input type=\"radio\" name=\"pol\" value=\"%1\"%2> %1</label>")
            .arg(v, f.sex == v ? QStringLiteral(" checked") : QString());
    };
    return page(QStringLiteral("Регистрация"),
                QStringLiteral(
                    "<h1>%1</h1><p>Заполните анкету.</p>%2"
                    "<form method=\"post\" action=\"/register\">%3%4%5%6"
                    "<fieldset><legend>Пол</legend>%7%8</fieldset>"
                    "<label for=\"god\">Год рождения</label>"
                    "<input id=\"god\" type=\"number\" name=\"god\" min=\"1900\" max=\"2100\" value=\"%9\">"
                    "<label for=\"obr\">Образование</label><select id=\"obr\" name=\"obr\" "
                    "class=\"wide\">%10</select>"
                    "<p><button type=\"submit\">Зарегистрироваться</button></p></form>")
                    .arg(escape(testName), noticeBox(error, true), hidden(token),
                         field("fam", QStringLiteral("Фамилия"), f.surname, 15, true),
                         field("nam", QStringLiteral("Имя"), f.name, 15, true),
                         field("otch", QStringLiteral("Отчество"), f.patronymic, 20, false),
                         sex(QStringLiteral("М")), sex(QStringLiteral("Ж")), escape(f.year), options));
}

std::string personalCode(const QString& code, int firstQuestion) {
    return page(QStringLiteral("Ваш код"),
                QStringLiteral("<h1>Вы зарегистрированы</h1><p>Ваш личный код:</p><p class=\"big\">%1</p>"
                               "<p>Запишите его: с ним можно продолжить тестирование на этом или другом "
                               "устройстве.</p><p><a class=\"btn\" href=\"/q?n=%2\" autofocus>Начать "
                               "тестирование</a></p>")
                    .arg(escape(code))
                    .arg(firstQuestion));
}

std::string question(const std::string& token, const QuestionView& q) {
    QString opts;
    for (int i = 0; i < q.options.size(); ++i)
        opts +=
            QStringLiteral("<button class=\"opt%1\" type=\"submit\" name=\"o\" value=\"%2\"%3>%4</button>")
                .arg(i == q.chosen ? QStringLiteral(" on") : QString())
                .arg(i)
                .arg(i == q.chosen ? QStringLiteral(" aria-pressed=\"true\"") : QString())
                .arg(escape(q.options[i]));
    const int columns = std::clamp(q.columns, 1, 16);
    // Finishing comes right after moving on, so that a phone shows it with the question; going
    // to a question by number is the rarest step and comes last.
    const QString prevNext =
        QStringLiteral("<div class=\"nav pn\">%1%2</div>")
            .arg(q.prev ? QStringLiteral("<a class=\"btn\" href=\"/q?n=%1\">&lt;&lt;&lt; Предыдущий</a>")
                              .arg(q.prev)
                        : QString(),
                 q.next ? QStringLiteral("<a class=\"btn\" href=\"/q?n=%1\">Следующий &gt;&gt;&gt;</a>")
                              .arg(q.next)
                        : QString());
    const QString jump =
        QStringLiteral("<div class=\"nav\"><form method=\"get\" action=\"/q\"><label for=\"n\" "
                       "style=\"margin:0\">Перейти к</label>"
                       "<input id=\"n\" type=\"number\" name=\"n\" min=\"1\" max=\"%1\" style=\"width:5em\">"
                       "<button type=\"submit\">вопросу</button></form>"
                       // Large print stays for the run: the server keeps it in a cookie.
                       "<form method=\"get\" action=\"/q\"><input type=\"hidden\" name=\"n\" value=\"%2\">"
                       "<button type=\"submit\" name=\"large\" value=\"%3\" aria-pressed=\"%4\" data-large>"
                       "Крупный шрифт</button></form></div>")
            .arg(q.last)
            .arg(q.number)
            .arg(q.large ? 0 : 1)
            .arg(q.large ? QStringLiteral("true") : QStringLiteral("false"));
    // Built by joining, not by arg(): a question or option text may itself hold "%1".
    const QString head = QStringLiteral("Вопрос № %1 из %2").arg(q.number).arg(q.last);
    const QString done = QStringLiteral("Отвечено: %1 из %2").arg(q.answered).arg(q.count);
    const QString progress =
        q.count > 0
            ? QStringLiteral(
                  "<progress class=\"bar\" max=\"%1\" value=\"%2\" aria-labelledby=\"done\"></progress>")
                  .arg(q.count)
                  .arg(std::clamp(q.answered, 0, q.count))
            : QString();
    const QString body =
        QStringLiteral("<div class=\"head\"><h1>") + head +
        QStringLiteral("</h1><span id=\"done\" class=\"done\">") + done + QStringLiteral("</span></div>") +
        progress + noticeBox(q.notice, q.noticeIsError) + QStringLiteral("<div class=\"text\">") +
        escape(q.text) + QStringLiteral("</div><form method=\"post\" action=\"/answer\" data-x>") +
        hidden(token) + QStringLiteral("<input type=\"hidden\" name=\"q\" value=\"%1\">").arg(q.number) +
        // Top to bottom, one column after the other, as the testing window lays them out.
        QStringLiteral(
            "<div class=\"opts\" style=\"grid-template-rows:repeat(%1,auto);grid-auto-flow:column\">")
            .arg(std::max<qsizetype>(1, (q.options.size() + columns - 1) / columns)) +
        opts + QStringLiteral("</div></form>") + prevNext +
        QStringLiteral("<form class=\"fin\" method=\"post\" action=\"/finish\">") + hidden(token) +
        QStringLiteral("<button type=\"submit\">Завершить тестирование</button></form>") + jump;
    return page(head, body, q.large);
}

std::string incomplete(const std::string& token, const std::vector<int>& missing, int last) {
    QString links;
    for (int q : missing)
        links += QStringLiteral("<a class=\"btn\" href=\"/q?n=%1\">%1</a> ").arg(q);
    return page(QStringLiteral("Проверка"),
                QStringLiteral("<h1>Не на все вопросы имеются ответы.</h1><p>Проверено %1 вопросов. "
                               "Нет ответа на вопросы:</p><p class=\"nav\">%2</p>"
                               "<form method=\"post\" action=\"/finish\">%3"
                               "<button type=\"submit\">Проверить ещё раз</button></form>")
                    .arg(last)
                    .arg(links, hidden(token)));
}

std::string thanks(const QString& testName, const std::vector<ShownScore>& scores) {
    QString shown;
    if (!scores.empty()) {
        shown = QStringLiteral("<p>Ваш результат:</p><ul>");
        for (size_t k = 0; k < scores.size(); ++k) {
            shown += scores.size() == 1
                         ? QStringLiteral("<li>Сумма баллов: %1").arg(scores[k].score)
                         : QStringLiteral("<li>Критерий %1: %2").arg(k + 1).arg(scores[k].score);
            if (!scores[k].level.isEmpty())
                shown += QStringLiteral(" — <b>") + escape(scores[k].level) + QStringLiteral("</b>");
            shown += QStringLiteral("</li>");
        }
        shown += QStringLiteral("</ul>");
    }
    return page(QStringLiteral("Спасибо"),
                QStringLiteral("<h1>Спасибо!</h1><p>Тестирование «%1» завершено, ответы сохранены.</p>%2%3")
                    .arg(escape(testName), shown, back()));
}

std::string notice(const QString& heading, const QString& text) {
    return page(heading, QStringLiteral("<h1>%1</h1><p>%2</p>%3").arg(escape(heading), escape(text), back()));
}

const std::string& script() {
    // Sends a marked form in the background and puts the page the server answers in place of
    // this one; a second click meanwhile is ignored. Without it the forms post as usual.
    // A click whose event was made before the page it lands on was shown (a double click on a
    // busy computer) is dropped, whenever it is delivered.
    static const std::string js = R"JS(var shown = performance.now(), click = null;
document.addEventListener('click', function (c) {
  var f = c.target.closest && c.target.closest('form[data-x]');
  if (!f) return;
  if (c.detail > 1 || c.timeStamp - shown < )JS" +
                                  std::to_string(kReadMs) + R"JS() {
    c.preventDefault();
    return;
  }
  click = c;
}, true);
document.addEventListener('submit', function (e) {
  var f = e.target;
  if (!f.hasAttribute('data-x') || !window.fetch) return;
  e.preventDefault();
  if (f.getAttribute('data-busy')) return;
  f.setAttribute('data-busy', '1');
  var d = new URLSearchParams(new FormData(f));
  if (e.submitter && e.submitter.name) d.append(e.submitter.name, e.submitter.value);
  if (click) {
    d.append('w', Math.round(click.timeStamp - shown));
    d.append('d', click.detail);
  }
  fetch(f.action, {method: 'POST', body: d, headers: {'X-Morv': '1'}, credentials: 'same-origin', cache: 'no-store'})
    .then(function (r) {
      var u = r.headers.get('X-Morv-Url');
      return r.text().then(function (t) { return [t, u]; });
    })
    .then(function (a) {
      var doc = new DOMParser().parseFromString(a[0], 'text/html');
      document.title = doc.title;
      document.body.replaceWith(doc.body);
      shown = performance.now();
      click = null;
      if (a[1]) history.replaceState(null, '', a[1]);
      var b = document.querySelector('.opt.on') || document.querySelector('.opt');
      if (b) b.focus();
    })
    .catch(function () {
      f.removeAttribute('data-busy');
      var p = document.createElement('p');
      p.className = 'err';
      p.textContent = 'Нет связи с сервером: ответ не сохранён. Нажмите ещё раз.';
      f.parentNode.insertBefore(p, f);
    });
});
)JS";
    return js;
}

} // namespace web::pages
