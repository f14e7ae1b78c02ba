#pragma once
#include "Errors.h"

#include <QString>
#include <exception>
#include <utility>

namespace db {

// What went wrong, for the windows to say in the user's words; the English text stays for logs
// and the command-line tool.
enum class Fault {
    Unknown,
    Disk,          // a read or write the system refused: errnum says why
    ReadOnly,      // the table cannot be written (file or folder)
    TableDamaged,  // the table file is cut or its header is broken
    MemoDamaged,   // a memo text cannot be read
    IndexDamaged,  // the production index cannot be read or kept
    CharNotHeld,   // a value holds a character the table's code page lacks
    ValueTooWide,  // a number does not fit its field's width: field, and the value as text
    TooMuchMemory, // a query needs more memory than it may take
    TableChanged,  // another program cut or replaced the table
    InUse,         // another workstation edits a record the step needs
    Missing,       // a database folder, table or setting is not where it was looked for (file)
    NoColumn,      // a query's result lacks a column the window reads
};

struct FaultInfo {
    FaultInfo() = default;
    explicit FaultInfo(Fault f, QString path = {}, QString fieldName = {}, QString ch = {}, int err = 0)
        : fault(f), file(std::move(path)), field(std::move(fieldName)), character(std::move(ch)),
          errnum(err) {}
    Fault fault = Fault::Unknown;
    QString file;      // the file concerned, as a path
    QString field;     // CharNotHeld: the field's name
    QString character; // CharNotHeld: the character; ValueTooWide: the value
    int errnum = 0;    // Disk: the system's error number
};

// Mixed into the errors that know what went wrong.
class FaultCarrier {
public:
    explicit FaultCarrier(FaultInfo info) : info_(std::move(info)) {}
    virtual ~FaultCarrier() = default;
    const FaultInfo& info() const { return info_; }

private:
    FaultInfo info_;
};

class FaultError : public DatabaseError, public FaultCarrier {
public:
    FaultError(const QString& msg, FaultInfo info) : DatabaseError(msg), FaultCarrier(std::move(info)) {}
    FaultError(const std::string& msg, FaultInfo info) : DatabaseError(msg), FaultCarrier(std::move(info)) {}
};

// A value the field cannot take (a number past its range or width); nothing is stored.
class ConversionFault : public ConversionError, public FaultCarrier {
public:
    ConversionFault(const QString& msg, FaultInfo info)
        : ConversionError(msg), FaultCarrier(std::move(info)) {}
};

// What an error says went wrong; Unknown for one that does not say.
inline FaultInfo faultOf(const std::exception& e) {
    const auto* carrier = dynamic_cast<const FaultCarrier*>(&e);
    return carrier ? carrier->info() : FaultInfo();
}

// A text a field's code page cannot store; nothing is written.
inline FaultError cannotHold(const QString& field, const QString& character) {
    return FaultError(QStringLiteral("Field '%1' cannot hold the character '%2'").arg(field, character),
                      FaultInfo(Fault::CharNotHeld, {}, field, character));
}

} // namespace db
