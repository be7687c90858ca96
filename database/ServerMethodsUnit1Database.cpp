#include "ServerMethodsUnit1Database.h"

#include "UMySQL.h"
#include "executable_dir.h"
#include "settings_text.h"
#include "uScramble.h"

namespace {

// Client library names, the runtime's own name first (present without the
// development package).
using Names = std::vector<std::string>;
const Names &mySQLNames() {
    static const Names names = {"libmariadb.so.3", "libmysqlclient.so.21", "libmysqlclient.so.18", "libmysqlclient.so",
                                "libmariadb.so"};
    return names;
}
const Names &firebirdNames() {
    static const Names names = {"libfbclient.so.2", "libfbclient.so"};
    return names;
}
const Names &gdsNames() {
    static const Names names = {"libgds.so.0", "libgds.so"};
    return names;
}

std::string upperAscii(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// A name inside an SQL string literal: quotes are doubled so that the name
// stays one literal whatever it holds.
std::string quoted(const std::string &s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out;
}

// The first existing candidate: a name relative to the current directory
// (reported with that directory in front), then names in each folder, in order.
std::string firstExisting(const std::vector<std::string> &currentDirNames,
                          const std::vector<std::pair<std::string, std::vector<std::string>>> &folders) {
    for (const auto &name : currentDirNames) {
        if (db::IsFile(name)) {
            try {
                return db::JoinPath(os::currentDir(), name);
            } catch (const std::exception &) {
                break; // the current directory is gone: its candidates do not count
            }
        }
    }
    for (const auto &[dir, names] : folders) {
        if (dir.empty())
            continue;
        for (const auto &name : names) {
            std::string path = db::JoinPath(dir, name);
            if (db::IsFile(path))
                return path;
        }
    }
    return {};
}

} // namespace

TServerMethods1Database::TServerMethods1Database(TDatabaseHost host, db::ClientSearchFolders folders)
    : databaseHost_(std::move(host)), folders_(std::move(folders)) {
    // Design-time values; the Firebird ones give way to Base and the print
    // server's account when the connection opens.
    FDConnection1.Params = {"Database=servidor:/dados/sistema.fdb", "User_Name=SYSDBA", "Password=masterkey",
                            "DriverID=FB"};
    FDConnection1.LoginPrompt = false;
    FDConnection1.UpdateLockMode = db::LockMode::Pessimistic;
    FDConnection1.BeforeConnect = [this] { FDConnection1BeforeConnect(); };
    FDConnection1.AfterConnect = [this] { FDConnection1AfterConnect(); };
    FDConnection1.OnRecover = [this](const db::DbError &e) { return FDConnection1Recover(e); };

    MyDatabase1.ConnectionName = "Sistema_my";
    MyDatabase1.Params = {"Database=sistema", "User_Name= ", "Password= ", "Server=servidor", "DriverID=MySQL"};
    MyDatabase1.LoginPrompt = false;
    MyDatabase1.UpdateLockMode = db::LockMode::Pessimistic;
    MyDatabase1.OnRecover = [this](const db::DbError &e) { return MyDatabase1Recover(e); };
    MyDatabase1.AfterCommit = [this] { MyDatabase1AfterCommit(); };

    DSServerModuleCreate();
}

TServerMethods1Database::~TServerMethods1Database() = default;

void TServerMethods1Database::DSServerModuleCreate() {
    LocateMySQLClient(FDPhysMySQLDriverLink1);
    MyDatabase1.Params[1] = "USER NAME=" + FromAnsi(unscramble(ToAnsi(MySQLUserConstant())));
    MyDatabase1.Params[2] = "PASSWORD=" + FromAnsi(unscramble(ToAnsi(MySQLPasswordConstant())));
}

std::vector<std::string> TServerMethods1Database::GetSystemLibraryFolders() const {
    return folders_.SystemLibraryDirs;
}

void TServerMethods1Database::LocateMySQLClient(db::DriverLink &link) {
    link.VendorLib.clear();
    std::vector<std::pair<std::string, std::vector<std::string>>> folders;
    folders.emplace_back(folders_.ExecutableDir, mySQLNames());
    for (const auto &dir : GetSystemLibraryFolders())
        folders.emplace_back(dir, mySQLNames());
    try {
        link.VendorLib = firstExisting(mySQLNames(), folders);
    } catch (const std::exception &) {
        // nothing found: VendorLib stays empty
    }
}

void TServerMethods1Database::LocateFirebirdClient() {
    FDPhysFBDriverLink1.VendorLib.clear();
    std::vector<std::string> systemNames = firebirdNames();
    systemNames.insert(systemNames.end(), gdsNames().begin(), gdsNames().end());
    std::vector<std::pair<std::string, std::vector<std::string>>> folders;
    folders.emplace_back(folders_.ExecutableDir, firebirdNames());
    for (const auto &dir : GetSystemLibraryFolders())
        folders.emplace_back(dir, systemNames);
    for (const auto &dir : folders_.FirebirdDirs)
        folders.emplace_back(dir, firebirdNames());
    FDPhysFBDriverLink1.VendorLib = firstExisting(firebirdNames(), folders);

    const bool servico = databaseHost_.servico && databaseHost_.servico();
    if (FDPhysFBDriverLink1.VendorLib.empty() && !servico && databaseHost_.ShowMessage)
        databaseHost_.ShowMessage("Arquivo do Firebird fbclient.dll não encontrado.");
}

void TServerMethods1Database::FDConnection1BeforeConnect() {
    LocateFirebirdClient();
    const std::string Base = databaseHost_.Base ? databaseHost_.Base() : std::string();
    if (Base.empty())
        return;
    std::shared_ptr<const TSettings> settings = databaseHost_.Settings ? databaseHost_.Settings() : nullptr;
    const TSettings empty;
    const TSettings &s = settings ? *settings : empty;
    FDConnection1.Params[0] = "Database=" + Base;
    FDConnection1.Params[1] = "User_Name=" + s.Usuario;
    FDConnection1.Params[2] = "password=" + s.Senha;
}

void TServerMethods1Database::FDConnection1AfterConnect() {
    const bool Fiscal = FieldExists("NUMERO", "MDFE");
    if (databaseHost_.SetFiscal)
        databaseHost_.SetFiscal(Fiscal);
}

bool TServerMethods1Database::FieldExists(const std::string &field, const std::string &table) {
    FDQuery2.SQL.clear();
    FDQuery2.SQL.push_back("SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS where RDB$FIELD_NAME='" +
                           quoted(upperAscii(field)) + "'" + " AND RDB$RELATION_NAME=" + "'" +
                           quoted(upperAscii(table)) + "'");
    struct Closer {
        db::Query &q;
        ~Closer() { q.Close(); }
    } closer{FDQuery2};
    FDQuery2.Open();
    const int64_t count = FDQuery2.FieldByName("CT").AsInteger();
    return count > 0;
}

db::RecoverAction TServerMethods1Database::FDConnection1Recover(const db::DbError &) {
    return db::RecoverAction::Retry;
}

db::RecoverAction TServerMethods1Database::MyDatabase1Recover(const db::DbError &) {
    return db::RecoverAction::Retry;
}

void TServerMethods1Database::MyDatabase1AfterCommit() {
    if (inAfterCommit_)
        return; // the second commit below fires this handler again
    inAfterCommit_ = true;
    if (MyDatabase1.InTransaction()) {
        try {
            MyDatabase1.Commit();
        } catch (...) {
        }
    }
    inAfterCommit_ = false;
}

TDatabaseCheck CheckDatabaseLink(TDatabaseHost host) {
    TDatabaseCheck check;
    auto setFiscal = std::move(host.SetFiscal);
    host.SetFiscal = [&check, setFiscal](bool Fiscal) {
        check.Fiscal = Fiscal;
        if (setFiscal)
            setFiscal(Fiscal);
    };
    TServerMethods1Database module(std::move(host));
    try {
        module.FDConnection1.Open();
        check.Connected = true;
    } catch (const std::exception &e) {
        check.Error = e.what();
    }
    check.Database = module.FDConnection1.Params.Value("Database");
    check.VendorLib = module.FDPhysFBDriverLink1.VendorLib;
    module.FDConnection1.Close();
    return check;
}

std::string FormatDatabaseCheck(const TDatabaseCheck &check) {
    std::string out = "Database: " + check.Database + "\n";
    out += "Client library: " + (check.VendorLib.empty() ? std::string("(system default)") : check.VendorLib) + "\n";
    out += check.Connected ? "Connected: yes\n" : "Connected: no: " + check.Error + "\n";
    out += std::string("Fiscal: ") + (check.Fiscal ? "True" : "False") + "\n";
    return out;
}
