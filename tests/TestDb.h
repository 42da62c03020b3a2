#pragma once

// The database side of the tests: statements and queries on ./Zeza.db (or on a
// file named), and the rows the tests add and read back. A statement that fails
// fails the test that ran it.

#include <filesystem>
#include <string>
#include <vector>

#include "db/SqliteConnection.h"

namespace zeza::test {

// Runs statements without rows on ./Zeza.db; true when they ran.
bool Exec(const std::string& sql, const SqlParams& params = {});
// Runs statements on the database file db (created when missing); the SQLite result code.
int ExecIn(const std::filesystem::path& db, const std::string& sql);

// Every row of a query on ./Zeza.db, each row's columns joined by "|" (SQL NULL as "NULL").
std::vector<std::string> Rows(const std::string& sql, const SqlParams& params = {});
// The first column of the first row as text ("" for NULL), or "<no row>".
std::string QueryOne(const std::string& sql, const SqlParams& params = {});

// Texts (names, types, remarks) are given in UTF-8 and stored in GBK, as the program stores them.

// Catalogue row.
void AddFund(long long idl, const std::string& code, const std::string& name, const std::string& type,
             long long look = 0, double estval = 0);
// Net value row of code on date.
void AddNetValue(const std::string& code, double valreal, double valtd, double valytd,
                 const std::string& date);
// A holding as the holding editor stores it (CFundDb::AddHolding).
void AddHolding(const std::string& code, double cost, double units, const std::string& remark = "");
// A holding under a chosen id, for tests whose expectations name it.
void AddHolding(long long idc, const std::string& code, double cost, double units, const std::string& remark);
// Every holding as "code|cost|units|remark" (remark as stored, GBK), in row order; with types,
// "|" and the four columns' typeof() follow.
std::vector<std::string> Holdings(bool withTypes = false);

// The first table of the program's old layout (holdings in fu_list, with or without
// the take flag) and its settings table with one row; rows still to be inserted.
std::string OldLayoutSchema(bool withTake, const std::string& password = "");

}  // namespace zeza::test
