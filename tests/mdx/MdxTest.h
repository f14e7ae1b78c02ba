#pragma once
// Tables with a production index for the index tests, and the order their tags must give.
#include "dbf/DbfFile.h"
#include "dbf/KeyExpr.h"
#include "dbf/Mdx.h"

#include <QTemporaryDir>
#include <random>
#include <string>
#include <vector>

// NAME C(30), QTY N(6), PRICE N(12,2), BORN D: n records of repeating values, so keys tie.
void makeTable(const std::string& path, int n, unsigned seed);
std::string randomRecord(const dbf::DbfFile& f, std::mt19937& rng);
// The order a tag must give, worked out from the values its expression gives each record.
std::vector<uint32_t> expectedOrder(const dbf::DbfFile& f, const dbf::TagSpec& tag);
// Overwrites the expression of the nth tag in the file, as another program's tag would read.
void patchTagExpression(const std::string& mdx, int tag, const std::string& expr);
// Swaps two record numbers (or children) in the first tag's root node, as a program that
// broke the index would leave it; with busy, also the mark of an unfinished change.
void spoilRoot(const std::string& mdx, bool busy);
// ../shared/tools/mdx-peer, or empty.
QString mdxPeer();
