#pragma once
#include <QString>
#include <stdexcept>

namespace db {

// Errors of the data layer. what() is UTF-8; message() gives the text shown to the user.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
    explicit EngineError(const std::string& msg) : std::runtime_error(msg) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// Missing alias or table, bad file, bad filter, unknown field, failed query.
class DatabaseError : public EngineError {
public:
    using EngineError::EngineError;
};

// A value that cannot become the type asked for; without a text, the usual one.
class ConversionError : public EngineError {
public:
    using EngineError::EngineError;
    ConversionError() : EngineError(std::string("Invalid variant type conversion")) {}
};

// The user stopped a long step (a query); nothing to report.
class Cancelled : public EngineError {
public:
    Cancelled() : EngineError(std::string("Cancelled by the user")) {}
};

// An operation the dataset's state does not allow.
class InvalidOperation : public EngineError {
public:
    using EngineError::EngineError;
};

} // namespace db
