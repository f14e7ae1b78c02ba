#pragma once
// What every benchmark file shares: the database directory, the data module opened over it,
// and answer rows sampled from the answer table.
#include "CurrentRun.h"
#include "data/DM.h"

#include <QString>
#include <vector>

namespace bench {

struct Key {
    int org, testee, test, question;
};

extern QString gDir;
extern std::vector<Key> gKeys;

// The data module of the benchmarks, created on first use with the answer-row index warmed.
TBD& bd();

// The program's own windows and data module BD, created once, for benchmarks of the windows.
void openProgram();

// A database on a PostgreSQL server rather than a folder (--db postgresql://...), and its
// answer keys sampled by the server.
bool onServer();
void sampleServerKeys();

// The probe process of the start benchmark: the program's start on the database argv[2].
int startProbe(int argc, char** argv);

} // namespace bench
