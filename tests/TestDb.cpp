#include "tests/TestDb.h"

#include <gtest/gtest.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "platform/GbkCodec.h"

namespace zeza::test {

bool Exec(const std::string& sql, const SqlParams& params) {
    const int rc = ExecSql(sql, params);
    EXPECT_EQ(rc, 0) << sql;
    return rc == 0;
}

int ExecIn(const std::filesystem::path& db, const std::string& sql) {
    sqlite3* h = nullptr;
    int rc = sqlite3_open(db.c_str(), &h);
    if (rc == SQLITE_OK) rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(h);
    return rc;
}

std::vector<std::string> Rows(const std::string& sql, const SqlParams& params) {
    QueryTable t;
    EXPECT_EQ(QuerySql(sql, params, t), 0) << sql;
    std::vector<std::string> rows;
    for (int r = 0; r < t.rows; ++r) {
        std::string row;
        for (int c = 0; c < t.cols; ++c) row += (c ? "|" : "") + (t.Text(r, c) ? t.Str(r, c) : "NULL");
        rows.push_back(row);
    }
    return rows;
}

std::string QueryOne(const std::string& sql, const SqlParams& params) {
    QueryTable t;
    EXPECT_EQ(QuerySql(sql, params, t), 0) << sql;
    return t.rows > 0 ? t.Str(0, 0) : "<no row>";
}

void AddFund(long long idl, const std::string& code, const std::string& name, const std::string& type,
             long long look, double estval) {
    Exec("INSERT INTO fu_list (idl,codel,name,type,look,estval) VALUES (?,?,?,?,?,?)",
         {idl, code, Utf8ToGbk(name), Utf8ToGbk(type), look, estval});
}

void AddNetValue(const std::string& code, double valreal, double valtd, double valytd,
                 const std::string& date) {
    Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
         {code, valreal, valtd, valytd, date});
}

void AddHolding(const std::string& code, double cost, double units, const std::string& remark) {
    EXPECT_EQ(CFundDb::AddHolding(code, cost, units, Utf8ToGbk(remark)), 0) << code;
}

void AddHolding(long long idc, const std::string& code, double cost, double units,
                const std::string& remark) {
    Exec("INSERT INTO fu_count (idc,codec,tcost,tcount,remark) VALUES (?,?,?,?,?)",
         {idc, code, cost, units, Utf8ToGbk(remark)});
}

std::vector<std::string> Holdings(bool withTypes) {
    QueryTable t;
    const std::string sql =
        std::string("SELECT codec,tcost,tcount,remark") +
        (withTypes ? ",typeof(codec)||typeof(tcost)||typeof(tcount)||typeof(remark)" : "") +
        " FROM fu_count ORDER BY idc;";
    EXPECT_EQ(QuerySql(sql, {}, t), 0);
    std::vector<std::string> rows;
    for (int r = 0; r < t.rows; ++r) {
        std::string row;
        for (int c = 0; c < t.cols; ++c) row += (c ? "|" : "") + t.Str(r, c);
        rows.push_back(row);
    }
    return rows;
}

std::string OldLayoutSchema(bool withTake, const std::string& password) {
    return std::string(
               "CREATE TABLE fu_list (idl INTEGER PRIMARY KEY, codel varchar(10), name varchar(50),"
               " type varchar(50), look bit DEFAULT 0, tcost float DEFAULT 0, tcount float DEFAULT 0,"
               " remark text") +
           (withTake ? ", take bit DEFAULT 0);" : ");") +
           "CREATE TABLE fu_iniLoc (dbVer long, pwd varchar(20), guid varchar(50));"
           "INSERT INTO fu_iniLoc VALUES (2, '" +
           password + "', 'OLD-GUID-0123456789');";
}

}  // namespace zeza::test
