// The private PostgreSQL server of the tests (tests/pg/pg-test-server, run
// by CTest before and after the tests that need it).
#ifndef ORLAN_TESTS_SUPPORT_PG_SUPPORT_H_
#define ORLAN_TESTS_SUPPORT_PG_SUPPORT_H_

#include <QString>

namespace orlan::test {

// The URI of the test server's "postgres" database, as a superuser that may
// create databases; empty when there is no test server.
QString PgServidorDeTeste();

// Why there is no test server (for QSKIP); empty when there is one.
QString PgMotivoSemServidor();

// `uri` naming the database `banco` instead of its own.
QString PgUriComBanco(const QString& uri, const QString& banco);

// A new, empty database on the test server, with a name no other test uses;
// its URI. Fails the test run when the server refuses.
QString PgNovoBanco();

// Stops the test server at once and starts it again, as a crash would.
// False when it could not.
bool PgReiniciarServidor();

}  // namespace orlan::test

#endif  // ORLAN_TESTS_SUPPORT_PG_SUPPORT_H_
