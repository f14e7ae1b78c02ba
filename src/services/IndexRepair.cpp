#include "services/IndexRepair.h"

#include "Errors.h"
#include "Fault.h"
#include "data/Schema.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <QFileInfo>

namespace services {

Repair withIndexRepair(db::Table* table, const std::function<void()>& step) {
    try {
        step();
        return Repair::None;
    } catch (const db::DatabaseError& e) {
        dbf::DbfFile* file = table->file();
        const schema::TableDef* def =
            file ? schema::find(QFileInfo(QString::fromStdString(file->path())).fileName()) : nullptr;
        if (db::faultOf(e).fault != db::Fault::IndexDamaged || !def || def->tags.empty()) throw;
        qWarning("%s; rebuilding the index", e.what());
        try {
            file->repairIndex(def->tags);
        } catch (const db::EngineError& failed) {
            // Whatever stopped it, the index stays damaged: that is what the caller must hear.
            throw db::FaultError(std::string(e.what()) + "; the rebuild failed: " + failed.what(),
                                 db::FaultInfo(db::Fault::IndexDamaged, db::faultOf(e).file));
        }
    }
    step();
    return Repair::Made;
}

} // namespace services
