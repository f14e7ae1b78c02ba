#pragma once
#include "dataset/Dataset.h"
#include "dataset/Query.h"
#include "dataset/Table.h"

#include <QObject>

using db::DataSource;
using db::Field;
using db::Query;
using db::Table;

// The data module: the one owner of every table, data source and query of the program.
class TBD : public QObject {
    Q_OBJECT
public:
    explicit TBD(QObject* parent = nullptr);
    ~TBD() override;

    // Tables, in the order they are opened.
    Table *Table_test, *Table_spr_test, *Table_spr_obr, *Table_spr_org, *Table_spr_resp, *Table_spr_np,
        *Table_vopros, *Table_otvet, *Table_org, *Table_anket, *Table_rezult, *Table_analiz, *Table_rez,
        *Table_summa;
    DataSource *DS_test, *DS_spr_test, *DS_spr_obr, *DS_spr_org, *DS_spr_resp, *DS_spr_np, *DS_vopros,
        *DS_otvet, *DS_org, *DS_anket, *DS_rezult, *DS_analiz, *DS_summa, *DS_rez, *DS_1, *DS_2, *DS_Qanaliz;
    Query *Query1, *Query2, *Query_analiz;

    Field *Table_testTIP, *Table_testNTEST, *Table_testNAME, *Table_testKOLKRIT, *Table_testXARAKT;
    Field *Table_spr_testSPRAV, *Table_spr_testKOD, *Table_spr_testTEXT;
    Field *SmallintField1, *SmallintField2, *StringField1; // education levels
    Field *SmallintField3, *SmallintField4, *StringField2; // institution types
    Field *SmallintField5, *SmallintField6, *StringField3; // republics
    Field *SmallintField7, *SmallintField8, *StringField4; // settlements
    Field *Table_voprosNTEST, *Table_voprosNVOPR, *Table_voprosTEXTV, *Table_voprosNOTV, *Table_voprosKOL;
    Field *Table_otvetNOMOTV, *Table_otvetOTVET, *Table_otvetBOTVET;
    Field *Table_orgNOM_ORG, *Table_orgTIPU, *Table_orgNAMEU, *Table_orgPODRU, *Table_orgTU, *Table_orgRSP,
        *Table_orgNP, *Table_orgRESP, *Table_orgNPUNKT;
    Field *Table_anketNOMTESTIR, *Table_anketNOMU, *Table_anketFAMTESTIR, *Table_anketNAMETESTIR,
        *Table_anketOTCHTESTIR, *Table_anketPOLTESTIR, *Table_anketGRTESTIR, *Table_anketOBRTESTIR,
        *Table_anketObr;
    Field *Table_rezultNOMU, *Table_rezultNOMTESTIR, *Table_rezultDATA, *Table_rezultNOMTESTA,
        *Table_rezultNOMVOPR, *Table_rezultOTVET;
    Field *Table_analizNOMTESTA, *Table_analizKRIT, *Table_analizUROV, *Table_analizMIN, *Table_analizMAX,
        *Table_analizTEXT;
    Field *Table_summaNOMTESTA, *Table_summaKRIT, *Table_summaSUMVOPR;
    Field *Table_rezNOMU, *Table_rezNOMTESTIR, *Table_rezDATA, *Table_rezNOMTESTA, *Table_rezKRIT,
        *Table_rezBALL, *Table_rezKRITEXT;

    // The fourteen tables in opening order.
    QList<Table*> tablesInOrder() const;

    void BDCreate();
    void BDDestroy();
    void Table_testNewRecord(db::Dataset& DataSet);

private:
    Table* table(const char* name, const char* file);
    DataSource* source(const char* name, db::Dataset* ds);
};

extern TBD* BD;
