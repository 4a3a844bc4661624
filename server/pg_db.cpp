// The PostgreSQL engine behind the seam in sql_db.h, on libpq. Statements
// are prepared once per connection (by their text) and run with text
// parameters of unspecified type, so the server infers each from where it
// is used (a case-blind ID column compares case-blind).

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql_db.h"

namespace skiv::server::sql_detail {

namespace {

struct ConnCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// SQLSTATE classes: 40001 serialization failure and 40P01 deadlock may run
// again; class 08 (connection), 57P01-57P03 (server shutting down or
// starting) and a result without a state mean the connection is gone.
SqlError::Kind KindOf(PGconn* conn, const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (PQstatus(conn) != CONNECTION_OK || !state)
        return SqlError::Kind::Lost;
    if (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0)
        return SqlError::Kind::Conflict;
    if (std::strncmp(state, "08", 2) == 0 || std::strncmp(state, "57P0", 4) == 0)
        return SqlError::Kind::Lost;
    return SqlError::Kind::Fault;
}

[[noreturn]] void Fail(PGconn* conn, const PGresult* r, const char* what) {
    std::string msg = what;
    msg += ": ";
    const char* text = r ? PQresultErrorMessage(r) : "";
    msg += (text && *text) ? text : PQerrorMessage(conn);
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
        msg.pop_back();
    throw SqlError(msg, 0, KindOf(conn, r));
}

Result Check(PGconn* conn, PGresult* raw, const char* what) {
    Result r(raw);
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        Fail(conn, r.get(), what);
    return r;
}

// ?N becomes $N outside quoted text; returns the highest N.
int Rewrite(std::string_view sql, std::string& out) {
    out.reserve(sql.size());
    int most = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
            out += '$';
            int n = 0;
            while (i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9')
                n = n * 10 + (sql[++i] - '0'), out += sql[i];
            most = std::max(most, n);
            continue;
        }
        out += c;
    }
    return most;
}

class PgConnection;

class PgStatement final : public StatementImpl {
public:
    PgStatement(PgConnection& conn, std::string name, int params)
        : m_conn(conn), m_name(std::move(name)), m_values(static_cast<std::size_t>(params)) {}

    void Bind(int index, std::string_view text) override { Slot(index) = std::string(text); }
    void Bind(int index, std::int64_t value) override { Slot(index) = std::to_string(value); }
    void BindNull(int index) override { Slot(index).reset(); }
    bool Step() override;
    void Reset() override {
        m_result.reset();
        for (auto& v : m_values)
            v.reset();
    }
    std::int64_t Int(int column) const override {
        return std::strtoll(PQgetvalue(m_result.get(), m_row, column), nullptr, 10);
    }
    std::string Text(int column) const override {
        return std::string(PQgetvalue(m_result.get(), m_row, column),
                           static_cast<std::size_t>(PQgetlength(m_result.get(), m_row, column)));
    }
    bool IsNull(int column) const override {
        return PQgetisnull(m_result.get(), m_row, column) != 0;
    }

private:
    std::optional<std::string>& Slot(int index) {
        if (index < 1 || static_cast<std::size_t>(index) > m_values.size())
            throw SqlError("bind: no parameter " + std::to_string(index), 0);
        return m_values[static_cast<std::size_t>(index - 1)];
    }

    PgConnection& m_conn;
    std::string m_name;
    std::vector<std::optional<std::string>> m_values;
    Result m_result;
    int m_row = -1;
};

class PgConnection final : public ConnectionImpl {
public:
    explicit PgConnection(const std::string& url) : m_conn(PQconnectdb(url.c_str())) {
        if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK) {
            std::string msg = "cannot connect to PostgreSQL: ";
            msg += m_conn ? PQerrorMessage(m_conn.get()) : "out of memory";
            while (!msg.empty() && msg.back() == '\n')
                msg.pop_back();
            throw SqlError(msg, 0, SqlError::Kind::Lost);
        }
        // "already exists, skipping" and the like are not news.
        PQsetNoticeProcessor(
            m_conn.get(), [](void*, const char*) {}, nullptr);
    }

    SqlEngine engine() const override { return SqlEngine::Postgres; }
    void Exec(const char* sql) override {
        Result r = Check(m_conn.get(), PQexec(m_conn.get(), sql), "sql failed");
        m_changes = std::atoi(PQcmdTuples(r.get()));
    }
    std::unique_ptr<StatementImpl> Prepare(std::string_view sql) override {
        auto it = m_prepared.find(std::string(sql));
        if (it == m_prepared.end()) {
            std::string text;
            const int params = Rewrite(sql, text);
            std::string name = "s" + std::to_string(m_prepared.size());
            Check(m_conn.get(), PQprepare(m_conn.get(), name.c_str(), text.c_str(), 0, nullptr),
                  "prepare");
            it = m_prepared.emplace(std::string(sql), Prepared{std::move(name), params}).first;
        }
        return std::make_unique<PgStatement>(*this, it->second.name, it->second.params);
    }
    int Changes() const override { return m_changes; }
    const char* BeginSql() const override { return "BEGIN ISOLATION LEVEL SERIALIZABLE"; }

    Result Run(const std::string& name, const std::vector<std::optional<std::string>>& values) {
        std::vector<const char*> raw;
        raw.reserve(values.size());
        for (const auto& v : values)
            raw.push_back(v ? v->c_str() : nullptr);
        Result r = Check(m_conn.get(),
                         PQexecPrepared(m_conn.get(), name.c_str(), static_cast<int>(raw.size()),
                                        raw.data(), nullptr, nullptr, 0),
                         "step");
        m_changes = std::atoi(PQcmdTuples(r.get()));
        return r;
    }

private:
    struct Prepared {
        std::string name;
        int params = 0;
    };
    std::unique_ptr<PGconn, ConnCloser> m_conn;
    std::unordered_map<std::string, Prepared> m_prepared;
    int m_changes = 0;
};

bool PgStatement::Step() {
    if (!m_result) {
        m_result = m_conn.Run(m_name, m_values);
        m_row = -1;
    }
    ++m_row;
    return m_row < PQntuples(m_result.get());
}

}  // namespace

std::unique_ptr<ConnectionImpl> OpenPostgres(const std::string& url) {
    return std::make_unique<PgConnection>(url);
}

}  // namespace skiv::server::sql_detail
