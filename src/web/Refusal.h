#pragma once
#include "web/Http.h"

#include <QString>
#include <exception>

namespace web {

// A step the server could not carry out (the database away, a write refused, anything
// unforeseen): the testee gets a Russian page that says nothing was stored and to try again in a
// moment; the reason, which may hold the database's address, goes to the server's log only.
void refuse(Exchange& x, const std::exception& e);

// Writes why a request failed to the server's log.
void logFailure(const Request& r, const QString& why);

// The notice on a question page whose answer was refused.
QString answerNotStored();

} // namespace web
