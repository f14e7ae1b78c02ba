#include "DM.h"

#include "Schema.h"
#include "app/Main.h"

using db::FieldKind;

TBD* BD = nullptr;

namespace {
const QString kAlias = QStringLiteral("morv");

Field* fld(Table* t, const char* name, const char* fieldName, FieldKind kind, int size, const char* label,
           int width = 0) {
    Field* f = t->addField(QString::fromLatin1(name), QString::fromLatin1(fieldName), kind, size);
    if (label) f->setDisplayLabel(QString::fromUtf8(label));
    if (width) f->setDisplayWidth(width);
    return f;
}
constexpr FieldKind SI = FieldKind::Smallint;
constexpr FieldKind FL = FieldKind::Float;
constexpr FieldKind ST = FieldKind::String;
constexpr FieldKind DT = FieldKind::Date;
constexpr FieldKind ME = FieldKind::Memo;
constexpr FieldKind LK = FieldKind::Lookup;
} // namespace

Table* TBD::table(const char* name, const char* file) {
    auto* t = new Table(this);
    t->setObjectName(QString::fromLatin1(name));
    t->setDatabaseName(kAlias);
    t->setTableName(QString::fromLatin1(file));
    return t;
}

DataSource* TBD::source(const char* name, db::Dataset* ds) {
    auto* s = new DataSource(this, ds);
    s->setObjectName(QString::fromLatin1(name));
    return s;
}

TBD::TBD(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("BD"));

    Table_test = table("Table_test", "bd_test.DBF");
    Table_testTIP = fld(Table_test, "Table_testTIP", "TIP", SI, 0, "Тип теста");
    Table_testNTEST = fld(Table_test, "Table_testNTEST", "NTEST", SI, 0, "№ теста");
    Table_testNAME = fld(Table_test, "Table_testNAME", "NAME", ST, 80, "Название теста", 40);
    Table_testKOLKRIT = fld(Table_test, "Table_testKOLKRIT", "KOLKRIT", SI, 0, "Кол-во критериев");
    Table_testXARAKT = fld(Table_test, "Table_testXARAKT", "XARAKT", ME, 0, "Характеристика");
    Table_test->onNewRecord = [this](db::Dataset& ds) { Table_testNewRecord(ds); };

    // Five dictionary views over one file, each with its kind's filter on from load.
    struct Dict {
        Table** table;
        const char* name;
        const char* filter;
        Field** sprav;
        Field** kod;
        Field** text;
        const char* spravName;
        const char* kodName;
        const char* textName;
    };
    const Dict dicts[] = {
        {&Table_spr_test, "Table_spr_test", "SPRAV=1", &Table_spr_testSPRAV, &Table_spr_testKOD,
         &Table_spr_testTEXT, "Table_spr_testSPRAV", "Table_spr_testKOD", "Table_spr_testTEXT"},
        {&Table_spr_obr, "Table_spr_obr", "SPRAV=2", &SmallintField1, &SmallintField2, &StringField1,
         "SmallintField1", "SmallintField2", "StringField1"},
        {&Table_spr_org, "Table_spr_org", "SPRAV=3", &SmallintField3, &SmallintField4, &StringField2,
         "SmallintField3", "SmallintField4", "StringField2"},
        {&Table_spr_resp, "Table_spr_resp", "SPRAV=4", &SmallintField5, &SmallintField6, &StringField3,
         "SmallintField5", "SmallintField6", "StringField3"},
        {&Table_spr_np, "Table_spr_np", "SPRAV=5", &SmallintField7, &SmallintField8, &StringField4,
         "SmallintField7", "SmallintField8", "StringField4"},
    };
    for (const Dict& d : dicts) {
        Table* t = table(d.name, "bd_sprav.dbf");
        t->setIndexName(QStringLiteral("SPRAV"));
        *d.sprav = fld(t, d.spravName, "SPRAV", SI, 0, "Справочник");
        *d.kod = fld(t, d.kodName, "KOD", SI, 0, "Код");
        *d.text = fld(t, d.textName, "TEXT", ST, 200, "Текст");
        t->setFilter(QString::fromLatin1(d.filter));
        t->setFiltered(true);
        *d.table = t;
    }

    Table_vopros = table("Table_vopros", "bd_vopros.DBF");
    Table_voprosNTEST = fld(Table_vopros, "Table_voprosNTEST", "NTEST", SI, 0, "№ теста");
    Table_voprosNVOPR = fld(Table_vopros, "Table_voprosNVOPR", "NVOPR", SI, 0, "№ вопр.");
    Table_voprosTEXTV = fld(Table_vopros, "Table_voprosTEXTV", "TEXTV", ST, 200, "Текст вопроса", 50);
    Table_voprosNOTV = fld(Table_vopros, "Table_voprosNOTV", "NOTV", SI, 0, "№ ответа");
    Table_voprosKOL = fld(Table_vopros, "Table_voprosKOL", "KOL", SI, 0, "Колонок");

    Table_otvet = table("Table_otvet", "bd_otvet.dbf");
    Table_otvetNOMOTV = fld(Table_otvet, "Table_otvetNOMOTV", "NOMOTV", SI, 0, "№ ответа", 4);
    Table_otvetOTVET = fld(Table_otvet, "Table_otvetOTVET", "OTVET", ST, 200, "Ответ", 50);
    Table_otvetBOTVET = fld(Table_otvet, "Table_otvetBOTVET", "BOTVET", SI, 0, nullptr, 10);

    Table_org = table("Table_org", "bd_org.dbf");
    Table_orgNOM_ORG = fld(Table_org, "Table_orgNOM_ORG", "NOM_ORG", FL, 0, "№");
    Table_org->setUniqueNumber(QStringLiteral("NOM_ORG"));
    Table_orgTIPU = fld(Table_org, "Table_orgTIPU", "TIPU", SI, 0, "Тип");
    Table_orgNAMEU = fld(Table_org, "Table_orgNAMEU", "NAMEU", ST, 50, "Название учреждения");
    Table_orgPODRU = fld(Table_org, "Table_orgPODRU", "PODRU", ST, 30, "Подразделение");
    Table_orgTU = fld(Table_org, "Table_orgTU", "TU", LK, 50, "Тип учреждения");
    Table_orgRSP = fld(Table_org, "Table_orgRSP", "RSP", LK, 20, "Республика");
    Table_orgNP = fld(Table_org, "Table_orgNP", "NP", LK, 20, "Населенный пункт");
    Table_orgRESP = fld(Table_org, "Table_orgRESP", "RESP", FL, 0, "Республика");
    Table_orgNPUNKT = fld(Table_org, "Table_orgNPUNKT", "NPUNKT", FL, 0, "Населенный пункт");
    Table_orgTU->setLookup(QStringLiteral("TIPU"), Table_spr_org, QStringLiteral("KOD"),
                           QStringLiteral("TEXT"));
    Table_orgRSP->setLookup(QStringLiteral("RESP"), Table_spr_resp, QStringLiteral("KOD"),
                            QStringLiteral("TEXT"));
    Table_orgNP->setLookup(QStringLiteral("NPUNKT"), Table_spr_np, QStringLiteral("KOD"),
                           QStringLiteral("TEXT"));

    Table_anket = table("Table_anket", "bd_anket.dbf");
    Table_anketNOMTESTIR = fld(Table_anket, "Table_anketNOMTESTIR", "NOMTESTIR", FL, 0, "№ Т");
    Table_anketNOMU = fld(Table_anket, "Table_anketNOMU", "NOMU", FL, 0, "№ У");
    Table_anketFAMTESTIR = fld(Table_anket, "Table_anketFAMTESTIR", "FAMTESTIR", ST, 15, "Фамилия");
    Table_anketNAMETESTIR = fld(Table_anket, "Table_anketNAMETESTIR", "NAMETESTIR", ST, 15, "Имя");
    Table_anketOTCHTESTIR = fld(Table_anket, "Table_anketOTCHTESTIR", "OTCHTESTIR", ST, 20, "Отчество");
    Table_anketPOLTESTIR = fld(Table_anket, "Table_anketPOLTESTIR", "POLTESTIR", ST, 1, "Пол");
    Table_anketGRTESTIR = fld(Table_anket, "Table_anketGRTESTIR", "GRTESTIR", SI, 0, "Год рожд.");
    Table_anketOBRTESTIR = fld(Table_anket, "Table_anketOBRTESTIR", "OBRTESTIR", SI, 0, "Обр.");
    Table_anketObr = fld(Table_anket, "Table_anketObr", "Obr", LK, 30, "Образование");
    Table_anketObr->setLookup(QStringLiteral("OBRTESTIR"), Table_spr_obr, QStringLiteral("KOD"),
                              QStringLiteral("TEXT"));

    Table_rezult = table("Table_rezult", "bd_rezult.dbf");
    Table_rezultNOMU = fld(Table_rezult, "Table_rezultNOMU", "NOMU", FL, 0, "№ У");
    Table_rezultNOMTESTIR = fld(Table_rezult, "Table_rezultNOMTESTIR", "NOMTESTIR", FL, 0, "№ Т");
    Table_rezultDATA = fld(Table_rezult, "Table_rezultDATA", "DATA", DT, 0, "Дата тестир.");
    Table_rezultNOMTESTA = fld(Table_rezult, "Table_rezultNOMTESTA", "NOMTESTA", SI, 0, "№ Теста");
    Table_rezultNOMVOPR = fld(Table_rezult, "Table_rezultNOMVOPR", "NOMVOPR", SI, 0, "№ вопр.");
    Table_rezultOTVET = fld(Table_rezult, "Table_rezultOTVET", "OTVET", SI, 0, "Ответ");

    // An answer row is found by testee, test and question; the testee and test alone pick a run.
    Table_rezult->setKeyIndexFields(QStringLiteral("NOMU;NOMTESTIR;NOMTESTA"));

    Table_analiz = table("Table_analiz", "bd_analiz.dbf");
    Table_analizNOMTESTA = fld(Table_analiz, "Table_analizNOMTESTA", "NOMTESTA", SI, 0, "№ теста", 3);
    Table_analizKRIT = fld(Table_analiz, "Table_analizKRIT", "KRIT", SI, 0, "Критерий", 4);
    Table_analizUROV = fld(Table_analiz, "Table_analizUROV", "UROV", ST, 80, "Уровень", 40);
    Table_analizMIN = fld(Table_analiz, "Table_analizMIN", "MIN", FL, 0, "Минимум", 10);
    Table_analizMAX = fld(Table_analiz, "Table_analizMAX", "MAX", FL, 0, "Махимум", 10);
    Table_analizTEXT = fld(Table_analiz, "Table_analizTEXT", "TEXT", ME, 0, "Текст", 10);

    Table_rez = table("Table_rez", "bd_rez.dbf");
    Table_rezNOMU = fld(Table_rez, "Table_rezNOMU", "NOMU", FL, 0, "№ У");
    Table_rezNOMTESTIR = fld(Table_rez, "Table_rezNOMTESTIR", "NOMTESTIR", FL, 0, "№ Т");
    Table_rezDATA = fld(Table_rez, "Table_rezDATA", "DATA", DT, 0, "Дата");
    Table_rezNOMTESTA = fld(Table_rez, "Table_rezNOMTESTA", "NOMTESTA", SI, 0, "№ теста");
    Table_rezKRIT = fld(Table_rez, "Table_rezKRIT", "KRIT", SI, 0, "Критерий");
    Table_rezBALL = fld(Table_rez, "Table_rezBALL", "BALL", FL, 0, "Балл");
    Table_rezKRITEXT = fld(Table_rez, "Table_rezKRITEXT", "KRITEXT", LK, 20, nullptr);
    Table_rezKRITEXT->setLookup(QStringLiteral("KRIT"), Table_analiz, QStringLiteral("KRIT"),
                                QStringLiteral("UROV"));

    Table_summa = table("Table_summa", "bd_summa.dbf");
    Table_summaNOMTESTA = fld(Table_summa, "Table_summaNOMTESTA", "NOMTESTA", SI, 0, "№ теста", 5);
    Table_summaKRIT = fld(Table_summa, "Table_summaKRIT", "KRIT", SI, 0, "Критерий", 5);
    Table_summaSUMVOPR = fld(Table_summa, "Table_summaSUMVOPR", "SUMVOPR", SI, 0, "Сум.вопр.", 7);

    DS_test = source("DS_test", Table_test);
    DS_spr_test = source("DS_spr_test", Table_spr_test);
    DS_spr_obr = source("DS_spr_obr", Table_spr_obr);
    DS_spr_org = source("DS_spr_org", Table_spr_org);
    DS_spr_resp = source("DS_spr_resp", Table_spr_resp);
    DS_spr_np = source("DS_spr_np", Table_spr_np);
    DS_vopros = source("DS_vopros", Table_vopros);
    DS_otvet = source("DS_otvet", Table_otvet);
    DS_org = source("DS_org", Table_org);
    DS_anket = source("DS_anket", Table_anket);
    DS_rezult = source("DS_rezult", Table_rezult);
    DS_analiz = source("DS_analiz", Table_analiz);
    DS_summa = source("DS_summa", Table_summa);
    DS_rez = source("DS_rez", Table_rez);

    // The testees follow the current institution through the index tag NOMU.
    Table_anket->setIndexName(QStringLiteral("NOMU"));
    // Several workstations may register testees and institutions at once.
    Table_anket->setUniqueNumber(QStringLiteral("NOMTESTIR"), QStringLiteral("NOMU"));
    Table_anket->setMasterSource(DS_org, QStringLiteral("NOM_ORG"));

    auto query = [this](const char* name, const QStringList& text) {
        auto* q = new Query(this);
        q->setObjectName(QString::fromLatin1(name));
        q->setDatabaseName(kAlias);
        q->setSql(text);
        return q;
    };
    Query1 = query("Query1", {QStringLiteral("Select KRIT,BALL"), QStringLiteral("  From bd_rez")});
    Query2 = query("Query2", {QStringLiteral("Select KRIT,BALL"), QStringLiteral("  From bd_rez")});
    Query_analiz =
        query("Query_analiz", {QStringLiteral("select distinct KRIT,UROV"), QStringLiteral(" from bd_analiz"),
                               QStringLiteral(" where NOMTESTA=:NT")});
    Query_analiz->setParam(QStringLiteral("NT"), db::Variant(0));
    DS_1 = source("DS_1", Query1);
    DS_2 = source("DS_2", Query2);
    DS_Qanaliz = source("DS_Qanaliz", Query_analiz);

    // Open from load, before the creation handler runs.
    Table_summa->open();
    Query1->open();
    Query2->open();
    BDCreate();
}

TBD::~TBD() {
    BDDestroy();
    Query1->close();
    Query2->close();
    Query_analiz->close();
}

QList<Table*> TBD::tablesInOrder() const {
    return {Table_test,   Table_spr_test, Table_spr_obr, Table_spr_org, Table_spr_resp,
            Table_spr_np, Table_vopros,   Table_otvet,   Table_org,     Table_anket,
            Table_rezult, Table_analiz,   Table_rez,     Table_summa};
}

void TBD::BDCreate() {
    // Dictionaries before the lookups that read them, the institution before its testees.
    for (Table* t : tablesInOrder()) {
        // On a server, the lists show other workstations' changes by themselves; the answers are
        // this workstation's run only.
        t->setFollowChanges(t != Table_rezult);
        t->open();
        // Six tables are kept with their production index, also in a folder made without one.
        const schema::TableDef* def = schema::find(t->tableName());
        if (def && !def->tags.empty() && t->file()) t->file()->requireProductionIndex();
    }
}

void TBD::BDDestroy() {
    for (Table* t : tablesInOrder())
        t->close();
}

void TBD::Table_testNewRecord(db::Dataset& DataSet) {
    DataSet.edit(); // already inserting: no change
    Table_testTIP->setValue(db::Variant(FormMain ? FormMain->CurTipTest : 0));
}
